#include "store/history_file.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "base/filetime.h"
#include "base/files.h"
#include "base/text.h"
#include "os/win32.h"
#include "store/directories.h"
#include "store/settings_store.h"

// Readers (a viewer, the History window) may look while a row goes in.
static HANDLE open_history(const char* path, DWORD disposition) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A field as CSV has it: quoted when it holds a comma, a quote or a line end.
// A name that a spreadsheet would take for a formula gets the apostrophe that
// makes a cell text, inside quotes.
static void append_field(char (&out)[history_line_size], const char* text) {
    bool formula = text[0] && strchr("=+-@\t\r", text[0]);
    if (!formula && !strpbrk(text, ",\"\r\n")) {
        text_append(out, sizeof out, text);
        return;
    }
    text_append(out, sizeof out, formula ? "\"'" : "\"");
    for (const char* p = text; *p; p++) {
        char one[3] = {*p, (char)(*p == '"' ? '"' : 0), 0};
        text_append(out, sizeof out, one);
    }
    text_append(out, sizeof out, "\"");
}

void format_history_row(const history_row& row, char (&out)[history_line_size]) {
    SYSTEMTIME t;
    FILETIME ft = filetime_from(row.utc);
    if (!FileTimeToSystemTime(&ft, &t)) t = SYSTEMTIME{};
    snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ,", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, t.wMilliseconds);
    append_field(out, row.server);
    text_append(out, sizeof out, ",");
    append_field(out, row.address);
    char rest[128], rate[24] = "";
    // The Time Protocol has no stratum and no measured delay.
    if (row.sntp)
        snprintf(rest, sizeof rest, ",SNTP,%+.6f,%.6f,%u,%d,", row.offset, row.delay, (unsigned)row.stratum,
                 row.corrected ? 1 : 0);
    else
        snprintf(rest, sizeof rest, ",Time,%+.6f,,,%d,", row.offset, row.corrected ? 1 : 0);
    text_append(out, sizeof out, rest);
    text_append(out, sizeof out, !row.corrected ? "" : row.slewed ? "slew" : "step");
    if (row.rate_ppm != 0) snprintf(rate, sizeof rate, "%+.3f", row.rate_ppm);
    text_append(out, sizeof out, ",");
    text_append(out, sizeof out, rate);
    text_append(out, sizeof out, "\r\n");
}

// Whether the open file starts with the header, as every file of ours does.
static bool ours(HANDLE file) {
    char start[sizeof history_header_start - 1];
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return ReadFile(file, start, sizeof start, &got, nullptr) && got == sizeof start &&
           memcmp(start, history_header_start, sizeof start) == 0;
}

// Whether the last byte ends a line: a write cut short leaves one open.
static bool ends_its_line(HANDLE file, DWORD size) {
    char last = '\n';
    DWORD got = 0;
    SetFilePointer(file, (LONG)size - 1, nullptr, FILE_BEGIN);
    return !ReadFile(file, &last, 1, &got, nullptr) || got != 1 || last == '\n';
}

// The file set aside under other_name, and a fresh one begun. When it cannot
// be moved the row still goes into it, and the next row tries again.
static HANDLE begin_anew(HANDLE file, const char* path, const char* other_name) {
    char other[dir_text_size];
    path_in(data_dir, other_name, other);
    CloseHandle(file);
    return open_history(path, MoveFileExA(path, other, MOVEFILE_REPLACE_EXISTING) ? CREATE_ALWAYS : OPEN_ALWAYS);
}

static bool write_history_row(const history_row& row) {
    char path[dir_text_size];
    path_in(data_dir, history_file_name, path);
    HANDLE file = open_history(path, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) size = 0;
    if (size != 0 && !ours(file)) file = begin_anew(file, path, history_damaged_name);
    else if (size > history_rotate_size) file = begin_anew(file, path, history_old_name);
    if (file == INVALID_HANDLE_VALUE) return false;
    size = GetFileSize(file, nullptr);
    char line[history_line_size + 2] = "";
    if (size == 0 || size == INVALID_FILE_SIZE) text_copy(line, sizeof line, history_header);
    else if (!ends_its_line(file, size)) text_copy(line, sizeof line, "\r\n");
    char text[history_line_size];
    format_history_row(row, text);
    text_append(line, sizeof line, text);
    SetFilePointer(file, 0, nullptr, FILE_END);
    bool written = write_all(file, line, strlen(line));
    CloseHandle(file);
    return written;
}

bool append_history(const history_row& row) {
    if (write_history_row(row)) return true;
    tell_save_failure(save_failure_history, history_unsaved_text);
    return false;
}

// The field after the given number of commas, outside quotes.
static const char* field(const char* line, int index) {
    bool quoted = false;
    for (const char* p = line; *p; p++) {
        if (index == 0) return p;
        if (*p == '"') quoted = !quoted;
        else if (*p == ',' && !quoted) index--;
    }
    return index == 0 ? line + strlen(line) : nullptr;
}

bool parse_history_line(const char* line, history_point* out) {
    unsigned year, month, day, hour, minute, second, ms;
    char zone = 0;
    if (sscanf(line, "%4u-%2u-%2uT%2u:%2u:%2u.%3u%c", &year, &month, &day, &hour, &minute, &second, &ms, &zone) != 8 ||
        zone != 'Z')
        return false;
    SYSTEMTIME t{(WORD)year, (WORD)month, 0, (WORD)day, (WORD)hour, (WORD)minute, (WORD)second, (WORD)ms};
    FILETIME ft;
    if (!SystemTimeToFileTime(&t, &ft)) return false;
    const char* offset = field(line, 4);
    const char* corrected = field(line, 7);
    // Older rows end at corrected; newer ones go on with how and the rate.
    if (!offset || !corrected || (corrected[0] != '0' && corrected[0] != '1') ||
        (corrected[1] != 0 && corrected[1] != ','))
        return false;
    char* end;
    double value = strtod(offset, &end);
    if (end == offset || *end != ',') return false;
    *out = {filetime_of(ft), value, corrected[0] == '1'};
    const char* rate = field(line, 9);
    if (rate && *rate) {
        double ppm = strtod(rate, &end);
        if (end != rate && (*end == 0 || *end == ',') && fabs(ppm) <= 1000) out->rate_ppm = ppm;
    }
    return true;
}

// Each line of the file that reads as a row, handed over without its line end.
template <typename F>
static void each_row(const char* name, F take) {
    char path[dir_text_size];
    path_in(data_dir, name, path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD size = GetFileSize(file, nullptr), got = 0;
    std::vector<char> bytes(size == INVALID_FILE_SIZE ? 1 : size + 1);
    if (ReadFile(file, bytes.data(), (DWORD)bytes.size() - 1, &got, nullptr)) {
        // A power cut can leave zeros where rows were going in: a run of them
        // ends a line, and the line it cut is skipped as any cut line is.
        std::replace(bytes.begin(), bytes.begin() + got, '\0', '\n');
        bytes[got] = 0;
        for (char* line = bytes.data(); *line;) {
            char* end = strchr(line, '\n');
            char* next = end ? end + 1 : line + strlen(line);
            if (end) *end = 0;
            if (end && end > line && end[-1] == '\r') end[-1] = 0;
            history_point point;
            if (parse_history_line(line, &point)) take(line, point);
            line = next;
        }
    }
    CloseHandle(file);
}

std::vector<history_point> read_history() {
    std::vector<history_point> points;
    for (const char* name : {history_old_name, history_file_name})
        each_row(name, [&](const char*, const history_point& point) { points.push_back(point); });
    return points;
}

std::vector<char> history_text() {
    std::vector<char> text(history_header, history_header + sizeof history_header - 1);
    for (const char* name : {history_old_name, history_file_name}) {
        each_row(name, [&](const char* line, const history_point&) {
            text.insert(text.end(), line, line + strlen(line));
            text.insert(text.end(), {'\r', '\n'});
        });
    }
    text.push_back(0);
    return text;
}
