// A fixture for the walks over the server list: five loopback addresses where
// nobody listens (a connection is refused at once) in "ServFile.txt", errors
// logged, and the servers that the log says did not answer.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "loopback_server.h"
#include "base/filetime.h"
#include "machine.h"
#include "store/directories.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"

class ServerWalk : public Machine {
protected:
    std::vector<std::string> servers;

    void SetUp() override {
        Machine::SetUp();
        set_up_directories(0);
        reset_settings();
        settings.protocol = 0;
        settings.sync_timeout_seconds = 5;
        settings.log_level = 1;
        std::string list;
        for (int i = 0; i < 5; i++) {
            servers.push_back(own_loopback_address(3 + i));
            list += servers.back() + "\r\n";
        }
        write("ServFile.txt", list);
        // Far from any answer the tests give, so that a correction shows.
        os_test_set_utc(2026, 12, 7, 12, 0, 0);
    }
    void TearDown() override {
        stop_sync_worker();
        Machine::TearDown();
    }
    // What the "No response from " lines say, in order: "server (why)".
    std::vector<std::string> no_responses() {
        std::vector<std::string> lines;
        std::string log = read("dLog.txt");
        const std::string mark = " : No response from ";
        for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
            size_t start = at + mark.size();
            lines.push_back(log.substr(start, log.find("\r\n", start) - start));
        }
        return lines;
    }
    // The servers of those lines.
    std::vector<std::string> unanswered() {
        std::vector<std::string> names;
        for (const std::string& line : no_responses()) names.push_back(line.substr(0, line.find(" (")));
        return names;
    }
    // Time Protocol servers on the first entries, each the given seconds ahead
    // of the clock; none where it is negative. Each answers twice, as a walk
    // may come round to it again.
    std::vector<std::unique_ptr<LoopbackServer>> answering(const std::vector<int>& ahead) {
        std::vector<std::unique_ptr<LoopbackServer>> running;
        uint32_t now = filetime_to_protocol_seconds(os_test_utc());
        size_t i = 0;
        for (int seconds : ahead) {
            if (seconds >= 0)
                running.push_back(std::make_unique<LoopbackServer>(true, servers[i], time_answer(now + seconds), 2));
            i++;
        }
        return running;
    }
    std::vector<std::string> in_order(std::initializer_list<int> indexes) {
        std::vector<std::string> names;
        for (int i : indexes) names.push_back(servers[i]);
        return names;
    }
};
