// Reply bytes of the two protocols, for the loopback servers of the tests.
#pragma once
#include <stdint.h>

#include <string>

inline std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
inline std::string be64(uint64_t v) { return be32(uint32_t(v >> 32)) + be32(uint32_t(v)); }
inline uint64_t read64(const std::string& s, int at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) v = v << 8 | (unsigned char)s[at + i];
    return v;
}

// A server reply built from the request: mode 4, stratum 2, originate = our T1.
inline std::string sntp_reply(const std::string& request, uint64_t t2, uint64_t t3, unsigned char first = 0x24,
                              unsigned char stratum = 2) {
    std::string r(48, '\0');
    r[0] = char(first);
    r[1] = char(stratum);
    r.replace(24, 8, request.substr(40, 8));
    r.replace(32, 8, be64(t2));
    r.replace(40, 8, be64(t3));
    return r;
}
