// Whatever arrives on UDP 123 gets no answer or one reply of 48 bytes, never
// more than the request held, and its originate time is the request's own.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "server/sntp_reply.h"
#include "tests/sim/os_test.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned char reply[sntp_packet_size + 16];
    memset(reply, 0xAA, sizeof reply);
    // Any client and any clock; the rates of earlier inputs may limit it.
    sntp_client client{size > 4 ? (uint64_t)data[0] << 8 | data[1] : 0, size > 4 ? data[2] : 0u, size > 4 && (data[3] & 1)};
    int length = size > 1500 ? 1500 : (int)size;
    int got = build_sntp_reply(data, length, client, 0x0123456789ABCDEFull,
                               *reinterpret_cast<unsigned char(*)[sntp_packet_size]>(reply));
    if (got != 0 && got != sntp_packet_size) abort();
    if (got > length) abort();
    if (got && memcmp(reply + 24, data + 40, 8) != 0) abort();
    for (size_t i = sntp_packet_size; i < sizeof reply; i++)
        if (reply[i] != 0xAA) abort();
    os_test_advance_ms(500);
    return 0;
}
