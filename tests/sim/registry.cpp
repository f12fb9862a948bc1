// The simulated user's and machine's registry, in memory.
#include <string.h>

#include "tests/sim/machine_state.h"
#include "tests/sim/os_test.h"

using namespace sim;

namespace {

std::string key_path(HKEY root, const char* sub) {
    std::string base = root == HKEY_CURRENT_USER ? "hkcu" : root == HKEY_LOCAL_MACHINE ? "hklm" : "";
    if (base.empty()) base = ((Object*)root)->path;
    return lower(base + "\\" + (sub ? sub : ""));
}

}  // namespace

LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD, char*, DWORD, REGSAM, void*, HKEY* result,
                     DWORD*) {
    Object* o = new Object(kKey);
    o->path = key_path(key, sub_key);
    std::lock_guard<std::mutex> g(machine().lock);
    state().registry[o->path];
    *result = o;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD, REGSAM, HKEY* result) {
    std::string path = key_path(key, sub_key);
    std::lock_guard<std::mutex> g(machine().lock);
    if (!state().registry.count(path)) return ERROR_FILE_NOT_FOUND;
    Object* o = new Object(kKey);
    o->path = path;
    *result = o;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD, const BYTE* data, DWORD size) {
    std::lock_guard<std::mutex> g(machine().lock);
    // The data is stored as given, terminator and all when it is counted.
    state().registry[((Object*)key)->path][lower(name)] = std::string((const char*)data, size);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& values = state().registry[((Object*)key)->path];
    auto it = values.find(lower(name));
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_SZ;
    DWORD need = (DWORD)it->second.size() + 1;
    if (data && *size >= need) memcpy(data, it->second.c_str(), need);
    bool fits = !data || *size >= need;
    *size = need;
    return fits ? ERROR_SUCCESS : 234;  // ERROR_MORE_DATA
}

LONG RegDeleteValueA(HKEY key, const char* name) {
    std::lock_guard<std::mutex> g(machine().lock);
    return state().registry[((Object*)key)->path].erase(lower(name)) ? ERROR_SUCCESS
                                                                       : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key) {
    delete (Object*)key;
    return ERROR_SUCCESS;
}

std::string os_test_registry_value(const std::string& key, const std::string& name, bool* exists) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& reg = state().registry;
    auto k = reg.find(lower(key));
    bool found = k != reg.end() && k->second.count(lower(name));
    if (exists) *exists = found;
    return found ? k->second[lower(name)] : "";
}

void os_test_set_machine_value(const std::string& key, const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> g(machine().lock);
    auto& values = state().registry[lower("hklm\\" + key)];
    if (!name.empty()) values[lower(name)] = value;
}
