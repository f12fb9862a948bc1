// The sync log "dLog.txt": one stamped line per event, rotated past 1,000,000 bytes.
#pragma once
#include <stdint.h>

#include "base/program.h"

constexpr char log_file_name[] = "dLog.txt";

// The two lines a log starts with.
constexpr char log_header[] = "Pendulark v" PROGRAM_VERSION_TEXT " Log\r\n \r\n";
// Every entry starts with its time and long date, each padded or cut to its
// field, and " : ", so that the texts stand in one column.
constexpr int log_time_width = 9;
constexpr int log_date_width = 35;
constexpr int log_stamp_width = log_time_width + log_date_width + 3;

constexpr uint32_t log_rotate_size = 1000000;
// A log that cannot be rotated stops growing here: later lines are dropped.
constexpr uint32_t log_size_limit = 4000000;

// Appends one line, the text followed by " (why)" when why is given; false
// when it could not be written. Callers decide by log_level whether to call.
bool write_log(const char* text, const char* why = "");
// The text followed by current_server_name, then as write_log.
bool write_log_with_server(const char* text, const char* why = "");
