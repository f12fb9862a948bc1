// Privileges of the process's token, which Windows holds disabled until asked.
#pragma once
#include "os/win32.h"

// Enables the named privilege ("SeSystemtimePrivilege"); false when the
// account does not hold it or the token could not be changed.
bool enable_privilege(const char* name);

constexpr int refusal_text_size = 32;
// Why Windows refused a change that takes a privilege, for the log:
// "privilege not held", or the error's number.
void refusal_text(DWORD error, char (&out)[refusal_text_size]);
