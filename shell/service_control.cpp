#include "shell/service_control.h"

#include <aclapi.h>
#include <sddl.h>
#include <stdio.h>

#include "base/text.h"
#include "os/win32.h"
#include "shell/service.h"
#include "store/directories.h"
#include "store/sync_log.h"

// Starting and stopping are waited for this long, looked at every tenth of a second.
static const DWORD state_wait_ms = 30000;
static const DWORD state_look_ms = 100;
// A failed service starts again after a minute, each of three times a day.
static const DWORD restart_delay_ms = 60000;
static const DWORD failure_reset_s = 86400;
static const char service_account[] = "NT AUTHORITY\\LocalService";
// The time-zone guard restores a locked zone from the service too.
static const char required_privileges[] = "SeSystemtimePrivilege\0SeTimeZonePrivilege\0";

// The machine's folder: the service (LocalService) writes its log, history and
// list there, administrators change its settings, every other account reads.
// Protected, so that ProgramData's leave for users to add files does not reach in.
static const char machine_folder_security[] =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;LS)(A;OICI;GRGX;;;BU)";

// The install's and removal's lines are written at every log level: they are
// an administrator's rare acts, and a failure's reason has nowhere else to go.
static int failed(const char* what, DWORD error) {
    char why[40];
    snprintf(why, sizeof why, "error %lu", (unsigned long)error);
    write_log(what, why);
    return 1;
}

static bool wait_for_state(SC_HANDLE service, DWORD wanted) {
    SERVICE_STATUS status{};
    for (DWORD waited = 0; waited < state_wait_ms; waited += state_look_ms) {
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == wanted) return true;
        Sleep(state_look_ms);
    }
    return false;
}

static void configure(SC_HANDLE service, DWORD level, void* info, const char* what) {
    if (ChangeServiceConfig2A(service, level, info)) return;
    DWORD error = GetLastError();
    char line[120];
    snprintf(line, sizeof line, "Service installed without its %s: Windows refused it", what);
    failed(line, error);
}

// The optional settings: a refusal is logged and the install goes on.
static void configure_optional(SC_HANDLE service) {
    SERVICE_DESCRIPTIONA description{(char*)service_description};
    configure(service, SERVICE_CONFIG_DESCRIPTION, &description, "description");
    SERVICE_REQUIRED_PRIVILEGES_INFOA privileges{(char*)required_privileges};
    configure(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges, "required privileges");
    SC_ACTION restarts[3] = {{SC_ACTION_RESTART, restart_delay_ms},
                             {SC_ACTION_RESTART, restart_delay_ms},
                             {SC_ACTION_RESTART, restart_delay_ms}};
    SERVICE_FAILURE_ACTIONSA actions{failure_reset_s, nullptr, nullptr, 3, restarts};
    configure(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, "restart after a failure");
}

// A service already there (an upgrade) is given this program and its settings again.
static SC_HANDLE create_or_update(SC_HANDLE manager, const char* command) {
    SC_HANDLE service = CreateServiceA(manager, service_name, service_display_name, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, command,
                                       nullptr, nullptr, nullptr, service_account, "");
    if (service || GetLastError() != ERROR_SERVICE_EXISTS) return service;
    service = OpenServiceA(manager, service_name, SERVICE_ALL_ACCESS);
    if (service && !ChangeServiceConfigA(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                         command, nullptr, nullptr, nullptr, service_account, "",
                                         service_display_name)) {
        CloseServiceHandle(service);
        return nullptr;
    }
    return service;
}

static int install_with(SC_HANDLE manager) {
    char command[dir_text_size + 16] = "\"";
    text_append(command, sizeof command, program_path);
    text_append(command, sizeof command, "\" /service");
    SC_HANDLE service = create_or_update(manager, command);
    if (!service) return failed("Service not installed: Windows refused to register it", GetLastError());
    configure_optional(service);
    int code = 0;
    if (!StartServiceA(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        code = failed("Service installed but not started", GetLastError());
    else if (!wait_for_state(service, SERVICE_RUNNING))
        code = failed("Service installed but it did not start running", GetLastError());
    else
        write_log("Service installed and started");
    CloseServiceHandle(service);
    return code;
}

// Given to the folder and what it holds; a refusal is logged and the install goes on.
static void secure_machine_folder() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(machine_folder_security, SDDL_REVISION_1, &descriptor,
                                                             nullptr) &&
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        error = SetNamedSecurityInfoA(data_dir, SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, dacl, nullptr);
    LocalFree(descriptor);
    if (error != ERROR_SUCCESS)
        failed("Service installed without its folder's own security: Windows refused it", error);
}

int install_service() {
    set_up_directories(1);
    char user_dir[dir_text_size];
    text_copy(user_dir, sizeof user_dir, data_dir);
    machine_dir(data_dir);
    if (!program_path[0]) return failed("Service not installed: the program's own path is unknown", 0);
    secure_machine_folder();
    if (!seed_machine_dir(user_dir, data_dir))
        failed("Service installed without this user's settings: they could not be copied", GetLastError());
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE | SC_MANAGER_CONNECT);
    if (!manager) return failed("Service not installed: only an administrator may install it", GetLastError());
    int code = install_with(manager);
    CloseServiceHandle(manager);
    return code;
}

static int remove_with(SC_HANDLE manager) {
    SC_HANDLE service = OpenServiceA(manager, service_name, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST)
            return failed("Service not removed: Windows refused to open it", GetLastError());
        write_log("Service removed: there was none");
        return 0;
    }
    SERVICE_STATUS status{};
    if (ControlService(service, SERVICE_CONTROL_STOP, &status)) wait_for_state(service, SERVICE_STOPPED);
    int code = 0;
    if (!DeleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
        code = failed("Service not removed: Windows refused to delete it", GetLastError());
    else
        write_log("Service stopped and removed");
    CloseServiceHandle(service);
    return code;
}

int remove_service() {
    set_up_directories(0);
    machine_dir(data_dir);
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return failed("Service not removed: only an administrator may remove it", GetLastError());
    int code = remove_with(manager);
    CloseServiceHandle(manager);
    return code;
}
