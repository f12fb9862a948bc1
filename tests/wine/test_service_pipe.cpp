// The pipe between a window and the service on Windows' own named pipes: the
// service's window answers whole requests through its pipe's thread, and a
// short, long, foreign or silent client gets no reply. Prints the round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/program.h"
#include "os/win32.h"
#include "resources/pendulark_ids.h"
#include "shell/service_pipe.h"
#include "shell/service_window.h"
#include "tests/wait_until.h"
#include "window/status_line.h"

namespace {

// What a client that is no window of ours reads back for the bytes it wrote:
// "" when the service closed the connection without a reply.
std::string talk_over_pipe(const std::string& bytes, bool send) {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    // The one instance is busy until the service has let the last client go.
    for (int tries = 0; tries < 5 && pipe == INVALID_HANDLE_VALUE; tries++) {
        pipe = CreateFileA(service_pipe_name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeA(service_pipe_name, 2000);
    }
    if (pipe == INVALID_HANDLE_VALUE) return "no pipe";
    DWORD mode = PIPE_READMODE_MESSAGE, done = 0;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    if (send) WriteFile(pipe, bytes.data(), (DWORD)bytes.size(), &done, nullptr);
    char reply[sizeof(pipe_reply) + 1];
    DWORD got = 0;
    bool read = ReadFile(pipe, reply, sizeof reply, &got, nullptr);
    CloseHandle(pipe);
    return read ? std::string(reply, got) : "";
}

class ServicePipe : public ::testing::Test {
protected:
    HWND window = nullptr;

    void SetUp() override {
        instance_handle = GetModuleHandleA(nullptr);
        // The main window's tests register the class with the window's procedure.
        UnregisterClassA(PROGRAM_CLASS_NAME, instance_handle);
        register_service_class();
        window = CreateDialogParamA(instance_handle, "MAINDIALOG", nullptr, nullptr, 0);
        ASSERT_NE(window, nullptr);
        SetDlgItemTextA(window, IDT_MAIN_STATUS, "3 Hrs until AutoSync");
    }
    void TearDown() override {
        DestroyWindow(window);
        UnregisterClassA(PROGRAM_CLASS_NAME, instance_handle);
    }
    // The client on a thread of its own, this thread the service's window's.
    void as_client(const std::function<void()>& client) {
        std::atomic<bool> done{false};
        std::thread thread([&] {
            client();
            done = true;
        });
        bool ended = wait_until([&] {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
            return done.load();
        });
        thread.join();
        ASSERT_TRUE(ended);
    }
};

TEST_F(ServicePipe, AnswersWholeRequestsAndClosesOnGarbage) {
    ASSERT_TRUE(start_pipe_server(window));
    ASSERT_TRUE(wait_until([] { return WaitNamedPipeA(service_pipe_name, 1) || GetLastError() == ERROR_SEM_TIMEOUT; }));
    std::vector<double> trips;
    bool answered = true;
    pipe_reply reply{};
    as_client([&] {
        for (int i = 0; i < 20 && answered; i++) {
            auto began = std::chrono::steady_clock::now();
            answered = ask_service(request_status, reply);
            trips.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began).count());
        }
    });
    ASSERT_TRUE(answered);
    EXPECT_STREQ(reply.status, "3 Hrs until AutoSync");
    std::sort(trips.begin(), trips.end());
    printf("pipe round trip over %zu requests: %.2f to %.2f ms, median %.2f ms\n", trips.size(), trips.front(),
           trips.back(), trips[trips.size() / 2]);

    pipe_request good{pipe_magic, request_status}, foreign{pipe_magic + 1, request_status};
    std::string whole((const char*)&good, sizeof good);
    std::vector<std::string> replies;
    as_client([&] {
        for (const std::string& bytes : {whole.substr(0, 7), whole + "x", std::string((const char*)&foreign, 8),
                                         std::string("GARBAGE!")})
            replies.push_back(talk_over_pipe(bytes, true));
        replies.push_back(talk_over_pipe("", false));  // says nothing: let go
        replies.push_back(talk_over_pipe(whole, true));
    });
    ASSERT_EQ(replies.size(), 6u);
    for (int i = 0; i < 5; i++) EXPECT_EQ(replies[i], "") << i;
    pipe_reply last;
    EXPECT_TRUE(parse_pipe_reply(replies[5].data(), replies[5].size(), request_status, last))
        << "the service still answers after garbage";
}

}  // namespace
