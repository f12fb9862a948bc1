// What Windows reads from the programs before any of their code runs: the
// manifest's DPI awareness and the icon sizes that each DPI asks for. This
// test carries Pendulark's resources itself; Sumwick's are read from its .exe.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "resources/pendulark_ids.h"
#include "resources/sumwick_ids.h"

namespace {

// The built Sumwick.exe beside this build's programs, for its resources only.
HMODULE sumwick_resources() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length);
    dir.erase(dir.find_last_of('\\') + 1);
    return LoadLibraryExA((dir + "..\\bin\\Sumwick.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

std::string resource_bytes(HMODULE module, const char* name, const char* type) {
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return "";
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
}

// The sizes listed in an icon group: 6 bytes of header, then 14 bytes an
// image, whose first byte is the width (0 for 256).
std::set<int> icon_sizes(HMODULE module, int id) {
    std::string group = resource_bytes(module, MAKEINTRESOURCEA(id), RT_GROUP_ICON);
    std::set<int> sizes;
    for (size_t at = 6; at + 14 <= group.size(); at += 14) {
        int width = static_cast<unsigned char>(group[at]);
        sizes.insert(width ? width : 256);
    }
    return sizes;
}

// The manifests themselves: this Wine treats a program without one as DPI
// aware too, so asking the running process proves nothing. This test program
// carries Pendulark's resources.
TEST(Resources, BothProgramsDeclareDpiAwareness) {
    HMODULE sumwick = sumwick_resources();
    ASSERT_NE(sumwick, nullptr);
    for (HMODULE program : {GetModuleHandleA(nullptr), sumwick}) {
        std::string manifest = resource_bytes(program, MAKEINTRESOURCEA(1), RT_MANIFEST);
        EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos) << manifest;
    }
    std::string pendulark = resource_bytes(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), RT_MANIFEST);
    EXPECT_NE(pendulark.find(">PerMonitorV2, System</dpiAwareness>"), std::string::npos) << pendulark;
    FreeLibrary(sumwick);
}

TEST(Resources, IconsCarryEverySizeFrom16To256) {
    HMODULE sumwick = sumwick_resources();
    ASSERT_NE(sumwick, nullptr);
    const std::set<int> expected = {16, 20, 24, 32, 48, 64, 256};
    const struct {
        HMODULE module;
        int id;
    } icons[] = {{GetModuleHandleA(nullptr), IDI_PENDULARK}, {GetModuleHandleA(nullptr), IDI_NOTICE},
                 {sumwick, IDI_SUMWICK}};
    for (const auto& icon : icons) EXPECT_EQ(icon_sizes(icon.module, icon.id), expected) << "icon " << icon.id;
    FreeLibrary(sumwick);
}

}  // namespace
