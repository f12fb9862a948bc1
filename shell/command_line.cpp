#include "shell/command_line.h"

#include <string.h>

#include "base/text.h"
#include "os/win32.h"

// Stands for a space inside quotes while the line is split.
static const char quoted_space = (char)0xFE;

int split_command_argument(const char* line, int n, char* out) {
    int quotes = 0;
    for (const char* p = line; *p; p++) quotes += *p == '"';
    if (quotes % 2) return argument_odd_quotes;

    char work[command_work_size];
    text_copy(work, sizeof work, line);
    bool inside = false;
    for (char* p = work; *p; p++) {
        if (*p == '\t') *p = ' ';
        if (*p == '"') inside = !inside;
        else if (inside && *p == ' ') *p = quoted_space;
    }

    const char* p = work;
    for (int index = 0;; index++) {
        while (*p == ' ') p++;
        if (!*p) {
            out[0] = 0;
            return argument_missing;
        }
        if (index == n) break;
        while (*p && *p != ' ') p++;
    }
    int len = 0;
    for (; *p && *p != ' '; p++) {
        if (*p == '"' || len == argument_text_size - 1) continue;
        out[len++] = *p == quoted_space ? ' ' : *p;
    }
    out[len] = 0;
    return len ? argument_found : argument_empty;
}

int get_command_argument(int n, char* out) {
    return split_command_argument(GetCommandLineA(), n, out);
}

int command_switch() {
    char arg[argument_text_size] = "";
    int found = get_command_argument(1, arg);
    // A Run value of an older release glued the switch to the program's path.
    if (found == argument_missing) found = get_command_argument(0, arg);
    if (found != argument_found) return switch_none;
    text_lower(arg);
    // The uninstaller's: the whole argument, so that no path can end in it.
    if (strcmp(arg, "/unregister") == 0) return switch_unregister;
    if (strcmp(arg, "/service") == 0) return switch_service;
    size_t len = text_length(arg, sizeof arg);
    if (len < 2) return switch_none;
    char tail[3] = {arg[len - 2], arg[len - 1], 0};
    if (tail[0] == '/' && tail[1] == 'q') return switch_quiet;
    if (tail[0] == '/' && tail[1] == 's') return switch_minimised;
    return switch_none;
}

int service_command() {
    char arg[argument_text_size] = "";
    if (get_command_argument(2, arg) == argument_missing) return service_run;
    text_lower(arg);
    if (strcmp(arg, "install") == 0) return service_install;
    if (strcmp(arg, "remove") == 0) return service_remove;
    return service_unknown;
}
