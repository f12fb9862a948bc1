// What the time server answers an SNTP request with, on the virtual clock.
#include <string.h>

#include "machine.h"
#include "replies.h"
#include "base/filetime.h"
#include "server/sntp_reply.h"
#include "store/settings_store.h"
#include "sync/clock_correction.h"
#include "sync/sync_controller.h"
#include "sync/sync_worker.h"

namespace {

// A client as the server meets it, from its address's text.
sntp_client client_at(const char* text) {
    sockaddr_storage address{};
    auto* v6 = (sockaddr_in6*)&address;
    auto* v4 = (sockaddr_in*)&address;
    if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) v6->sin6_family = AF_INET6;
    else if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) v4->sin_family = AF_INET;
    return sntp_client_of(address);
}

const sntp_client client = client_at("127.0.0.1"), other_client = client_at("127.0.0.2");
constexpr uint64_t received = 0xE9612C0080000000ull;
constexpr uint64_t client_transmit = 0x0123456789ABCDEFull;

std::string request(unsigned char first, size_t length = 48) {
    std::string r(68, '\0');
    r[0] = (char)first;
    r[2] = 6;  // poll
    r.replace(40, 8, be64(client_transmit));
    r.resize(length);
    return r;
}

// The reply as bytes; "" when there is none.
std::string ask(const std::string& r, const sntp_client& from = client) {
    unsigned char reply[sntp_packet_size];
    int size = build_sntp_reply((const unsigned char*)r.data(), (int)r.size(), from, received, reply);
    return std::string((const char*)reply, (size_t)size);
}

uint32_t be32_at(const std::string& s, int at) { return (uint32_t)(read64(s, at) >> 32); }

const sntp_upstream upstream{2, 0x00000CCD, 0x00000666, htonl(0x0A00000C)};  // 50 ms, 25 ms, 10.0.0.12

using SntpReply = Machine;

TEST_F(SntpReply, OnlyClientsOfAKnownVersionAreAnsweredAndNeverAtLength) {
    struct { unsigned char first; size_t length; bool answered; } cases[] = {
        {0x0B, 48, true},  {0x13, 48, true},  {0x1B, 48, true}, {0x23, 48, true},  // versions 1 to 4
        {0x23, 68, true},                                                            // extension fields
        {0x23, 47, false}, {0x03, 48, false}, {0x2B, 48, false},                     // short, version 0 and 5
        {0x24, 48, false}, {0x26, 48, false}, {0x27, 48, false}, {0x21, 48, false},  // modes 4, 6, 7, 1
    };
    for (auto& c : cases) {
        std::string reply = ask(request(c.first, c.length));
        ASSERT_EQ(reply.size(), c.answered ? 48u : 0u) << std::hex << (int)c.first << std::dec << " " << c.length;
        if (!c.answered) continue;
        EXPECT_EQ((unsigned char)reply[0] & 0x3F, ((c.first >> 3 & 7) << 3) | 4) << "the client's version, mode 4";
        EXPECT_EQ(reply[2], 6) << "the client's poll";
        EXPECT_EQ(read64(reply, 24), client_transmit) << "its transmit time as originate";
        EXPECT_EQ(read64(reply, 32), received);
        os_test_advance_ms(2000);  // within the rate every address is allowed
    }
}

TEST_F(SntpReply, UnsynchronisedUntilACorrectionAndAgainWhenItIsOld) {
    std::string reply = ask(request(0x23));
    EXPECT_EQ((unsigned char)reply[0] >> 6, 3u);
    EXPECT_EQ(reply[1], 16);

    os_test_set_utc(2036, 2, 7, 6, 28, 17);  // past the 2036 wrap: seconds 1 of the next era
    set_sntp_upstream(upstream);
    os_test_advance_ms(1000000);  // 1000 s: 15 ms of grown dispersion
    reply = ask(request(0x23));
    EXPECT_EQ((unsigned char)reply[0] >> 6, 0u);
    EXPECT_EQ(reply[1], 3) << "the upstream's stratum plus one";
    EXPECT_EQ(be32_at(reply, 4), upstream.root_delay);
    EXPECT_EQ(be32_at(reply, 8), upstream.root_dispersion + 983u);
    EXPECT_EQ(memcmp(reply.data() + 12, "\x0A\x00\x00\x0C", 4), 0) << "the upstream's address";
    EXPECT_EQ(read64(reply, 16), 1ull << 32) << "the time of the correction";

    os_test_advance_ms((DWORD)(upstream_trusted_ms - 1000000 + 2000));
    reply = ask(request(0x23));
    EXPECT_EQ((unsigned char)reply[0] >> 6, 3u);
    EXPECT_EQ(reply[1], 16);
}

// An IPv6 address counts within its /64; no /64 is an IPv4 address.
TEST(SntpClients, AnIPv6ClientCountsWithinItsSlash64) {
    sntp_client a = client_at("2001:db8:1:2::1"), b = client_at("2001:db8:1:2:ffff::9");
    EXPECT_TRUE(a.in_prefix);
    EXPECT_EQ(a.prefix, b.prefix);
    EXPECT_NE(a, b);
    EXPECT_NE(a.prefix, client_at("2001:db8:1:3::1").prefix);
    EXPECT_NE(client_at("192.0.2.1"), client_at("192.0.2.2"));
    EXPECT_FALSE(client_at("192.0.2.1").in_prefix);
    EXPECT_NE(client_at("::c000:201").prefix, client_at("192.0.2.1").prefix);
}

// The hosts of one LAN share its /64, each with its own allowance; a flood is
// held back, from one address or from ever new ones of a prefix.
TEST_F(SntpReply, EachAddressOfAPrefixHasItsOwnAllowance) {
    struct { int hosts, asks, answers, kisses; } cases[] = {
        {12, 1, 12, 0},   // a LAN's hosts asking once each
        {12, 8, 96, 0},   // each its own burst
        {1, 12, 8, 1},    // one address flooding
        {20, 12, 160, 20},
        {100, 1, 64, 1},  // a new address for every request
    };
    for (auto& c : cases) {
        forget_sntp_clients();
        int answers = 0, kisses = 0;
        for (int ask_number = 0; ask_number < c.asks; ask_number++) {
            for (int host = 1; host <= c.hosts; host++) {
                std::string reply = ask(request(0x23), {0x20010DB800010002ull, (uint64_t)host, true});
                if (reply.size() != 48) continue;
                if (reply.substr(12, 4) == "RATE") kisses++;
                else answers++;
            }
        }
        EXPECT_EQ(answers, c.answers) << c.hosts << " hosts asking " << c.asks;
        EXPECT_EQ(kisses, c.kisses) << c.hosts << " hosts asking " << c.asks;
    }
}

TEST_F(SntpReply, AClientAskingTooOftenHearsRateNowAndThenAndOthersKeepTheirAnswers) {
    int answered = 0;
    for (int i = 0; i < 8; i++) answered += ask(request(0x23)).size() == 48;
    EXPECT_EQ(answered, 8) << "a burst is allowed";
    std::string kiss = ask(request(0x23));
    ASSERT_EQ(kiss.size(), 48u);
    EXPECT_EQ(kiss[1], 0);
    EXPECT_EQ(kiss.substr(12, 4), "RATE");
    EXPECT_EQ(ask(request(0x23)), "") << "then nothing";
    EXPECT_EQ(ask(request(0x23), other_client).size(), 48u);
    // Quiet for a while, it is answered again.
    os_test_advance_ms(60000);
    EXPECT_EQ((unsigned char)ask(request(0x23))[1], 16);
}

// Each correction decides what is served from then on: a plain one serves its
// upstream; one that sets the clock apart from it on purpose (Offset, Minor)
// stops serving a synchronised clock at once, whatever came before; an
// upstream at stratum 15 would make this computer 16, unsynchronised.
TEST_F(SntpReply, EachCorrectionDecidesWhatIsServed) {
    struct {
        uint32_t offset_minutes, minutes_seconds_only, upstream_stratum;
        int served_stratum;
    } corrections[] = {{0, 0, 2, 3}, {5, 0, 2, 16}, {0, 0, 2, 3}, {0, 1, 2, 16}, {0, 0, 14, 15}, {0, 0, 15, 16}};
    for (const auto& c : corrections) {
        settings.offset_minutes = c.offset_minutes;
        settings.minutes_seconds_only = c.minutes_seconds_only;
        sync_answer.protocol = protocol_sntp;
        correct_mode = 1;
        sync_answer.upstream = upstream;
        sync_answer.upstream.stratum = c.upstream_stratum;
        correct_clock(sync_answer, 1);
        std::string reply = ask(request(0x23));
        EXPECT_EQ(reply[1], c.served_stratum) << c.offset_minutes << " " << c.minutes_seconds_only;
        EXPECT_EQ((unsigned char)reply[0] >> 6, c.served_stratum == 16 ? 3u : 0u);
    }
}

// A leap second comes at the end of the month its warning was heard in.
TEST_F(SntpReply, AnUpstreamsLeapWarningIsServedUntilItsMonthEnds) {
    os_test_set_utc(2026, 12, 31, 12, 0, 0);
    sntp_upstream warned = upstream;
    warned.leap = 1;
    set_sntp_upstream(warned);
    EXPECT_EQ((unsigned char)ask(request(0x23))[0] >> 6, 1u);
    os_test_set_utc(2027, 1, 1, 0, 0, 1);
    std::string reply = ask(request(0x23));
    EXPECT_EQ((unsigned char)reply[0] >> 6, 0u);
    EXPECT_EQ(reply[1], 3);
}

}  // namespace
