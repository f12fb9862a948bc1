// The Task Scheduler 2.0 COM interfaces, for the Windows build only.
#include "os/task_scheduler.h"

#include "os/logon_task.h"

#include <windows.h>
#include <oleauto.h>
// The scheduler's class and interface ids are defined here, the one user.
#include <initguid.h>
#include <taskschd.h>

#include <string>
#include <vector>

namespace {

std::wstring wide(const char* text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring out((size_t)length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], length);
    out.resize((size_t)length - 1);
    return out;
}

struct account {
    std::wstring domain, user;
};

// The account of this process, from its token: the wide name, which GetUserNameA
// would turn into "?" outside the ANSI code page, and its domain.
bool current_account(account* out) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[512];
    } owner;
    DWORD size = 0;
    wchar_t name[256], domain[256];
    DWORD name_size = 256, domain_size = 256;
    SID_NAME_USE use;
    bool found = GetTokenInformation(token, TokenUser, &owner, sizeof owner, &size) &&
                 LookupAccountSidW(nullptr, owner.user.User.Sid, name, &name_size, domain, &domain_size, &use);
    CloseHandle(token);
    if (found) *out = {domain, name};
    return found;
}

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

// COM for the length of one call, on whatever thread the caller is.
class Scheduler {
  public:
    Scheduler() {
        HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        com_ = SUCCEEDED(started);
        if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    (void**)&service_)))
            return;
        VARIANT empty;
        VariantInit(&empty);
        if (FAILED(service_->Connect(empty, empty, empty, empty))) release(service_);
    }
    ~Scheduler() {
        release(service_);
        if (com_) CoUninitialize();
    }

    ITaskFolder* folder(const std::wstring& path) {
        ITaskFolder* found = nullptr;
        BSTR name = SysAllocString(path.c_str());
        if (service_ && FAILED(service_->GetFolder(name, &found))) found = nullptr;
        SysFreeString(name);
        return found;
    }

    ITaskFolder* folder_made(const std::wstring& path) {
        ITaskFolder* found = folder(path);
        ITaskFolder* root = found ? nullptr : folder(L"\\");
        if (root) {
            BSTR name = SysAllocString(path.c_str());
            VARIANT no_sddl;
            VariantInit(&no_sddl);
            if (FAILED(root->CreateFolder(name, no_sddl, &found))) found = nullptr;
            SysFreeString(name);
            release(root);
        }
        return found;
    }

  private:
    bool com_ = false;
    ITaskService* service_ = nullptr;
};

std::wstring folder_path(const char* folder) { return L"\\" + wide(folder); }

}  // namespace

bool register_logon_task(const char* folder_name, const char* command, const char* arguments) {
    Scheduler scheduler;
    account user;
    ITaskFolder* folder = current_account(&user) ? scheduler.folder_made(folder_path(folder_name)) : nullptr;
    if (!folder) return false;
    BSTR task_name = SysAllocString(logon_task_name(user.domain, user.user).c_str());
    BSTR xml = SysAllocString(
        logon_task_xml(user.domain + L"\\" + user.user, wide(command), wide(arguments)).c_str());
    VARIANT empty;
    VariantInit(&empty);
    IRegisteredTask* task = nullptr;
    HRESULT registered = folder->RegisterTask(task_name, xml, TASK_CREATE_OR_UPDATE, empty, empty,
                                              TASK_LOGON_INTERACTIVE_TOKEN, empty, &task);
    release(task);
    SysFreeString(xml);
    SysFreeString(task_name);
    release(folder);
    return SUCCEEDED(registered);
}

namespace {

bool delete_task(const char* folder_name, const std::wstring& name) {
    Scheduler scheduler;
    ITaskFolder* folder = scheduler.folder(folder_path(folder_name));
    if (!folder) return false;
    BSTR task_name = SysAllocString(name.c_str());
    HRESULT deleted = folder->DeleteTask(task_name, 0);
    SysFreeString(task_name);
    release(folder);
    return SUCCEEDED(deleted);
}

}  // namespace

bool delete_logon_task(const char* folder_name) {
    account user;
    return current_account(&user) && delete_task(folder_name, logon_task_name(user.domain, user.user));
}

bool delete_scheduled_task(const char* folder_name, const char* name) { return delete_task(folder_name, wide(name)); }

bool delete_task_folder(const char* folder_name) {
    Scheduler scheduler;
    ITaskFolder* folder = scheduler.folder(folder_path(folder_name));
    if (!folder) return false;
    IRegisteredTaskCollection* tasks = nullptr;
    LONG count = 0;
    if (SUCCEEDED(folder->GetTasks(TASK_ENUM_HIDDEN, &tasks)) && SUCCEEDED(tasks->get_Count(&count))) {
        // Deleting shortens the collection as we go; the names are taken first.
        std::vector<std::wstring> names;
        for (LONG i = 1; i <= count; i++) {
            VARIANT index;
            VariantInit(&index);
            index.vt = VT_I4;
            index.lVal = i;
            IRegisteredTask* task = nullptr;
            BSTR name = nullptr;
            if (SUCCEEDED(tasks->get_Item(index, &task)) && SUCCEEDED(task->get_Name(&name)))
                names.push_back(name);
            SysFreeString(name);
            release(task);
        }
        for (const std::wstring& each : names) {
            BSTR name = SysAllocString(each.c_str());
            folder->DeleteTask(name, 0);
            SysFreeString(name);
        }
    }
    release(tasks);
    release(folder);
    ITaskFolder* root = scheduler.folder(L"\\");
    BSTR name = SysAllocString(folder_path(folder_name).c_str());
    bool deleted = root && SUCCEEDED(root->DeleteFolder(name, 0));
    SysFreeString(name);
    release(root);
    return deleted;
}
