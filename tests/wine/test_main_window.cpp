// The real main window, created in-process from its template and driven
// through its controls and commands, its messages pumped here.
#include <functional>
#include <string>

#include "loopback_server.h"
#include "scratch_dir.h"
#include "window/status_line.h"
#include "os/win32.h"
#include "resources/pendulark_ids.h"
#include "shell/main_window.h"
#include "store/settings_store.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"

namespace {

class RealMainWindow : public ScratchDir {
protected:
    bool quit = false;

    void SetUp() override {
        ScratchDir::SetUp();
        reset_settings();
        write("ServFile.txt", std::string(server_address) + "\r\n");
        instance_handle = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        register_main_class();
        main_window = CreateDialogParamA(instance_handle, "MAINDIALOG", nullptr, nullptr, 0);
    }
    void TearDown() override {
        stop_sync_worker();
        program_ending = 1;  // the destruction below must not save again
        if (main_window) DestroyWindow(main_window);
        ScratchDir::TearDown();
    }
    // Runs the message loop until done() holds or the ceiling has passed.
    bool pump_until(const std::function<bool()>& done) {
        return wait_until([&] {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) quit = true;
                else if (!IsDialogMessageA(main_window, &message)) DispatchMessageA(&message);
            }
            return done();
        });
    }
    std::string text(int control) {
        char buffer[600] = "";
        GetDlgItemTextA(main_window, control, buffer, sizeof buffer);
        return buffer;
    }
    void command(int id) { SendMessageA(main_window, WM_COMMAND, id, 0); }
    bool initialised() {
        return pump_until([&] { return text(IDT_MAIN_COMPUTER_CLOCK) != "Wait..."; });
    }
};

TEST_F(RealMainWindow, InitialisesChecksAndSavesOnEsc) {
    ASSERT_NE(main_window, nullptr);
    EXPECT_EQ(text(IDT_MAIN_SERVER_CLOCK), "Not Checked Yet");
    ASSERT_TRUE(initialised());
    char name[600];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    EXPECT_EQ(text(IDT_MAIN_COMPUTER), name);
    EXPECT_EQ(text(IDT_MAIN_STATUS), "Ready");

    settings.protocol = 1;
    Server server(false);
    ASSERT_TRUE(server.bound);
    command(IDB_MAIN_CHECK);
    EXPECT_EQ(text(IDB_MAIN_CHECK), "Abort");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main_window, IDB_MAIN_CORRECT)));
    ASSERT_TRUE(pump_until([&] { return text(IDT_MAIN_SERVER) == server_address; }));
    EXPECT_EQ(text(IDB_MAIN_CHECK), "Check");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_window, IDB_MAIN_OPTIONS)));
    // The next display tick draws the server clock: time, line break, date.
    EXPECT_TRUE(pump_until([&] { return text(IDT_MAIN_SERVER_CLOCK).find("\r\n") != std::string::npos; }));

    command(IDCANCEL);
    ASSERT_TRUE(pump_until([&] { return quit; }));
    EXPECT_EQ(read("dSync.dat").size(), settings_file_size);
}

TEST_F(RealMainWindow, AbortPutsTheButtonsBackAndEndsTheWorker) {
    ASSERT_TRUE(initialised());
    settings.protocol = 1;
    settings.sync_timeout_seconds = 60;
    write("ServFile.txt", "127.0.0.78\r\n");  // nobody answers here
    command(IDB_MAIN_CHECK);
    ASSERT_TRUE(pump_until([&] { return sync_step == step_connected; }));
    command(IDB_MAIN_CHECK);
    EXPECT_EQ(text(IDT_MAIN_STATUS), "Aborting...");
    EXPECT_EQ(text(IDB_MAIN_CHECK), "Check");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_window, IDB_MAIN_CORRECT)));
    // The display tick shows "Ready" next, and the sync timer is gone.
    EXPECT_TRUE(pump_until([&] { return text(IDT_MAIN_STATUS) == "Ready"; }));
    EXPECT_EQ(sync_running, 0u);
    // The worker blocked in recv ended: closing its socket woke it.
    EXPECT_TRUE(wait_until(winsock_is_down));
}

}  // namespace
