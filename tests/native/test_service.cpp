// The service on the simulated machine: its control handler, its start, stop,
// power and clock events, the pipe's messages, the window beside it, and the
// machine's folder that an install fills.
#include <string.h>

#include "cycle_ticks.h"
#include "loopback_server.h"
#include "machine.h"
#include "replies.h"
#include "base/text.h"
#include "resources/pendulark_ids.h"
#include "server/time_server.h"
#include "shell/about_window.h"
#include "shell/main_window.h"
#include "shell/service.h"
#include "shell/service_pipe.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "store/sync_log.h"
#include "sync/autosync.h"
#include "sync/clock_correction.h"
#include "sync/clock_discipline.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"
#include "tests/wait_until.h"
#include "window/status_line.h"

namespace {

HWND const window = (HWND)0x5345;
constexpr uint32_t hour_ms = 3600000;

template <typename T>
std::string bytes_of(const T& value) {
    return std::string((const char*)&value, sizeof value);
}

pipe_reply reply_saying(uint32_t kind, const char* status, uint32_t accepted = 1) {
    pipe_reply reply{pipe_magic, kind, accepted, "", "TCP 0.0.0.0:37", "time.example.org, stratum 2"};
    text_copy(reply.status, sizeof reply.status, status);
    return reply;
}

// The service's engine with its data in the machine's folder, asking a Time
// Protocol server of the test's own at manual address A.
class Service : public Machine {
protected:
    std::string server = own_loopback_address();
    std::string machine;  // host path of the machine's folder

    void SetUp() override {
        Machine::SetUp();
        std::filesystem::create_directory(dir + "common");
        os_test_set_common_appdata(os_test_windows_path(dir + "common"));
        set_up_directories(0);
        machine_dir(data_dir);
        machine = dir + "common/Brenlo/Pendulark/";
        reset_settings();
        settings.server_source = source_manual_a;
        settings.protocol = protocol_time;
        settings.log_level = log_level_errors;
        text_copy(settings.manual_address_a, sizeof settings.manual_address_a, server.c_str());
        main_window = window;
    }
    void TearDown() override {
        stop_sync_worker();
        stop_time_server();
        Machine::TearDown();
    }
    std::string machine_file(const std::string& name) { return read("common/Brenlo/Pendulark/" + name); }
    std::unique_ptr<LoopbackServer> answering(uint32_t ahead_s) {
        uint32_t then = filetime_to_protocol_seconds(os_test_utc()) + ahead_s;
        return std::make_unique<LoopbackServer>(true, server, time_answer(then));
    }
    void finish_cycle() { tick_until_the_cycle_ends(window); }
    uint32_t next_wait() { return os_test_timer(window, TIMER_AUTOSYNC); }
};

TEST_F(Service, ControlsBecomeMessagesToItsWindow) {
    const DWORD pause = 2;
    struct {
        DWORD control, event, result;
        std::vector<UINT> posted;
        DWORD state;  // reported, 0 for none
    } cases[] = {
        {SERVICE_CONTROL_STOP, 0, NO_ERROR, {WM_SERVICE_STOP}, SERVICE_STOP_PENDING},
        {SERVICE_CONTROL_SHUTDOWN, 0, NO_ERROR, {WM_SERVICE_STOP}, SERVICE_STOP_PENDING},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC, NO_ERROR, {WM_POWERBROADCAST}, 0},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND, NO_ERROR, {WM_POWERBROADCAST}, 0},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND, NO_ERROR, {}, 0},
        {SERVICE_CONTROL_TIMECHANGE, 0, NO_ERROR, {WM_TIMECHANGE}, 0},
        {SERVICE_CONTROL_INTERROGATE, 0, NO_ERROR, {}, 0},
        {pause, 0, ERROR_CALL_NOT_IMPLEMENTED, {}, 0},
    };
    for (auto& c : cases) {
        size_t reported = os_test_service_states().size();
        EXPECT_EQ(service_control(c.control, c.event, nullptr, nullptr), c.result) << c.control;
        EXPECT_EQ(os_test_take_posted(window), c.posted) << c.control << " " << c.event;
        std::vector<DWORD> states = os_test_service_states();
        EXPECT_EQ(states.size(), reported + (c.state ? 1 : 0)) << c.control;
        if (c.state) EXPECT_EQ(states.back(), c.state);
    }
    // Controls are taken only while it runs; a pending state counts its steps.
    report_service_state(SERVICE_START_PENDING);
    SERVICE_STATUS pending = os_test_last_service_status();
    EXPECT_EQ(pending.dwControlsAccepted, 0u);
    EXPECT_GT(pending.dwWaitHint, 0u);
    report_service_state(SERVICE_RUNNING);
    EXPECT_EQ(os_test_last_service_status().dwControlsAccepted, (DWORD)(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                                                         SERVICE_ACCEPT_POWEREVENT |
                                                                         SERVICE_ACCEPT_TIMECHANGE));
    report_service_state(SERVICE_START_PENDING);
    EXPECT_GT(os_test_last_service_status().dwCheckPoint, pending.dwCheckPoint);
}

// The window and the service's window share what drives the engine; the rest
// is each one's own.
TEST_F(Service, BothWindowsTakeTheEnginesMessagesAlike) {
    struct {
        UINT message;
        WPARAM wparam;
        bool taken;
        LRESULT result;
    } cases[] = {
        {WM_TIMER, TIMER_AUTOSYNC, true, 0},      {WM_TIMER, TIMER_DISPLAY, false, 0},
        {WM_TIMER, TIMER_INIT, false, 0},         {WM_POWERBROADCAST, PBT_APMSUSPEND, true, TRUE},
        {WM_TIMECHANGE, 0, true, 0},              {WM_STATUS_POSTED, 0, true, 0},
        {WM_COMMAND, IDB_MAIN_CORRECT, false, 0}, {WM_SERVICE_STOP, 0, false, 0},
    };
    for (auto& c : cases) {
        LRESULT result = -1;
        EXPECT_EQ(take_engine_message(window, c.message, c.wparam, &result), c.taken) << c.message;
        if (c.taken) EXPECT_EQ(result, c.result) << c.message;
    }
    EXPECT_EQ(sync_running, 0u);
}

using ThreadedService = Service;

// The boot's sync is the run at logon's: one server's word does not step far.
TEST_F(ThreadedService, ItsStartCorrectsButNotFarOnOneServersWord) {
    {
        auto far = answering(3600);
        start_service_engine(window);
        EXPECT_EQ(os_test_timer(window, TIMER_DISPLAY), 500u);
        ASSERT_EQ(sync_running, 1u);
        EXPECT_EQ(correct_mode, 1u);
        EXPECT_EQ(cycle_slews, 0u) << "the boot's first sync steps";
        finish_cycle();
    }
    EXPECT_EQ(os_test_set_time_calls(), 0);
    auto near = answering(30);
    start_service_engine(window);
    finish_cycle();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    // Both answers are the machine's, not the user's.
    std::string history = machine_file("dHistory.csv");
    EXPECT_EQ(std::count(history.begin(), history.end(), '\n'), 3) << history;  // the heading and two rows
    EXPECT_FALSE(exists("dHistory.csv"));
    EXPECT_NE(machine_file("dLog.txt").find(" : Service started\r\n"), std::string::npos);
}

// With AutoSync the boot is a resume: a network not up yet is waited for.
TEST_F(ThreadedService, WithAutoSyncItsStartWaitsForTheNetworkThenKeepsThePeriod) {
    settings.autosync_enabled = 1;
    settings.autosync_count = 1;
    settings.autosync_unit = unit_hours;
    os_test_network_down_for(4000);
    start_service_engine(window);
    ASSERT_EQ(sync_running, 1u);
    finish_cycle();
    EXPECT_EQ(next_wait(), 5000u);
    auto up = answering(30);
    os_test_advance_ms(next_wait());
    autosync_tick(window);
    finish_cycle();
    EXPECT_EQ(os_test_set_time_calls(), 1);
    EXPECT_EQ(next_wait(), hour_ms);
    // The control manager says that it runs: it is itself, nobody's face.
    os_test_set_registered_service(SERVICE_RUNNING);
    for (int i = 0; i < 40; i++) service_tick(window);
    EXPECT_EQ(beside_service, 0u);
    EXPECT_EQ(next_wait(), hour_ms);

    // A slew under way when the service stops: Windows keeps the rate again.
    double moved;
    discipline_answer(0.1, 0.001);
    ASSERT_TRUE(slew_clock(&moved));
    stop_service_engine();
    EXPECT_TRUE(os_test_adjustment_disabled());
    EXPECT_EQ(os_test_quit_code(), 0);
    EXPECT_NE(machine_file("dLog.txt").find(" : Service stopped\r\n"), std::string::npos);
}

// Options saves beside the running service; it takes the file between cycles.
TEST_F(ThreadedService, SavedSettingsAreTakenBetweenCycles) {
    start_service_engine(window);  // nobody listens: refused at once
    settings.autosync_enabled = 1;
    settings.autosync_count = 2;
    save_settings();
    settings.autosync_enabled = 0;
    for (int tick = 0; tick < 8; tick++) service_tick(window);
    EXPECT_EQ(autosync_armed, 0u) << "not under a running cycle";
    finish_cycle();
    for (int tick = 0; tick < 3; tick++) service_tick(window);
    EXPECT_EQ(autosync_armed, 0u) << "it looks every two seconds";
    service_tick(window);
    EXPECT_EQ(autosync_armed, 1u);
    EXPECT_EQ(next_wait(), 2 * hour_ms);
    EXPECT_NE(machine_file("dLog.txt").find("settings taken anew"), std::string::npos);
}

TEST_F(ThreadedService, PipeRequestsAreAnsweredByItsWindow) {
    SetDlgItemTextA(window, IDT_MAIN_STATUS, "59 Mns until AutoSync");
    pipe_reply reply;
    answer_pipe_request(window, {pipe_magic, request_status}, reply);
    pipe_reply expected{pipe_magic, request_status, 1, "59 Mns until AutoSync", "off", ""};
    char answer[last_answer_text_size];
    describe_last_answer(answer);
    text_copy(expected.last_answer, sizeof expected.last_answer, answer);
    EXPECT_EQ(bytes_of(reply), bytes_of(expected));
    answer_pipe_request(window, {pipe_magic, request_correct}, reply);
    EXPECT_EQ(reply.accepted, 1u);
    EXPECT_EQ(sync_running, 1u);
    EXPECT_EQ(correct_mode, 1u);
    EXPECT_EQ(cycle_unattended, 1u) << "a far step waits for a second server";
    answer_pipe_request(window, {pipe_magic, request_correct}, reply);
    EXPECT_EQ(reply.accepted, 0u) << "one cycle at a time";
    finish_cycle();
}

// The window beside a running service shows its state and has it correct.
TEST_F(ThreadedService, BesideItTheWindowIsItsFace) {
    std::vector<uint32_t> asked;
    std::string answer = bytes_of(reply_saying(request_status, "2 Hrs until AutoSync"));
    os_test_set_pipe_server([&](const std::string& name, const std::string& request) {
        pipe_request r;
        if (name != service_pipe_name || !parse_pipe_request(request.data(), request.size(), r)) return std::string();
        asked.push_back(r.kind);
        pipe_reply reply = reply_saying(r.kind, "2 Hrs until AutoSync");
        return r.kind == request_status ? answer : bytes_of(reply);
    });
    os_test_set_registered_service(SERVICE_RUNNING);
    beside_service = 1;
    time_server_elsewhere = 1;
    // The service's rate in force and its file are the service's own.
    discipline_elsewhere = 1;
    const std::string rate_line = "rate +40.0000 ppm sure 0.1000 ppm left 1\r\n";
    write("common/Brenlo/Pendulark/dRate.txt", rate_line);
    os_test_set_adjustment(1 / 1.00004, false);
    start_discipline();
    settings.program_start_action = program_start_correct;
    settings.autosync_enabled = 1;
    settings.time_server_enabled = 1;
    init_main_dialog(window);
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(next_wait(), 0u);
    start_time_server();  // as Options would
    EXPECT_EQ(time_server_running, 0u);
    display_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), "The service keeps the time: 2 Hrs until AutoSync");
    EXPECT_EQ(os_test_adjustment_calls(), 0);
    EXPECT_EQ(machine_file("dRate.txt"), rate_line);

    HWND const about = (HWND)0xAB;
    init_about_window(about);
    std::string diagnostics = os_test_control_text(about, IDE_ABOUT_DIAGNOSTICS);
    EXPECT_NE(diagnostics.find("Time server: TCP 0.0.0.0:37\r\nLast answer: time.example.org, stratum 2\r\n"
                               "Clock rate: kept by the Pendulark service\r\n"),
              std::string::npos)
        << diagnostics;

    on_main_command(window, IDB_MAIN_CORRECT);
    EXPECT_EQ(asked.back(), (uint32_t)request_correct);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), "The service corrects the clock...");
    EXPECT_EQ(sync_running, 0u);
    EXPECT_EQ(os_test_set_time_calls(), 0);

    // What is no reply of the service's is shown as none.
    pipe_reply unended = reply_saying(request_status, "");
    memset(unended.status, 'x', sizeof unended.status);
    std::string good = bytes_of(reply_saying(request_status, "Ready"));
    for (const std::string& garbage : {std::string(), good.substr(0, good.size() - 1), good + "x",
                                       bytes_of(reply_saying(request_correct, "Ready")), bytes_of(unended)}) {
        answer = garbage;
        display_tick(window);
        EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), "The Pendulark service does not answer")
            << garbage.size();
    }

    // Its settings are the administrator's: a save that fails says who may.
    std::filesystem::create_directory(machine + "dSync.new");
    save_settings();
    on_main_command(window, IDB_MAIN_OPTIONS);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), "Only an administrator can change the service's settings");
    // Its exit leaves the file as Options last saved it, from another window maybe.
    std::filesystem::remove(machine + "dSync.new");
    write("common/Brenlo/Pendulark/dSync.dat", "saved by another window");
    on_main_command(window, IDB_MAIN_CANCEL);
    EXPECT_EQ(machine_file("dSync.dat"), "saved by another window");
}

// A service started beside a running window takes the time over from it; its
// stop gives the time back to the window, on the user's own settings.
TEST_F(ThreadedService, TheWindowFollowsAServiceThatStartsAndStops) {
    set_up_directories(0);
    const std::string own = data_dir;
    settings.autosync_enabled = 1;
    settings.time_server_enabled = 1;
    save_settings();
    init_main_dialog(window);
    ASSERT_NE(time_server_running, 0u);
    ASSERT_NE(next_wait(), 0u);
    auto tick_until = [&](uint32_t beside) {
        for (int i = 0; i < 100 && beside_service != beside; i++) window_tick(window);
        return beside_service == beside;
    };
    os_test_set_pipe_server([](const std::string&, const std::string&) {
        return bytes_of(reply_saying(request_status, "2 Hrs until AutoSync"));
    });
    // Each for 50 ticks, one of them at least a look at the service.
    auto beside_ticks = [&] {
        int beside = 0;
        for (int i = 0; i < 50; i++, beside += beside_service) window_tick(window);
        return beside;
    };
    EXPECT_EQ(beside_ticks(), 0) << "a pipe without a running service is none of ours";
    os_test_set_registered_service(SERVICE_START_PENDING);
    ASSERT_TRUE(tick_until(1)) << "a service still starting keeps the time already";
    os_test_set_registered_service(SERVICE_RUNNING);
    EXPECT_EQ(time_server_running, 0u);
    EXPECT_EQ(next_wait(), 0u);
    EXPECT_EQ(settings.time_server_enabled, 0u) << "the machine's settings, as the service has them";
    EXPECT_STRNE(data_dir, own.c_str());
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS),
              "The Pendulark service has started: it keeps the time now");
    for (int i = 0; i < (int)hold_result; i++) window_tick(window);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS), "The service keeps the time: 2 Hrs until AutoSync");

    // Busy, it still runs: the control manager's word counts, not the pipe's.
    os_test_set_pipe_server(nullptr);
    EXPECT_EQ(beside_ticks(), 50);
    os_test_set_registered_service(SERVICE_STOPPED);
    ASSERT_TRUE(tick_until(0));
    EXPECT_STREQ(data_dir, own.c_str());
    EXPECT_NE(time_server_running, 0u);
    EXPECT_NE(next_wait(), 0u);
    EXPECT_EQ(os_test_control_text(window, IDT_MAIN_STATUS),
              "The Pendulark service has stopped: Pendulark keeps the time again");
    std::string log = read(log_file_name);
    EXPECT_NE(log.find("The Pendulark service has started: it keeps the time now"), std::string::npos) << log;
    EXPECT_NE(log.find("The Pendulark service has stopped: Pendulark keeps the time again"), std::string::npos) << log;
}

TEST(PipeMessages, OnlyWholeMessagesOfKnownKindsAreTaken) {
    std::string status = bytes_of(pipe_request{pipe_magic, request_status});
    std::string correct = bytes_of(pipe_request{pipe_magic, request_correct});
    struct {
        std::string bytes;
        bool taken;
    } requests[] = {
        {status, true},
        {correct, true},
        {"", false},
        {status.substr(0, 7), false},
        {status + '\0', false},
        {"GARBAGE!", false},
        {bytes_of(pipe_request{pipe_magic + 1, request_status}), false},
        {bytes_of(pipe_request{pipe_magic, 0}), false},
        {bytes_of(pipe_request{pipe_magic, request_correct + 1}), false},
    };
    for (auto& c : requests) {
        pipe_request out;
        EXPECT_EQ(parse_pipe_request(c.bytes.data(), c.bytes.size(), out), c.taken) << c.bytes.size();
    }
    pipe_reply unended = reply_saying(request_status, "");
    memset(unended.status, 'x', sizeof unended.status);
    pipe_reply unended_listening = reply_saying(request_status, "Ready");
    memset(unended_listening.listening, 'x', sizeof unended_listening.listening);
    pipe_reply unended_answer = reply_saying(request_status, "Ready");
    memset(unended_answer.last_answer, 'x', sizeof unended_answer.last_answer);
    pipe_reply bad_magic = reply_saying(request_status, "Ready");
    bad_magic.magic = 0;
    std::string ready = bytes_of(reply_saying(request_status, "Ready"));
    struct {
        std::string bytes;
        bool taken;
    } replies[] = {
        {ready, true},
        {ready.substr(0, ready.size() - 1), false},
        {ready + '\0', false},
        {bytes_of(bad_magic), false},
        {bytes_of(reply_saying(request_correct, "Ready")), false},
        {bytes_of(reply_saying(request_status, "Ready", 2)), false},
        {bytes_of(unended), false},
        {bytes_of(unended_listening), false},
        {bytes_of(unended_answer), false},
    };
    for (auto& c : replies) {
        pipe_reply out;
        EXPECT_EQ(parse_pipe_reply(c.bytes.data(), c.bytes.size(), request_status, out), c.taken) << c.bytes.size();
    }
}

// An install gives the machine's folder the user's settings and list, where it has none.
TEST_F(Service, TheMachinesFolderTakesTheUsersFilesButNeverReplacesItsOwn) {
    std::string user_dir = os_test_windows_path(dir);
    EXPECT_TRUE(seed_machine_dir(user_dir.c_str(), data_dir)) << "nothing to copy is no failure";
    EXPECT_FALSE(std::filesystem::exists(machine + "dSync.dat"));
    write("dSync.dat", "user's settings");
    write("ServFile.txt", "time.example.org\r\n");
    EXPECT_TRUE(seed_machine_dir(user_dir.c_str(), data_dir));
    EXPECT_EQ(machine_file("dSync.dat"), "user's settings");
    EXPECT_EQ(machine_file("ServFile.txt"), "time.example.org\r\n");
    write("dSync.dat", "changed since");
    write("common/Brenlo/Pendulark/ServFile.txt", "");
    EXPECT_TRUE(seed_machine_dir(user_dir.c_str(), data_dir));
    EXPECT_EQ(machine_file("dSync.dat"), "user's settings");
    EXPECT_EQ(machine_file("ServFile.txt"), "");
}

}  // namespace
