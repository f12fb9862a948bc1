// The protocol client against one-shot servers on the test's own loopback address.
#include <atomic>
#include <chrono>

#include "loopback_server.h"
#include "machine.h"
#include "replies.h"
#include "base/filetime.h"
#include "base/text.h"
#include "store/server_list.h"
#include "store/settings_store.h"
#include "sync/sync_worker.h"
#include "tests/native/digest_support.h"
#include "tests/wait_until.h"

namespace {

class ThreadedSyncWorker : public Machine {
protected:
    std::string address = own_loopback_address();

    void SetUp() override {
        Machine::SetUp();
        reset_settings();
        settings.sync_timeout_seconds = 15;
        settings.protocol = 1;
        os_test_set_utc(protocol_seconds_to_filetime(new_year_2006));
        name(address);
    }
    void TearDown() override {
        stop_sync_worker();
        Machine::TearDown();
    }
    void name(const std::string& n) { set_current_server_name(n.c_str()); }
    // Runs one attempt to its end.
    void run() {
        ASSERT_TRUE(start_sync_worker());
        ASSERT_TRUE(wait_until([] { return sync_step == step_valid || sync_failed; })) << "attempt did not end";
        // The worker cleans up after publishing; the next attempt starts after it.
        ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    }
    void expect_failed_at(uint32_t step, uint32_t reason) {
        EXPECT_EQ(sync_failed, 1u);
        EXPECT_EQ(sync_step, step);
        EXPECT_EQ(sync_result().failure, reason);
    }
};

TEST_F(ThreadedSyncWorker, TimeProtocolGathersSplitRepliesAndRefusesZeroOrShort) {
    settings.protocol = 0;
    struct { std::vector<std::string> pieces; uint32_t failure; } cases[] = {
        {{be32(new_year_2006)}, failure_none},
        {{be32(new_year_2006).substr(0, 1), be32(new_year_2006).substr(1)}, failure_none},
        {{be32(0)}, failure_no_time},
        {{be32(new_year_2006).substr(0, 2)}, failure_closed},
        {{}, failure_closed},
    };
    for (auto& c : cases) {
        LoopbackServer server(true, address, [&](const std::string&) { return c.pieces; });
        ASSERT_TRUE(server.bound());
        run();
        if (c.failure == failure_none) {
            EXPECT_EQ(sync_step, uint32_t(step_valid));
            EXPECT_EQ(sync_result().seconds, new_year_2006);
        } else {
            expect_failed_at(step_connected, c.failure);
        }
        EXPECT_EQ(server.requests(), 1);
    }
}

TEST_F(ThreadedSyncWorker, OffsetKeepsFractionsOfBothLocalReadings) {
    // The clock moves one second between request and reply, as in the worked example.
    uint64_t t2 = (uint64_t)(new_year_2006 + 2) << 32 | 0x40000000u;
    uint64_t t3 = (uint64_t)(new_year_2006 + 2) << 32 | 0x80000000u;
    LoopbackServer server(false, address, [&](const std::string& request) {
        os_test_advance_ms(1000);
        return std::vector<std::string>{sntp_reply(request, t2, t3)};
    });
    run();
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    EXPECT_EQ(sync_result().offset_sum, (int64_t)(3ull << 32 | 0xC0000000u));
    EXPECT_EQ(sync_result().seconds, new_year_2006 + 2);
    std::string request = server.last_request();
    ASSERT_EQ(request.size(), 48u);
    EXPECT_EQ(request[0], 0x1B);
    EXPECT_EQ(read64(request, 40), (uint64_t)new_year_2006 << 32);
}

// What the time server will serve of this upstream: its leap warning, and its
// distance plus this exchange's, never wrapped round to a small one; a Time
// Protocol answer leaves the clock up to a second off.
TEST_F(ThreadedSyncWorker, TheUpstreamsDistanceAndLeapWarningAreKept) {
    LoopbackServer sntp(false, address, [](const std::string& request) {
        os_test_advance_ms(1000);
        std::string r = sntp_reply(request, read64(request, 40), read64(request, 40), 0x64);  // leap 1
        r.replace(4, 8, be32(0xFFFFFF00u) + be32(0xFFFFFFF0u));
        return std::vector<std::string>{r};
    });
    run();
    ASSERT_EQ(sync_step, uint32_t(step_valid));
    sntp_upstream got = sync_result().upstream;
    EXPECT_EQ(got.leap, 1u);
    EXPECT_EQ(got.root_delay, UINT32_MAX);
    EXPECT_EQ(got.root_dispersion, UINT32_MAX);

    settings.protocol = protocol_time;
    LoopbackServer time(true, address, time_answer(new_year_2006));
    run();
    EXPECT_EQ(sync_result().upstream.root_dispersion, 0x10000u);
    EXPECT_EQ(sync_result().upstream.leap, 0u);
}

TEST_F(ThreadedSyncWorker, FractionalClockReadingsAreNotCutToWholeSeconds) {
    os_test_set_utc(protocol_seconds_to_filetime(new_year_2006) + 7500000);  // .75 s
    // A server exactly on our clock: the offset must come out zero, not 1.5 s.
    LoopbackServer server(false, address, sntp_answer());
    run();
    EXPECT_EQ(read64(server.last_request(), 40), (uint64_t)new_year_2006 << 32 | 0xC0000000u);
    EXPECT_EQ(sync_result().offset_sum, 0);
}

TEST_F(ThreadedSyncWorker, ServerBehindGivesNegativeOffset) {
    LoopbackServer server(false, address, sntp_answer(-(10ll << 32)));
    run();
    EXPECT_EQ(sync_result().offset_sum, -(int64_t)(20ll << 32));
}

TEST_F(ThreadedSyncWorker, UntrustworthySntpRepliesFailAtStepFour) {
    enum fault { kod, zero_transmit, client_mode, unsynchronised, stratum_16, wrong_originate, sum_past_64_bits };
    struct { fault kind; uint32_t failure; } cases[] = {
        {kod, failure_kiss_of_death},          {zero_transmit, failure_no_time},
        {client_mode, failure_not_a_reply},    {unsynchronised, failure_unsynchronised},
        {stratum_16, failure_unsynchronised},  {wrong_originate, failure_not_our_request},
        {sum_past_64_bits, failure_out_of_reach},
    };
    for (auto item : cases) {
        // A plain local: clang 14 cannot capture a structured binding.
        fault kind = item.kind;
        uint32_t failure = item.failure;
        LoopbackServer server(false, address, [&](const std::string& request) {
            std::string r = sntp_answer()(request)[0];
            if (kind == kod) r.replace(0, 16, "\xE4" + std::string(11, '\0') + "RATE");
            if (kind == zero_transmit) r.replace(40, 8, std::string(8, '\0'));
            if (kind == client_mode) r[0] = 0x23;
            if (kind == unsynchronised) r[0] = char(0xE4);
            if (kind == stratum_16) r[1] = 16;
            if (kind == wrong_originate) r[31] ^= 1;
            if (kind == sum_past_64_bits) r = sntp_answer((int64_t)(0x90000000ull << 32))(request)[0];
            return std::vector<std::string>{r};
        });
        server_clock_valid = 1;
        run();
        expect_failed_at(step_connected, failure);
        EXPECT_EQ(server_clock_valid, 1u) << "a refused answer keeps the last good server clock";
    }
    // What the log says of them, a kiss code as the server spelt it.
    char text[failure_text_size];
    sync_failure_text(sync_result().failure, sync_result().failure_detail, text);
    EXPECT_STREQ(text, "time out of reach");
    sync_failure_text(failure_kiss_of_death, 0x52415445, text);
    EXPECT_STREQ(text, "kiss-o'-death RATE");
    sync_failure_text(failure_kiss_of_death, 0x0A000041, text);
    EXPECT_STREQ(text, "kiss-o'-death ???A");
    sync_failure_text(failure_network, 10050 + 10, text);
    EXPECT_STREQ(text, "network error 10060");
}

TEST_F(ThreadedSyncWorker, ClockOutsideSaneWindowForcesTimeProtocol) {
    struct { int year; bool forced; } cases[] = {{2005, true}, {2013, false}, {2026, false}, {2105, true}};
    for (auto& c : cases) {
        force_time_protocol = 0;
        os_test_set_utc(c.year, 6, 1, 0, 0, 0);
        LoopbackServer tcp(true, address, time_answer(new_year_2006));
        LoopbackServer udp(false, address, sntp_answer());
        run();
        EXPECT_EQ(force_time_protocol, c.forced ? 1u : 0u) << c.year;
        EXPECT_EQ(tcp.requests(), c.forced ? 1 : 0) << c.year;
        EXPECT_EQ(udp.requests(), c.forced ? 0 : 1) << c.year;
    }
}

TEST_F(ThreadedSyncWorker, AutoFollowsAutoProtocol) {
    settings.protocol = 2;
    for (uint32_t value : {0u, 1u}) {
        auto_protocol = value;
        LoopbackServer tcp(true, address, time_answer(new_year_2006));
        LoopbackServer udp(false, address, sntp_answer());
        run();
        EXPECT_EQ(sync_step, uint32_t(step_valid));
        EXPECT_EQ(tcp.requests(), value == 0 ? 1 : 0);
        EXPECT_EQ(udp.requests(), value == 1 ? 1 : 0);
    }
}

TEST_F(ThreadedSyncWorker, NamesAndManualAddresses) {
    settings.protocol = 0;
    // Unresolvable list entry: fails while looking up, before any connect.
    name("no-such-host.invalid");
    run();
    expect_failed_at(step_sockets, failure_name_not_found);

    // Manual address: used as it stands, whatever the list entry was.
    settings.server_source = 1;
    text_copy(settings.manual_address_a, sizeof settings.manual_address_a, address.c_str());
    name("some.list.entry");
    LoopbackServer server(true, address, time_answer(new_year_2006));
    run();
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    {
        EXPECT_STREQ(sync_result().address, address.c_str());
        std::lock_guard<std::mutex> n(server_name_lock);
        EXPECT_STREQ(current_server_name, address.c_str());
    }
    // A manual entry that is a name is never looked up.
    settings.server_source = 2;
    text_copy(settings.manual_address_b, sizeof settings.manual_address_b, "localhost");
    run();
    expect_failed_at(step_sockets, failure_not_an_address);
}

TEST_F(ThreadedSyncWorker, NobodyListeningIsRefused) {
    for (uint32_t protocol : {protocol_time, protocol_sntp}) {
        settings.protocol = protocol;
        run();
        // TCP is refused at the connect, UDP when the reply is read.
        expect_failed_at(protocol == protocol_time ? step_address : step_connected, failure_refused);
    }
}

TEST_F(ThreadedSyncWorker, DateWindowComparesHighWordsOnly) {
    settings.protocol = 0;
    settings.date_window_enabled = 1;
    uint64_t reply = protocol_seconds_to_filetime(new_year_2006);
    // A bound a few minutes after the reply but in the same high-word block accepts it.
    uint64_t start = (reply & 0xFFFFFFFF00000000ull) | 0xFFFFFFFFull;
    settings.date_window_start = {DWORD(start), DWORD(start >> 32)};
    settings.date_window_end = {DWORD(-1), DWORD(-1)};
    {
        LoopbackServer server(true, address, time_answer(new_year_2006));
        run();
        EXPECT_EQ(sync_step, uint32_t(step_valid));
    }
    settings.date_window_start.dwHighDateTime++;
    LoopbackServer server(true, address, time_answer(new_year_2006));
    run();
    expect_failed_at(step_reply, failure_date_window);
}

TEST_F(ThreadedSyncWorker, LateWorkerNeverTouchesTheNextAttempt) {
    // Both servers exist before any worker, so the second worker's socket
    // takes the number that the stop freed: the one the late worker still holds.
    std::string late_address = own_loopback_address(2);
    LoopbackServer late(false, late_address, sntp_answer());
    // The next attempt waits for its answer until the late worker has ended.
    std::atomic<bool> answer_next{false};
    LoopbackServer next(false, address, [&](const std::string& request) {
        wait_until([&] { return answer_next.load(); });
        return sntp_answer(1ll << 32)(request);
    });
    os_test_add_host("slow.example", late_address, true);
    name("slow.example");
    ASSERT_TRUE(start_sync_worker());
    ASSERT_TRUE(wait_until([] { return os_test_held_lookups() == 1; }));
    auto before = std::chrono::steady_clock::now();
    stop_sync_worker();
    // The stop gives the worker its second and lets go, well before the look-up's 10 s.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(os_test_held_lookups(), 1) << "the look-up should outlast the stop";

    name(address);
    ASSERT_TRUE(start_sync_worker());
    ASSERT_TRUE(wait_until([] { return sync_step == step_connected; }));
    os_test_release_lookups();
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 1; })) << "the late worker did not end";
    // The late worker has ended: the running attempt still holds Winsock.
    EXPECT_GE(os_test_winsock_users(), 1);
    EXPECT_EQ(sync_step, uint32_t(step_connected));

    answer_next = true;
    ASSERT_TRUE(wait_until([] { return sync_step == step_valid || sync_failed; }));
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    EXPECT_EQ(sync_failed, 0u);
    EXPECT_EQ(sync_result().offset_sum, (int64_t)(2ull << 32));
    EXPECT_EQ(late.requests(), 0) << "the late worker sent a request";
    EXPECT_EQ(next.requests(), 1);
    {
        EXPECT_STREQ(sync_result().address, address.c_str());
        std::lock_guard<std::mutex> n(server_name_lock);
        EXPECT_STREQ(current_server_name, address.c_str());
    }
    ASSERT_TRUE(wait_until([] { return os_test_live_threads() == 0; }));
    EXPECT_EQ(os_test_winsock_users(), 0) << "every worker gives back its own reference";
}

TEST_F(ThreadedSyncWorker, ChangedSettingsReachOnlyTheNextAttempt) {
    settings.protocol = 1;
    os_test_add_host("slow.example", address, true);
    name("slow.example");
    LoopbackServer udp(false, address, sntp_answer());
    ASSERT_TRUE(start_sync_worker());
    ASSERT_TRUE(wait_until([] { return os_test_held_lookups() == 1; }));
    // The GUI thread changes the record while the worker waits for its look-up.
    settings.protocol = 0;
    settings.sync_timeout_seconds = 99;
    settings.date_window_enabled = 1;
    settings.date_window_start = {0, 0xFFFFFFFFu};
    name("other.example");
    os_test_release_lookups();
    ASSERT_TRUE(wait_until([] { return sync_step == step_valid || sync_failed; }));
    EXPECT_EQ(sync_step, uint32_t(step_valid));
    EXPECT_EQ(timeout_ticks, 150u);
    EXPECT_EQ(udp.requests(), 1);
}

// IPv6 by its literal, bare or in brackets: asked over IPv6 from a port of
// the system's choosing, and shown as the literal. Served on, the upstream is
// known by the first four octets of its address's MD5.
TEST_F(ThreadedSyncWorker, AnIPv6LiteralIsAskedOverIPv6) {
    os_test_set_ipv6(true);
    for (const char* entry : {"::1", "[::1]"}) {
        LoopbackServer server(false, "::1", sntp_answer());
        ASSERT_TRUE(server.bound()) << "no IPv6 loopback";
        name(entry);
        run();
        EXPECT_EQ(sync_step, uint32_t(step_valid)) << entry;
        EXPECT_STREQ(sync_result().address, "::1");
        EXPECT_EQ(sync_result().address_count, 1u);
        std::string digest = openssl_md5(std::string(15, '\0') + '\1');
        uint32_t id = 0;
        for (int i = 0; i < 4; i++) id |= (uint32_t)std::stoul(digest.substr(2 * i, 2), nullptr, 16) << (8 * i);
        EXPECT_EQ(sync_result().upstream.reference_id, id);
    }
    name("[::1");
    run();
    expect_failed_at(step_sockets, failure_not_usable);
}

}  // namespace

TEST(ServerAddresses, EntriesAndTexts) {
    struct { const char* entry; const char* host; } entries[] = {
        {"pool.example.org", "pool.example.org"}, {"::1", "::1"}, {"[::1]", "::1"},
        {"[fe80::1%4]", "fe80::1%4"}, {"[::1", nullptr}, {"[::1]:123", nullptr},
    };
    for (auto& e : entries) {
        char host[server_name_size];
        bool ok = host_of_entry(e.entry, host);
        EXPECT_EQ(ok, e.host != nullptr) << e.entry;
        if (ok) {
            EXPECT_STREQ(host, e.host);
        }
    }
    // The shortest form: the first of the longest runs of zeros, never a lone one.
    struct { const char* address; uint32_t scope; const char* text; } texts[] = {
        {"2001:db8:0:0:1:0:0:1", 0, "2001:db8::1:0:0:1"}, {"2001:0:0:1:0:0:0:1", 0, "2001:0:0:1::1"},
        {"1::", 0, "1::"}, {"::", 0, "::"}, {"2001:db8:0:1:2:3:4:5", 0, "2001:db8:0:1:2:3:4:5"},
        {"fe80::1", 4, "fe80::1%4"}, {"192.0.2.1", 0, "192.0.2.1"},
    };
    for (auto& t : texts) {
        sockaddr_storage address{};
        auto* v6 = (sockaddr_in6*)&address;
        auto* v4 = (sockaddr_in*)&address;
        if (inet_pton(AF_INET6, t.address, &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_scope_id = t.scope;
        } else {
            ASSERT_EQ(inet_pton(AF_INET, t.address, &v4->sin_addr), 1);
            v4->sin_family = AF_INET;
        }
        char text[server_address_size];
        address_text(address, text);
        EXPECT_STREQ(text, t.text);
    }
}

TEST(ProtocolTime, ConversionsCrossThe2036Rollover) {
    auto at = [](int y, int mo, int d, int h, int mi, int sec) {
        os_test_set_utc(y, mo, d, h, mi, sec);
        return os_test_utc();
    };
    struct { uint64_t filetime; uint32_t seconds; } cases[] = {
        {at(2006, 1, 1, 0, 0, 0), new_year_2006},
        {at(2036, 2, 7, 6, 28, 15), 0xFFFFFFFFu},
        {at(2036, 2, 7, 6, 28, 16), 0},
        {at(2036, 2, 7, 6, 28, 17), 1},
        {at(2104, 1, 1, 0, 0, 0), 0x7FB5A380u},
        {at(1968, 1, 20, 3, 14, 8), 0x80000000u},
    };
    for (auto& c : cases) {
        EXPECT_EQ(filetime_to_protocol_seconds(c.filetime), c.seconds);
        EXPECT_EQ(protocol_seconds_to_filetime(c.seconds), c.filetime);
    }
    // Fractions survive into the 32.32 timestamp across the wrap as well.
    EXPECT_EQ(filetime_to_timestamp(at(2036, 2, 7, 6, 28, 16) + 5000000), 0x80000000ull);
}
