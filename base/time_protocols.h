// What the protocol client and the time server share of the two protocols:
// their ports, their sizes and their byte order.
#pragma once
#include <stdint.h>

constexpr int time_protocol_port = 37;
constexpr int sntp_port = 123;
constexpr int time_protocol_reply_size = 4;
constexpr int sntp_packet_size = 48;

// Network byte order: most significant byte first.
inline uint32_t read_be32(const unsigned char* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline uint64_t read_be64(const unsigned char* p) { return (uint64_t)read_be32(p) << 32 | read_be32(p + 4); }
inline void write_be32(unsigned char* p, uint32_t v) {
    for (int i = 3; i >= 0; i--, v >>= 8) p[i] = (unsigned char)v;
}
inline void write_be64(unsigned char* p, uint64_t v) {
    write_be32(p, (uint32_t)(v >> 32));
    write_be32(p + 4, (uint32_t)v);
}
