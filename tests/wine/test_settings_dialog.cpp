// The real Options dialog, made in-process from its template: every control
// where it belongs, and a record that comes back unchanged from the controls.
#include <string>

#include "scratch_dir.h"
#include "window/status_line.h"
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
        dialog = CreateDialogParamA(instance_handle, MAKEINTRESOURCEA(IDD_SETTINGS), nullptr, modal_dialog_proc,
                                    (LPARAM)&settings_dialog);
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
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDU_SETTINGS_TIMEOUT, UDM_GETPOS32, 0, 0),
              (LRESULT)range_of(&settings_record::sync_timeout_seconds).fallback);
}

// The native tests take many records through the dialog; here one, with no
// field at its default, goes through the real controls.
TEST_F(RealSettingsDialog, ARecordComesBackUnchangedFromTheRealControls) {
    ASSERT_NE(dialog, nullptr);
    settings.server_index = 2;
    settings.server_source = source_manual_b;
    settings.protocol = protocol_time;
    settings.log_level = log_level_all;
    settings.offset_direction = offset_subtract;
    settings.offset_minutes = 99;
    settings.autosync_count = 98;
    settings.autosync_unit = unit_minutes;
    settings.sync_timeout_seconds = 45;
    settings.windows_start_action = windows_start_quiet;
    settings.program_start_action = program_start_correct;
    settings.minutes_seconds_only = 1;
    settings.multi_site_average = 1;
    settings.date_window_enabled = 1;
    settings.on_top = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, "10.0.0.1");
    text_copy(settings.manual_address_b, sizeof settings.manual_address_b, "192.168.200.254");
    SYSTEMTIME start{2021, 2, 0, 27, 23, 59, 58, 0}, end{2030, 12, 0, 31, 0, 0, 1, 0};
    SystemTimeToFileTime(&start, &settings.date_window_start);
    SystemTimeToFileTime(&end, &settings.date_window_end);
    settings_record before = settings;
    show_settings(dialog);
    reset_settings();  // so that a field the dialog leaves out shows
    apply_settings_dialog(dialog);
    for (size_t i = 0; i < sizeof settings; i++)
        ASSERT_EQ(((const unsigned char*)&settings)[i], ((const unsigned char*)&before)[i]) << "byte " << i;
}

}  // namespace
