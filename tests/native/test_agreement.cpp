// Which servers agree: the largest group whose intervals meet, if a majority.
#include <gtest/gtest.h>

#include <vector>

#include "machine.h"
#include "sync/agreement.h"
#include "store/settings_store.h"
#include "sync/cycle_answers.h"

TEST(Agreement, TheLargestMeetingGroupIfAMajority) {
    struct {
        std::vector<time_sample> samples;
        bool found;
        uint32_t members;
        double offset;
    } cases[] = {
        // One server an hour off among three that agree to within their distances.
        {{{0.050, 0.01}, {0.052, 0.01}, {3600.0, 0.01}, {0.045, 0.01}}, true, 0b1011, 0.050},
        // A tie, two and two: no majority.
        {{{0.0, 0.01}, {0.001, 0.01}, {3600.0, 0.01}, {3600.001, 0.01}}, false, 0, 0},
        // Two an hour apart.
        {{{0.0, 0.01}, {3600.0, 0.01}}, false, 0, 0},
        // A Time Protocol answer's whole second holds the SNTP ones; where no
        // member's offset lies inside what all of them share, its middle.
        {{{0.5, 0.5}, {0.2, 0.002}, {0.203, 0.002}, {9.0, 0.001}}, true, 0b0111, 0.2015},
        // An even group's median is the mean of its middle two.
        {{{0.1, 1}, {0.3, 1}, {0.2, 1}, {0.4, 1}}, true, 0b1111, 0.25},
        // A distance over a second takes no part: an hour's liar with a
        // dispersion to match agrees with nobody, and counts for nobody.
        {{{-2.0, 3.0}, {2.0, 3.0}, {0.5, 0.1}}, true, 0b100, 0.5},
        {{{3600, 3700}, {0.0, 0.02}}, true, 0b10, 0.0},
        // A member whose interval merely reaches the others' moves nothing.
        {{{0.0, 0.02}, {0.9, 0.95}}, true, 0b11, 0.0},
        // One answer is a majority of one.
        {{{-7.25, 0.01}}, true, 0b1, -7.25},
    };
    for (auto& c : cases) {
        agreement a = find_agreement(c.samples.data(), (int)c.samples.size());
        EXPECT_EQ(a.found, c.found) << c.samples.size();
        if (!c.found) continue;
        EXPECT_EQ(a.members, c.members);
        EXPECT_DOUBLE_EQ(a.offset, c.offset);
    }
    std::vector<time_sample> scattered = {{1, 0.01}, {2, 0.01}, {4, 0.01}};
    EXPECT_DOUBLE_EQ(find_agreement(scattered.data(), 3).spread, 3.0);
}

// Time Protocol answers on either side of 2036-02-07 06:28:16, when the 32-bit
// seconds start again from 0, agree with an SNTP answer as they should.
class AgreementAcrossTheEra : public Machine {};

TEST_F(AgreementAcrossTheEra, TimeProtocolSecondsOnEitherSideOfTheWrap) {
    struct { int clock_second; uint32_t seconds; double offset; } cases[] = {
        {15, 1, 2.5},            // the clock before the wrap, the answer after it
        {17, 0xFFFFFFFFu, -1.5},  // the clock after the wrap, the answer before it
        {17, 0, -0.5},
    };
    for (auto& c : cases) {
        os_test_set_utc(2036, 2, 7, 6, 28, c.clock_second);
        attempt_result answer;
        answer.protocol = protocol_time;
        answer.seconds = c.seconds;
        answer.reply_tick = GetTickCount();
        time_sample tp = sample_of(answer);
        EXPECT_NEAR(tp.offset, c.offset, 1e-9) << c.seconds;
        attempt_result sntp;
        sntp.protocol = protocol_sntp;
        sntp.offset_sum = (int64_t)(c.offset * 8589934592.0);  // twice the offset, 32.32
        std::vector<time_sample> both = {tp, sample_of(sntp)};
        EXPECT_TRUE(find_agreement(both.data(), 2).found) << c.seconds;
    }
}
