#include "store/start_at_logon.h"

#include "base/program.h"
#include "base/text.h"
#include "os/task_scheduler.h"
#include "os/win32.h"
#include "store/directories.h"
#include "store/settings_store.h"

static const char run_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
static const char run_value[] = PROGRAM_FILE_NAME;
static const char task_folder[] = "Pendulark";
static const char quiet_switch[] = "/q";
// A user name has at most 256 characters.
static const DWORD user_name_size = 257;
static const int task_name_size = user_name_size + 12;

static void delete_run_value() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, run_key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, run_value);
    RegCloseKey(key);
}

static void quoted_program(char (&out)[run_command_size]) {
    text_copy(out, sizeof out, "\"");
    text_append(out, sizeof out, program_path);
    text_append(out, sizeof out, "\"");
}

static bool write_run_value() {
    // Quoted, so that Windows finds the program whatever its path holds, and the
    // switch apart from it, where start-up reads the first argument.
    char command[run_command_size];
    quoted_program(command);
    if (settings.windows_start_action == windows_start_quiet) {
        text_append(command, sizeof command, " ");
        text_append(command, sizeof command, quiet_switch);
    }
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, run_key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    // A REG_SZ's size counts its terminating zero.
    LONG written = RegSetValueExA(key, run_value, 0, REG_SZ, (const BYTE*)command,
                                  (DWORD)text_length(command, sizeof command) + 1);
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

// An older release named the task by GetUserNameA alone; it goes whenever this
// user's task changes, so that Windows never starts two copies.
static void delete_older_task() {
    char name[task_name_size] = "At logon of ";
    DWORD size = user_name_size;
    if (GetUserNameA(name + 12, &size)) delete_scheduled_task(task_folder, name);
}

static bool register_user_task() {
    char command[run_command_size];
    quoted_program(command);
    const char* arguments = settings.windows_start_action == windows_start_quiet ? quiet_switch : "";
    return register_logon_task(task_folder, command, arguments);
}

bool update_start_at_logon() {
    if (settings.windows_start_action == windows_start_nothing) {
        delete_logon_task(task_folder);
        delete_older_task();
        delete_run_value();
        return true;
    }
    // Without the program's path there is nothing true to write; what is there stays.
    if (!program_path[0]) return true;
    // Windows does not start a Run value that asks for elevation: the task is the
    // way there, and an older release's Run value gives way to it. Windows XP,
    // which has no such scheduler, keeps the Run value.
    if (!register_user_task()) return write_run_value();
    delete_older_task();
    delete_run_value();
    return true;
}

void remove_start_at_logon() {
    // This user's by name, where the scheduler cannot list the folder's tasks.
    delete_logon_task(task_folder);
    delete_older_task();
    delete_task_folder(task_folder);
    delete_run_value();
}
