#include "shell/about_window.h"

#include <stdlib.h>
#include <string.h>

#include "sync/clock_discipline.h"
#include "window/modal_dialog.h"
#include "base/program.h"
#include "base/registry.h"
#include "window/status_line.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/main_window.h"
#include "shell/service_pipe.h"
#include "sync/sync_controller.h"
#include "store/directories.h"

uint32_t about_open;

static const char version_key[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

static void append_line(char (&out)[diagnostics_text_size], const char* label, const char* value) {
    if (!value[0]) return;
    text_append(out, sizeof out, label);
    text_append(out, sizeof out, value);
    text_append(out, sizeof out, "\r\n");
}

// Wine keeps its own settings under this key; Windows has none.
static bool under_wine() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Wine", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Windows 11 still calls itself Windows 10 in the registry; its build tells.
static void name_windows_11(char (&product)[128], const char* build) {
    static const char ten[] = "Windows 10";
    const size_t length = sizeof ten - 1;
    bool named_ten = strncmp(product, ten, length) == 0 && (product[length] == 0 || product[length] == ' ');
    if (named_ten && strtoul(build, nullptr, 10) >= 22000) product[length - 1] = '1';
}

void describe_system(char (&out)[diagnostics_text_size]) {
    char product[128] = "", edition[128] = "", release[128] = "", build[128] = "";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, version_key, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        read_registry_text(key, "ProductName", product);
        read_registry_text(key, "EditionID", edition);
        if (!read_registry_text(key, "DisplayVersion", release)) read_registry_text(key, "CSDVersion", release);
        read_registry_text(key, "CurrentBuildNumber", build);
        RegCloseKey(key);
    }
    name_windows_11(product, build);
    out[0] = 0;
    append_line(out, "System: ", product[0] ? product : "Windows (name not recorded)");
    append_line(out, "Edition: ", edition);
    append_line(out, "Version: ", release);
    append_line(out, "Build: ", build);
    if (under_wine()) append_line(out, "Running under: ", "Wine");
}

void init_about_window(HWND dialog) {
    SetDlgItemTextA(dialog, IDT_ABOUT_TITLE, "Pendulark " PROGRAM_VERSION_TEXT);
    char folders[2 * 600 + 40] = "Program folder: ";
    text_append(folders, sizeof folders, program_dir);
    text_append(folders, sizeof folders, "\r\nData folder: ");
    text_append(folders, sizeof folders, data_dir);
    SetDlgItemTextA(dialog, IDT_ABOUT_FOLDERS, folders);
    char text[diagnostics_text_size] = "Pendulark " PROGRAM_VERSION_TEXT "\r\n";
    char system[diagnostics_text_size];
    describe_system(system);
    text_append(text, sizeof text, system);
    char listening[listening_text_size];
    char answer[last_answer_text_size];
    pipe_reply reply;
    // Beside the service, its server and its answers are the ones that keep the time.
    if (beside_service && ask_service(request_status, reply)) {
        text_copy(listening, sizeof listening, reply.listening);
        text_copy(answer, sizeof answer, reply.last_answer);
    } else {
        describe_listening(listening);
        describe_last_answer(answer);
    }
    append_line(text, "Time server: ", listening);
    append_line(text, "Last answer: ", answer);
    char rate[discipline_text_size];
    describe_discipline(rate);
    append_line(text, "Clock rate: ", rate);
    text_append(text, sizeof text, folders);
    SetDlgItemTextA(dialog, IDE_ABOUT_DIAGNOSTICS, text);
}

static void on_about_command(HWND dialog, int command) {
    if (command == IDOK || command == IDCANCEL) end_modal_dialog(dialog);
}

void show_about_window(HWND owner) {
    if (about_open) return;
    about_open = 1;
    static const modal_dialog window = {IDD_ABOUT, init_about_window, on_about_command, nullptr, nullptr};
    run_modal_dialog(owner, window);
    about_open = 0;
}
