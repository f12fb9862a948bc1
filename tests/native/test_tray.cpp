// The tray icon and its menu on the simulated notification area.
#include "machine.h"
#include "base/program.h"
#include "window/status_line.h"
#include "resources/pendulark_ids.h"
#include "shell/main_window.h"
#include "shell/tray.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/sync_worker.h"

namespace {

HWND const window = (HWND)0x4D41;

class Tray : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        main_window = window;
    }
    std::string tip() {
        std::string text;
        os_test_tray_icon(&text);
        return text;
    }
};

TEST_F(Tray, MinimisingHidesToTheTrayWhenTrayIsOn) {
    settings.minimise_to_tray = 0;
    on_minimised(window);
    EXPECT_EQ(in_tray, 0u);
    EXPECT_FALSE(os_test_tray_icon());

    settings.minimise_to_tray = 1;
    on_minimised(window);
    EXPECT_EQ(in_tray, 1u);
    EXPECT_EQ(os_test_show_command(window), SW_HIDE);
    EXPECT_EQ(tip(), "Pendulark " PROGRAM_VERSION_TEXT);

    // Hidden, the clocks are not drawn, but the server clock runs on.
    settings.server_clock = FILETIME{0, 0x01D00000};
    server_clock_tick = GetTickCount();
    server_clock_valid = 1;
    os_test_advance_ms(1000);
    display_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_COMPUTER_CLOCK), "");
    EXPECT_EQ(settings.server_clock.dwLowDateTime, 10000000u);
}

TEST_F(Tray, TheTipShowsTheCountdownAndTheServerAndIsCut) {
    hide_to_tray(window);
    settings.autosync_count = 4;
    settings.time_server_enabled = 1;
    arm_autosync();
    os_test_advance_ms(59000);
    on_tray_callback(window, 0, 0x200);  // the mouse merely moves over it
    EXPECT_EQ(tip(), "3 Hrs 59 Mns until AutoSync\r\nServer Active");
    on_tray_callback(window, 1, 0x200);  // not our icon
    EXPECT_EQ(tip(), "3 Hrs 59 Mns until AutoSync\r\nServer Active");

    notify_tray_icon(window, nullptr, 0, WM_TRAY_CALLBACK, std::string(300, 'x').c_str(), NIM_MODIFY);
    EXPECT_EQ(tip(), std::string(127, 'x'));
}

TEST_F(Tray, DoubleClickRestoresAndRightClickOpensTheMenu) {
    hide_to_tray(window);
    on_tray_callback(window, 0, WM_RBUTTONDOWN);
    EXPECT_EQ(os_test_take_posted(window), std::vector<UINT>{WM_RBUTTONUP});
    on_tray_callback(window, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(in_tray, 0u);
    EXPECT_FALSE(os_test_tray_icon());
    EXPECT_EQ(os_test_show_command(window), SW_RESTORE);
}

TEST_F(Tray, MenuHasResetOnlyWhileAutoSyncIsArmed) {
    show_tray_menu(window);
    std::vector<UINT_PTR> ids;
    EXPECT_EQ(os_test_last_menu(&ids), (std::vector<std::string>{"About", "History", "Help", "-", "Sync Now", "Exit"}));
    EXPECT_EQ(ids, (std::vector<UINT_PTR>{IDB_MAIN_ABOUT, IDM_TRAY_HISTORY, IDM_TRAY_HELP, 0, IDB_MAIN_CORRECT,
                                          IDB_MAIN_CANCEL}));
    arm_autosync();
    show_tray_menu(window);
    EXPECT_EQ(os_test_last_menu(),
              (std::vector<std::string>{"About", "History", "Help", "-", "Reset", "Sync Now", "Exit"}));
}

TEST_F(Tray, WithoutATaskbarTheIconWaitsForIt) {
    os_test_set_taskbar(false);
    hide_to_tray(window);
    EXPECT_FALSE(os_test_tray_icon());
    EXPECT_EQ(defer_tray_icon, 1u);
    os_test_set_taskbar(true);
    on_taskbar_created();
    EXPECT_EQ(tip(), "Pendulark " PROGRAM_VERSION_TEXT);
    EXPECT_EQ(defer_tray_icon, 0u);
    // A "/s" start with the taskbar there already: the icon comes at once.
    on_tray_callback(window, 0, WM_LBUTTONDBLCLK);
    defer_tray_icon = 1;
    hide_to_tray(window);
    EXPECT_TRUE(os_test_tray_icon());
    EXPECT_EQ(defer_tray_icon, 0u);
}

TEST_F(Tray, ExitRemovesTheIconAndSaves) {
    hide_to_tray(window);
    on_main_command(window, IDB_MAIN_CANCEL);
    EXPECT_FALSE(os_test_tray_icon());
    EXPECT_EQ(os_test_quit_code(), 0);
    EXPECT_TRUE(exists("dSync.dat"));
}

}  // namespace
