// The MD5 digest (RFC 1321) of a text, turned into bytes by a code-page rule.
// Portable: the one-character code-page conversion comes from the caller, so
// the same routine runs on the system's ANSI code page in the window and on a
// chosen code page in the tests.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// The code of one UTF-16 unit in the ANSI code page, as a signed 16-bit value:
// 0..255 for a single-byte character, lead * 256 + trail for a double-byte one.
// It is asked about units from 0x80 up only: ASCII is one byte, its own, in
// every ANSI code page.
typedef int16_t (*ansi_code_fn)(char16_t unit);

// The 16 digest bytes of any bytes, in RFC 1321 order.
void md5_digest(const unsigned char* bytes, size_t count, unsigned char (&out)[16]);

// 32 lower-case hexadecimal digits of the digest of message's bytes.
std::string md5(const std::u16string& sMessage, ansi_code_fn ansi_code);

// The steps of md5, open to the tests.
std::string toByteString(const std::u16string& text, ansi_code_fn ansi_code);
std::string hexOfWord(uint32_t word);

// Words are unsigned, so the sum wraps modulo 2^32 without any overflow.
inline uint32_t addWords(uint32_t x, uint32_t y) { return x + y; }

// Callers pass counts 1..31 only (the rounds use 4..23).
inline uint32_t rotateLeft32(uint32_t value, int count) {
    return (value << count) | (value >> (32 - count));
}

// RFC 1321's (x & y) | (~x & z) and (x & z) | (y & ~z), one operation shorter:
// each bit comes from y where x (z for G) has a 1, else from z (y).
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline void FF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = addWords(rotateLeft32(addWords(a, addWords(addWords(F(b, c, d), x), t)), s), b);
}
inline void GG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = addWords(rotateLeft32(addWords(a, addWords(addWords(G(b, c, d), x), t)), s), b);
}
inline void HH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = addWords(rotateLeft32(addWords(a, addWords(addWords(H(b, c, d), x), t)), s), b);
}
inline void II(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
    a = addWords(rotateLeft32(addWords(a, addWords(addWords(I(b, c, d), x), t)), s), b);
}
