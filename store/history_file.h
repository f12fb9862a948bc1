// The clock's history "dHistory.csv": one row for every answer the program
// used, for a spreadsheet and for the History window. Written whatever the log
// level, rotated to "dHistoryOld.csv" past 1,000,000 bytes.
#pragma once
#include <stdint.h>

#include <vector>

constexpr char history_file_name[] = "dHistory.csv";
constexpr char history_old_name[] = "dHistoryOld.csv";
// A file that does not start with the header is set aside under this name.
constexpr char history_damaged_name[] = "dHistoryDamaged.csv";
// Rows gained their last two columns later: a file begun under the shorter
// header keeps it, and is ours all the same.
constexpr char history_header[] = "time,server,address,protocol,offset,delay,stratum,corrected,how,rate_ppm\r\n";
constexpr char history_header_start[] = "time,server,address,protocol,offset,delay,stratum,corrected";
constexpr uint32_t history_rotate_size = 1000000;

struct history_row {
    uint64_t utc = 0;  // FILETIME of the answer
    const char* server = "";
    const char* address = "";
    bool sntp = false;
    double offset = 0;  // seconds, the server ahead of this clock
    double delay = 0;   // seconds, SNTP's round trip
    uint32_t stratum = 0;
    bool corrected = false;
    bool slewed = false;    // a correction by slew rather than step
    double rate_ppm = 0;    // the correction of the clock's rate in force, 0 for none
};

// One row, in one write: a line left cut by an earlier crash never runs into it.
// False when it could not be written; the first lost row of a run is told.
bool append_history(const history_row& row);
constexpr const char* history_unsaved_text = "dHistory.csv could not be written: a row of the history is lost";
// "2026-12-09T03:33:07.123Z,server,address,SNTP,+0.012345,0.000812,2,1,slew,-40.125\r\n"
constexpr int history_line_size = 640;
void format_history_row(const history_row& row, char (&out)[history_line_size]);

// What the History window draws of a row.
struct history_point {
    uint64_t utc;
    double offset;
    bool corrected;
    double rate_ppm = 0;
};
// The rows of both files, oldest first; lines that do not read as rows are skipped.
std::vector<history_point> read_history();
// The header and the rows of both files as one text, for the clipboard.
std::vector<char> history_text();
// Reads one line without its line end; false when it is no row.
bool parse_history_line(const char* line, history_point* out);
