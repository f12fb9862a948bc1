// The real Options dialog, made in-process from its template: every control
// where it belongs, and records that come back unchanged from the controls.
#include <string>

#include "scratch_dir.h"
#include "base/status_line.h"
#include "dialogs/settings_dialog.h"
#include "os/win32.h"
#include "resources/pendulark_ids.h"
#include "store/settings_store.h"

namespace {

class RealSettingsDialog : public ScratchDir {
protected:
    HWND dialog = nullptr;
    void SetUp() override {
        ScratchDir::SetUp();
        reset_settings();
        write("ServFile.txt", "a.example\r\nb.example\r\nc.example\r\n");
        instance_handle = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_DATE_CLASSES | ICC_INTERNET_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        dialog = CreateDialogParamA(instance_handle, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, settings_dialog_proc, 0);
    }
    void TearDown() override {
        if (dialog) DestroyWindow(dialog);
        ScratchDir::TearDown();
    }
    std::string class_of(int control) {
        char name[64] = "";
        GetClassNameA(GetDlgItem(dialog, control), name, sizeof name);
        return name;
    }
};

TEST_F(RealSettingsDialog, EveryControlIsThereWithItsClass) {
    ASSERT_NE(dialog, nullptr);
    struct { int id; const char* cls; } controls[] = {
        {IDR_SETTINGS_LIST, "Button"}, {IDL_SETTINGS_SERVERS, "ComboBox"}, {IDE_SETTINGS_ADDRESS_A, "SysIPAddress32"},
        {IDE_SETTINGS_DATE_START, "SysDateTimePick32"}, {IDU_SETTINGS_OFFSET, "msctls_updown32"},
        {IDE_SETTINGS_TIMEOUT, "Edit"}, {IDX_SETTINGS_SERVER, "Button"}, {IDOK, "Button"}, {IDB_SETTINGS_RESET, "Button"},
    };
    for (auto& c : controls) EXPECT_STREQ(class_of(c.id).c_str(), c.cls) << c.id;
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDL_SETTINGS_SERVERS, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDL_SETTINGS_LOG, CB_GETCOUNT, 0, 0), 4);
    // The up-down control shows its value in its buddy.
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDU_SETTINGS_TIMEOUT, UDM_GETPOS32, 0, 0), 15);
}

TEST_F(RealSettingsDialog, RecordsComeBackUnchanged) {
    ASSERT_NE(dialog, nullptr);
    for (uint32_t variant = 0; variant < 3; variant++) {
        reset_settings();
        settings.server_index = variant;
        settings.server_source = variant;
        settings.protocol = variant;
        settings.log_level = variant + 1;
        settings.offset_direction = variant % 2;
        settings.offset_minutes = 10 * variant + 3;
        settings.autosync_count = 99 - variant;
        settings.autosync_unit = 2 - variant;
        settings.sync_timeout_seconds = 5 + 40 * variant;
        settings.windows_start_action = variant;
        settings.program_start_action = 2 - variant;
        settings.minutes_seconds_only = variant == 1;
        settings.multi_site_average = variant == 2;
        settings.date_window_enabled = variant != 1;
        settings.on_top = variant == 0;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "10.0.0.1");
        text_copy(settings.manual_address_b, sizeof settings.manual_address_b, variant ? "192.168.200.254" : "1.2.3.4");
        SYSTEMTIME start{(WORD)(2020 + variant), 2, 0, (WORD)(28 - variant), 23, 59, 58, 0}, end{2030, 12, 0, 31, 0, 0, 1, 0};
        SystemTimeToFileTime(&start, &settings.date_window_start);
        SystemTimeToFileTime(&end, &settings.date_window_end);
        settings_record before = settings;
        show_settings(dialog);
        apply_settings_dialog(dialog);
        for (size_t i = 0; i < sizeof settings; i++)
            ASSERT_EQ(((const unsigned char*)&settings)[i], ((const unsigned char*)&before)[i])
                << "variant " << variant << ", byte " << i;
    }
}

}  // namespace
