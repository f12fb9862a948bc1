#include <string.h>

#include "machine.h"
#include "base/program.h"
#include "window/status_line.h"
#include "resources/pendulark_ids.h"
#include "os/logon_task.h"
#include "os/task_scheduler.h"
#include "base/text.h"
#include "shell/command_line.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/start_at_logon.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

// The header this release writes.
static const char current_header[] = "SYNC1" PROGRAM_RELEASE_DIGITS;
static const std::string run_key = "hkcu\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The text of the first element of that tag in the XML, "?" when there is none.
static std::string element(const std::string& xml, const std::string& tag) {
    size_t at = xml.find("<" + tag), end = xml.find("</" + tag + ">");
    if (at == std::string::npos || end == std::string::npos) return "?";
    at = xml.find('>', at) + 1;
    return xml.substr(at, end - at);
}

class SettingsStore : public Machine {
protected:
    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
    }
    std::string image(const char* header, const settings_record& r, size_t bytes = 500) {
        return std::string(header, 8) + std::string((const char*)&r, bytes);
    }
    settings_record sample() {
        settings_record r{};
        r.server_index = 3;
        r.log_level = 2;
        r.reserved_12 = 0xAABBCCDD;
        r.reserved_164 = 77;
        r.autosync_count = 9;
        r.autosync_unit = 0;
        r.protocol = 1;
        r.sync_timeout_seconds = 20;
        r.time_zone_locked = 1;
        r.date_window_start = {1, 2};
        r.date_window_end = {3, 4};
        r.saved_time_zone.Bias = -480;
        r.force_time_protocol = 1;
        strcpy(r.manual_address_a, "10.1.2.3");
        return r;
    }
};

TEST_F(SettingsStore, MissingFileGivesDefaultsAndWritesNothing) {
    os_test_set_bias(-60);
    load_settings();
    EXPECT_FALSE(exists("dSync.dat"));
    for (const setting_range& r : setting_ranges) EXPECT_EQ(settings.*r.field, r.fallback);
    EXPECT_EQ(settings.minimise_to_tray, 1u);
    EXPECT_EQ(settings.reserved_112, 1u);
    EXPECT_STREQ(settings.manual_address_a, default_address_a);
    EXPECT_STREQ(settings.manual_address_b, default_address_b);
    EXPECT_EQ(settings.saved_time_zone.Bias, -60);
    // The window is taken from local time: one hour ahead of the virtual UTC here.
    SYSTEMTIME local;
    FILETIME now;
    GetLocalTime(&local);
    SystemTimeToFileTime(&local, &now);
    EXPECT_EQ(settings.date_window_start.dwHighDateTime, now.dwHighDateTime - 6119);
    EXPECT_EQ(settings.date_window_end.dwHighDateTime, now.dwHighDateTime + 73426);
    EXPECT_EQ(settings.date_window_start.dwLowDateTime, now.dwLowDateTime);
}

TEST_F(SettingsStore, ReleaseRules) {
    settings_record r = sample();
    struct {
        const char* header;
        bool kept;
        bool time_renewed;
    } cases[] = {
        {"SYNC1150", true, false}, {"SYNC1149", true, false}, {"SYNC1200", true, false},
        {"SYNC1113", true, true},  {"SYNC1112", false, true}, {"SYNC2150", false, true},
        {"SYNC1:::", true, false},  // digits unchecked: 10*100+10*10+10 = 1110
    };
    for (auto& c : cases) {
        write("dSync.dat", image(c.header, r));
        memset(&settings, 0, sizeof settings);
        settings.reserved_12 = 5;
        load_settings();
        EXPECT_EQ(settings.server_index, c.kept ? 3u : 0u) << c.header;
        EXPECT_EQ(settings.reserved_12, c.kept ? 0xAABBCCDDu : 5u) << c.header;
        EXPECT_EQ(settings.time_zone_locked, c.time_renewed ? 0u : 1u) << c.header;
        EXPECT_EQ(settings.date_window_start.dwHighDateTime == 2, !c.time_renewed) << c.header;
    }
}

TEST_F(SettingsStore, ShortAndDamagedFilesAreRepaired) {
    write("dSync.dat", "SYNC");
    load_settings();
    EXPECT_EQ(settings.protocol, protocol_auto);

    settings_record r = sample();
    r.sync_timeout_seconds = 0;
    r.autosync_count = 0;
    r.log_level = 7;
    r.server_index = 0xFFFFFFFF;
    r.protocol = 9;
    memset(r.manual_address_b, '9', sizeof r.manual_address_b);
    write("dSync.dat", image(current_header, r));
    load_settings();
    for (auto field : {&settings_record::sync_timeout_seconds, &settings_record::autosync_count,
                       &settings_record::log_level, &settings_record::protocol})
        EXPECT_EQ(settings.*field, range_of(field).fallback);
    EXPECT_EQ(settings.server_index, 0u);
    EXPECT_EQ(strlen(settings.manual_address_b), 31u);

    // Only the front of the record arrives; the rest keeps what it held.
    memset(&settings, 0, sizeof settings);
    settings.reserved_164 = 99;
    write("dSync.dat", image(current_header, sample(), 100));
    load_settings();
    EXPECT_EQ(settings.server_index, 3u);
    EXPECT_EQ(settings.reserved_164, 99u);
}

TEST_F(SettingsStore, SaveWritesTheWholeImageAndLoadsItBack) {
    load_settings();
    settings.server_index = 2;
    settings.reserved_12 = 42;
    settings.sync_timeout_seconds = 77;
    settings.date_window_end = {0x11223344, 0x55667788};
    settings.time_zone_locked = 1;
    text_copy(settings.manual_address_b, sizeof settings.manual_address_b, "10.9.8.7");
    force_time_protocol = 1;
    sync_aborted = 1;
    save_settings_with_sync_state();
    std::string file = read("dSync.dat");
    ASSERT_EQ(file.size(), settings_file_size);
    EXPECT_EQ(file.substr(0, 8), current_header);
    EXPECT_FALSE(exists("dSync.new"));
    // Read back by the documented offsets, not by the struct it was written from.
    auto word = [&](size_t offset) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; i--) v = v << 8 | (unsigned char)file[8 + offset + i];
        return v;
    };
    EXPECT_EQ(word(0), 2u);
    EXPECT_EQ(word(12), 42u);
    EXPECT_EQ(word(116), protocol_auto);  // the default
    EXPECT_EQ(word(140), 77u);
    EXPECT_EQ(word(144), 0x11223344u);
    EXPECT_EQ(word(148), 0x55667788u);
    EXPECT_EQ(word(348), 1u);
    EXPECT_EQ(word(352), 1u);  // force_time_protocol
    EXPECT_EQ(word(356), 1u);  // sync_aborted
    EXPECT_EQ(file.substr(8 + 56, 9), std::string("10.9.8.7\0", 9));

    memset(&settings, 0, sizeof settings);
    force_time_protocol = 0;
    sync_aborted = 0;
    load_settings();
    take_sync_state_from_settings();
    EXPECT_EQ(settings.reserved_12, 42u);
    EXPECT_EQ(settings.server_index, 2u);
    EXPECT_STREQ(settings.manual_address_b, "10.9.8.7");
    EXPECT_EQ(force_time_protocol, 1u);
    EXPECT_EQ(sync_aborted, 1u);
}

// A save that cannot write keeps the old file whole and says so, once a run,
// on the status line and in the log.
TEST_F(SettingsStore, FailedSaveKeepsTheOldFileAndSaysSoOnce) {
    main_window = (HWND)0x5354;
    load_settings();
    save_settings();
    std::string before = read("dSync.dat");
    // Another program holds the file without sharing: the replacement fails.
    HANDLE held = CreateFileA((std::string(data_dir) + "dSync.dat").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    settings.server_index = 4;
    save_settings();
    EXPECT_EQ(os_test_control_text(main_window, IDT_MAIN_STATUS), settings_unsaved_text);
    save_settings();
    CloseHandle(held);
    EXPECT_EQ(read("dSync.dat"), before);
    EXPECT_FALSE(exists("dSync.new"));
    std::string log = read("dLog.txt");
    EXPECT_NE(log.find(settings_unsaved_text), std::string::npos);
    EXPECT_EQ(log.find(settings_unsaved_text), log.rfind(settings_unsaved_text)) << "told once";
    save_settings();
    EXPECT_EQ(read("dSync.dat").substr(8, 4), std::string("\4\0\0\0", 4));
}

// A file that opens but cannot be read is the user's all the same: defaults
// this run, and neither the file nor the logon task is saved over.
TEST_F(SettingsStore, AReadErrorIsUnreadableNotForeign) {
    os_test_set_program_path(os_test_windows_path(dir + "Pendulark.exe"));
    set_up_directories(0);
    load_settings();
    settings.server_index = 4;
    settings.windows_start_action = windows_start_program;
    save_settings();
    std::string before = read("dSync.dat");
    auto tasks = os_test_tasks();
    ASSERT_EQ(tasks.size(), 1u);
    os_test_fail_reads(dir + "dSync.dat");
    load_settings();
    EXPECT_EQ(settings_unreadable, 1u);
    EXPECT_EQ(settings.server_index, 0u);
    save_settings();
    EXPECT_EQ(read("dSync.dat"), before);
    EXPECT_EQ(os_test_tasks(), tasks);
}

TEST_F(SettingsStore, ResetKeepsReservedWords) {
    settings.reserved_12 = 1;
    settings.reserved_164 = 2;
    settings.reserved_112 = 9;
    settings.sync_aborted = 5;
    reset_settings();
    EXPECT_EQ(settings.reserved_12, 1u);
    EXPECT_EQ(settings.reserved_164, 2u);
    EXPECT_EQ(settings.reserved_112, 1u);
    EXPECT_EQ(settings.sync_aborted, 5u);
}

TEST_F(SettingsStore, DateWindowChangesHighWordsOnly) {
    // A low word near its top: a carry would show in the high word.
    // SYSTEMTIME keeps milliseconds only, so the clock stands on a whole one.
    uint64_t now = (0x01D00000FFFFFFFFull / 10000) * 10000;
    os_test_set_utc(now);
    reset_date_window();
    EXPECT_GT(settings.date_window_start.dwLowDateTime, 0xFFFF0000u);
    EXPECT_EQ(settings.date_window_start.dwLowDateTime, (uint32_t)now);
    EXPECT_EQ(settings.date_window_start.dwHighDateTime, 0x01D00000u - 6119);
    EXPECT_EQ(settings.date_window_end.dwHighDateTime, 0x01D00000u + 73426);
}

// Newer settings ride after the record: an older release's file, or one cut
// or damaged there, loads them at their defaults; what was saved comes back.
TEST_F(SettingsStore, SettingsAfterTheRecordLoadOnlyFromTheirOwnTag) {
    const struct {
        std::string tail;
        uint32_t slew;
    } cases[] = {
        {"", 1},
        {std::string("PLX1\0\0\0\0", 8), 0},
        {std::string("PLX1\x01\0\0\0", 8), 1},
        {std::string("PLX1\0\0", 6), 1},
        {std::string("PLX1\x07\0\0\0", 8), 1},
        {std::string("XXXX\0\0\0\0", 8), 1},
    };
    for (const auto& c : cases) {
        write("dSync.dat", image(current_header, sample()) + c.tail);
        reset_program_state();
        set_up_directories(0);
        load_settings();
        EXPECT_EQ(more_settings.slew_small_corrections, c.slew) << c.tail.size();
        EXPECT_EQ(settings.server_index, 3u);
    }
    more_settings.slew_small_corrections = 0;
    save_settings();
    more_settings.slew_small_corrections = 1;
    load_settings();
    EXPECT_EQ(more_settings.slew_small_corrections, 0u);
}

TEST_F(SettingsStore, AFileHeldByAnotherProgramIsReadOrNeverSavedOver) {
    settings_record r = sample();
    write("dSync.dat", image(current_header, r));
    const std::string path = os_test_windows_path(dir + "dSync.dat");
    // A reader that shares, like a backup, then one that does not.
    for (DWORD share : {(DWORD)FILE_SHARE_READ, (DWORD)0}) {
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        reset_program_state();
        set_up_directories(0);
        load_settings();
        CloseHandle(held);
        EXPECT_EQ(settings_unreadable, share ? 0u : 1u) << share;
        EXPECT_EQ(settings.server_index, share ? 3u : 0u) << share;
        std::string before = read("dSync.dat");
        save_settings();
        std::string saved = image(current_header, r) + std::string("PLX1\x01\0\0\0", 8);
        EXPECT_EQ(read("dSync.dat"), share ? saved : before) << share;
    }
}

// What Windows starts at logon: the module's own path, whatever the file is
// called, quoted, then the switch. A logon task where there is a Task
// Scheduler, replacing an older release's Run value; the Run value on XP or
// when the scheduler refuses.
TEST_F(SettingsStore, StartAtLogonFollowsTheStartAction) {
    std::string program = os_test_windows_path(dir + "Pendulark (1).exe");
    const std::string task = "Pendulark\\At logon of Sim User.1 (SIMULATED)";
    auto started = [](const std::string& xml) { return element(xml, "Command") + "|" + element(xml, "Arguments"); };
    os_test_set_program_path(program);
    set_up_directories(0);
    load_settings();
    for (bool scheduler : {true, false}) {
        SCOPED_TRACE(scheduler ? "task" : "Run value");
        os_test_set_task_scheduler(scheduler);
        for (uint32_t action : {2u, 1u, 0u}) {
            if (scheduler) {
                settings.windows_start_action = windows_start_nothing;  // an older release's value is there
                os_test_set_task_scheduler(false);
                save_settings();
                os_test_set_task_scheduler(true);
            }
            settings.windows_start_action = action;
            save_settings();
            std::string command = action == 0 ? "" : "\"" + program + "\"" + (action == 2 ? " /q" : "");
            std::string quoted = "&quot;" + program + "&quot;";
            bool present;
            std::string value = os_test_registry_value(run_key, "Pendulark.exe", &present);
            EXPECT_EQ(present, !scheduler && action != 0) << action;
            if (present) {
                EXPECT_EQ(value, command + '\0') << "the terminating zero is part of a REG_SZ";
            }
            auto tasks = os_test_tasks();
            EXPECT_EQ(tasks.size(), scheduler && action != 0 ? 1u : 0u) << action;
            if (!tasks.empty()) {
                EXPECT_EQ(started(tasks[task]), quoted + (action == 2 ? "|/q" : "|")) << action;
            }
        }
    }
    // The uninstaller's call: every user's task goes, and this user's Run value.
    settings.windows_start_action = windows_start_program;
    save_settings();  // a Run value: the scheduler is still away
    os_test_set_task_scheduler(true);
    save_settings();
    os_test_add_task("Pendulark\\At logon of another (SIMULATED)");
    remove_start_at_logon();
    EXPECT_TRUE(os_test_tasks().empty());
    bool present;
    os_test_registry_value(run_key, "Pendulark.exe", &present);
    EXPECT_FALSE(present);
}

// Bob of a domain and bob of this PC are two users with a task each, whatever
// letters their names have; an older release's task of this user goes.
TEST_F(SettingsStore, EveryAccountHasItsOwnLogonTask) {
    os_test_set_program_path(os_test_windows_path(dir + "Pendulark.exe"));
    set_up_directories(0);
    load_settings();
    os_test_add_task("Pendulark\\At logon of Sim User.1");
    struct { std::wstring domain, user; } accounts[] = {{L"PC", L"bob"}, {L"DOMAIN", L"bob"}, {L"PC", L"Zo\u00EB"}};
    settings.windows_start_action = windows_start_program;
    for (auto& a : accounts) {
        os_test_set_account(a.domain, a.user);
        save_settings();
    }
    auto tasks = os_test_tasks();
    std::vector<std::string> names;
    for (auto& [name, xml] : tasks) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"Pendulark\\At logon of Zo\u00EB (PC)", "Pendulark\\At logon of bob (DOMAIN)",
                                               "Pendulark\\At logon of bob (PC)"}));
    EXPECT_EQ(element(element(tasks["Pendulark\\At logon of bob (DOMAIN)"], "LogonTrigger"), "UserId"), "DOMAIN\\bob");
    settings.windows_start_action = windows_start_nothing;
    save_settings();
    EXPECT_EQ(os_test_tasks().count("Pendulark\\At logon of Zo\u00EB (PC)"), 0u);
    EXPECT_EQ(os_test_tasks().size(), 2u);
}

// What the scheduler is given: the program for this user only, as this user,
// with the highest rights the user has, at normal priority.
TEST(LogonTask, DefinitionStartsTheProgramForThisUserAtNormalPriority) {
    std::wstring wide = logon_task_xml(L"PC\\b&b", L"\"C:\\R&D <1>\\Pendulark.exe\"", L"/q");
    std::string xml(wide.begin(), wide.end());
    EXPECT_EQ(element(element(xml, "LogonTrigger"), "UserId"), "PC\\b&amp;b");
    std::string principal = element(xml, "Principal");
    EXPECT_EQ(element(principal, "UserId"), "PC\\b&amp;b");
    EXPECT_EQ(element(principal, "LogonType"), "InteractiveToken");
    EXPECT_EQ(element(principal, "RunLevel"), "HighestAvailable");
    EXPECT_EQ(element(xml, "Priority"), "5");
    EXPECT_EQ(element(xml, "Command"), "&quot;C:\\R&amp;D &lt;1&gt;\\Pendulark.exe&quot;");
    EXPECT_EQ(element(xml, "Arguments"), "/q");
    // Every element that opens closes, in order.
    std::vector<std::string> open;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        size_t end = xml.find_first_of(" >", at);
        if (xml[at + 1] == '?') continue;
        if (xml[at + 1] != '/') open.push_back(xml.substr(at + 1, end - at - 1));
        else if (!open.empty() && open.back() == xml.substr(at + 2, end - at - 2)) open.pop_back();
        else ADD_FAILURE() << "unbalanced at " << xml.substr(at, 30);
    }
    EXPECT_TRUE(open.empty());
}

TEST_F(SettingsStore, RunValueLeftAloneWithoutTheProgramPath) {
    os_test_set_task_scheduler(false);
    load_settings();
    settings.windows_start_action = 1;
    save_settings();
    os_test_set_program_path("");
    set_up_directories(0);
    text_copy(data_dir, dir_text_size, os_test_windows_path(dir).c_str());  // the settings stay in the scratch folder
    settings.windows_start_action = 2;
    save_settings();
    bool present;
    EXPECT_EQ(os_test_registry_value(run_key, "Pendulark.exe", &present),
              "\"" + os_test_windows_path(dir + "Pendulark.exe") + "\"" + '\0');
}

TEST_F(SettingsStore, TheLongestRunValueStartsTheQuietRun) {
    os_test_set_task_scheduler(false);
    std::string folder = "\\" + std::string(dir_text_size - 16, 'd') + "\\";
    os_test_set_program_path(folder + "Pendulark.exe");
    set_up_directories(0);
    ASSERT_EQ(strlen(program_path), (size_t)dir_text_size - 1);
    settings.windows_start_action = 2;
    save_settings();
    bool present;
    std::string value = os_test_registry_value(run_key, "Pendulark.exe", &present);
    os_test_set_command_line(value.c_str());
    EXPECT_EQ(command_switch(), switch_quiet);
}
