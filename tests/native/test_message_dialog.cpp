// The message dialog's modes on the simulated window: what each shows, what
// each answers, and the parameters back at their defaults after every closing.
#include "machine.h"
#include "base/program.h"
#include "resources/pendulark_ids.h"
#include "shell/message_dialog.h"

namespace {

HWND const dialog = (HWND)0x3E5;

class MessageDialog : public Machine {
protected:
    bool shown(int control) { return os_test_show_command(GetDlgItem(dialog, control)) == SW_SHOW; }
    bool hidden(int control) { return os_test_show_command(GetDlgItem(dialog, control)) == SW_HIDE; }
    std::string text(int control) { return os_test_control_text(dialog, control); }
    int32_t answer(int mode, int command) {
        msg_mode = mode;
        init_message_dialog(dialog);
        on_message_command(dialog, command);
        return msg_result;
    }
    void expect_defaults() {
        EXPECT_EQ(msg_mode, 0);
        EXPECT_EQ(msg_line1, nullptr);
        EXPECT_EQ(msg_line3, nullptr);
        EXPECT_EQ(msg_line4, nullptr);
        EXPECT_EQ(msg_autoclose_seconds, 0u);
        EXPECT_EQ(msg_topmost, 1u);
    }
};

TEST_F(MessageDialog, ConfirmAnswersContinueOrCancelAndStartsTopmost) {
    msg_line1 = "This will reset all settings to default.";
    msg_line3 = (char*)"Are you sure that you want to do this?";
    EXPECT_EQ(answer(msg_mode_confirm, IDB_MSG_CANCEL), 2);  // Cancel, and Esc
    EXPECT_TRUE(shown(IDB_MSG_CANCEL));
    EXPECT_EQ(text(IDE_MSG_LINE1), "This will reset all settings to default.");
    EXPECT_EQ(text(IDE_MSG_LINE3), "Are you sure that you want to do this?");
    EXPECT_EQ(os_test_window_text(dialog), "Pendulark " PROGRAM_VERSION_TEXT);
    EXPECT_TRUE(os_test_topmost(dialog));
    expect_defaults();
    EXPECT_EQ(answer(msg_mode_confirm, IDB_MSG_OK), 1);  // Continue, and Enter
}

TEST_F(MessageDialog, EveryModeSetsItsButtons) {
    EXPECT_EQ(answer(msg_mode_question, IDB_MSG_THIRD), 3);
    EXPECT_EQ(text(IDB_MSG_OK), "Yes");
    EXPECT_EQ(text(IDB_MSG_THIRD), "No");
    EXPECT_EQ(answer(msg_mode_question, IDB_MSG_CANCEL), 2);

    msg_line1 = "a long text";
    EXPECT_EQ(answer(msg_mode_long_text, IDB_MSG_OK), 1);
    EXPECT_TRUE(hidden(IDE_MSG_LINE1) && hidden(IDE_MSG_LINE4));
    EXPECT_TRUE(shown(IDE_MSG_LONG_TEXT));
    EXPECT_EQ(text(IDE_MSG_LONG_TEXT), "a long text");

    EXPECT_EQ(answer(msg_mode_cancel_only, IDB_MSG_OK), 1);
    EXPECT_EQ(text(IDB_MSG_OK), "Cancel");

    msg_line4 = "Later";
    EXPECT_EQ(answer(msg_mode_custom_button, IDB_MSG_CANCEL), 2);
    EXPECT_EQ(text(IDB_MSG_CANCEL), "Later");
    EXPECT_EQ(text(IDE_MSG_LINE4), "");

    // Any other mode is the plain message, and commands it does not know are ignored.
    msg_mode = 42;
    init_message_dialog(dialog);
    on_message_command(dialog, 1001);
    EXPECT_EQ(msg_mode, 42);
    on_message_command(dialog, IDB_MSG_CANCEL);
    EXPECT_EQ(msg_result, 2);
    expect_defaults();
}

TEST_F(MessageDialog, EntryComesBackCutEvenOnEsc) {
    char entry[msg_entry_size] = "first";
    msg_line3 = entry;
    msg_mode = msg_mode_entry;
    init_message_dialog(dialog);
    EXPECT_TRUE(shown(IDE_MSG_ENTRY));
    EXPECT_TRUE(hidden(IDE_MSG_LINE3));
    EXPECT_EQ(text(IDE_MSG_ENTRY), "first");
    EXPECT_EQ(os_test_focus(), GetDlgItem(dialog, IDE_MSG_ENTRY));
    SetDlgItemTextA(dialog, IDE_MSG_ENTRY, std::string(400, 'e').c_str());
    on_message_command(dialog, IDB_MSG_CANCEL);
    EXPECT_EQ(msg_result, 2);
    EXPECT_EQ(std::string(entry), std::string(299, 'e'));

    msg_line3 = entry;
    EXPECT_EQ(answer(msg_mode_entry_cancel, IDB_MSG_OK), 1);
    EXPECT_TRUE(shown(IDB_MSG_CANCEL));
}

TEST_F(MessageDialog, SearchPostsToItsTargetAndStaysOpen) {
    HWND target = (HWND)0x7A6;
    msg_result = (int32_t)(intptr_t)target;
    msg_mode = msg_mode_search;
    init_message_dialog(dialog);
    EXPECT_EQ(text(IDE_MSG_LINE1), "Search for...");
    EXPECT_EQ(text(IDB_MSG_CANCEL), "Next");
    on_message_command(dialog, IDB_MSG_CANCEL);
    on_message_command(dialog, IDB_MSG_THIRD);
    EXPECT_EQ(os_test_take_posted(target), (std::vector<UINT>{msg_search_next, msg_search_previous}));
    on_message_command(dialog, IDB_MSG_OK);
    EXPECT_EQ(msg_result, 1);
}

TEST_F(MessageDialog, TimersRefreshCloseOnRequestAndCloseByThemselves) {
    msg_line1 = "one";
    msg_mode = msg_mode_progress;
    init_message_dialog(dialog);
    EXPECT_EQ(os_test_timer(dialog, 1), 1000u);
    EXPECT_EQ(text(IDB_MSG_OK), "Cancel");
    msg_line1 = "two";
    on_message_timer(dialog, 1);
    EXPECT_EQ(text(IDE_MSG_LINE1), "two");
    msg_result = msg_close_request;
    on_message_timer(dialog, 1);
    EXPECT_EQ(os_test_timer(dialog, 1), 0u);
    expect_defaults();

    msg_autoclose_seconds = 3;
    msg_topmost = 0;
    init_message_dialog(dialog);
    EXPECT_EQ(os_test_timer(dialog, 2), 3000u);
    on_message_timer(dialog, 3);
    EXPECT_EQ(os_test_focus(), GetDlgItem(dialog, IDB_MSG_OK));
    on_message_timer(dialog, 2);
    EXPECT_EQ(msg_result, 1);
    expect_defaults();
}

}  // namespace
