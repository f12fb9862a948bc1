// Privileges of the process's token, which Windows holds disabled until asked.
#pragma once
#include "os/win32.h"

// Enables the named privilege ("SeSystemtimePrivilege"): 0 when adjusted, 1 otherwise.
int enable_privilege(const char* name);
