// The server list "ServFile.txt": one host name or address per line, edited by the user.
#pragma once
#include <stdint.h>

#include "os/win32.h"

// 1 when the default list could not be made or the last filling found no entry.
extern uint32_t server_list_unavailable;

// data_dir + name into out (600 bytes) when that file opens, else program_dir + name.
void resolve_data_file(char* out, const char* name);
// Writes the default list where the list is looked for, unless a list is there.
void ensure_server_list();
// n = 0: every entry into the server list of the dialog; n >= 1: entry n into
// current_server_name. 1 when there is an entry and, for n >= 1, entry n was found.
uint32_t read_server_list(HWND dialog, uint32_t n);
// Refills the dialog's server list and selects entry server_index.
void refresh_server_choices(HWND dialog);
