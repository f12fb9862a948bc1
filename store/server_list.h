// The server list "ServFile.txt": one host name or address per line, edited by the user.
#pragma once
#define SERVER_LIST_NAME "ServFile.txt"
#include <stdint.h>

#include <mutex>

#include "os/win32.h"

constexpr int server_name_size = 600;

// The server being asked: filled from the list, shown in status texts and
// appended to log lines. It crosses threads, so it is read and written under
// server_name_lock, or through the two helpers below.
extern std::mutex server_name_lock;
extern char current_server_name[server_name_size];
void set_current_server_name(const char* name);
// The time server's report takes the name only while no sync cycle runs,
// checked under the lock that a starting cycle takes; whether it did.
bool set_server_name_if_idle(const char* name);
void copy_current_server_name(char (&out)[server_name_size]);

// 1 when the default list could not be made or the last filling found no entry.
extern uint32_t server_list_unavailable;
// The source a sync uses: while the list has no entry, manual address A stands
// in for it; the user's own choice is kept for when the list is mended.
uint32_t effective_server_source();

// data_dir + name into out (600 bytes) when that file opens, else program_dir + name.
void resolve_data_file(char* out, const char* name);
// Writes the default list where the list is looked for, unless a list is there.
void ensure_server_list();
// Entry n (from 1) into current_server_name; 1 when it was found.
uint32_t read_server_list(uint32_t n);
// Every entry in file order to take, for whoever shows them; 1 when there was
// one. Sets server_list_unavailable by the answer.
using server_entry_taker = void (*)(const char* entry, void* context);
uint32_t list_server_entries(server_entry_taker take, void* context);
