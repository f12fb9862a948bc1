#include "digest/md5.h"

#include <algorithm>

std::string toByteString(const std::u16string& text, ansi_code_fn ansi_code) {
    // Sized for the worst case and cut at the end: a megabyte of text is one
    // allocation, not a growing string.
    std::string bytes(text.size() * 2, '\0');
    const char16_t* units = text.data();
    char* out = bytes.data();
    const size_t count = text.size();
    size_t n = 0, i = 0;
    while (i < count) {
        // Every ANSI code page keeps ASCII in one byte, its own: a run of it is
        // copied sixteen units at a time, which compilers do in a few instructions.
        if (i + 16 <= count) {
            // A copy of its own, which the bytes written cannot be taken to alias.
            char16_t run[16];
            std::copy(units + i, units + i + 16, run);
            char16_t any = 0;
            for (char16_t unit : run) any |= unit;
            if (any < 0x80) {
                for (int k = 0; k < 16; k++) out[n + k] = static_cast<char>(run[k]);
                n += 16;
                i += 16;
                continue;
            }
        }
        const char16_t unit = units[i++];
        // Only the other units need the (slow, on Windows) conversion.
        int code = unit < 0x80 ? unit : ansi_code(unit);
        if (code >= 0 && code <= 255) {
            // A single-byte character gives the low byte of its own unit, not its
            // code-page byte; for ASCII the two agree.
            out[n++] = static_cast<char>(unit & 0xFF);
        } else {
            uint16_t word = static_cast<uint16_t>(code);
            out[n++] = static_cast<char>(word >> 8);
            out[n++] = static_cast<char>(word & 0xFF);
        }
    }
    bytes.resize(n);
    return bytes;
}

std::string hexOfWord(uint32_t word) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex(8, '0');
    for (int j = 0; j < 4; j++) {
        uint32_t byte = (word >> (8 * j)) & 255;
        hex[2 * j] = digits[byte >> 4];
        hex[2 * j + 1] = digits[byte & 15];
    }
    return hex;
}

// A word from four bytes, least significant first; compilers make it one load.
static inline uint32_t word_at(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// The rounds over count 64-byte blocks, read where they lie: no copy of the message.
static void digest_blocks(const unsigned char* bytes, size_t count, uint32_t state[4]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; count--, bytes += 64) {
        uint32_t m[16];
        for (int i = 0; i < 16; i++) m[i] = word_at(bytes + 4 * i);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        FF(a, b, c, d, m[0], 7, 0xd76aa478);
        FF(d, a, b, c, m[1], 12, 0xe8c7b756);
        FF(c, d, a, b, m[2], 17, 0x242070db);
        FF(b, c, d, a, m[3], 22, 0xc1bdceee);
        FF(a, b, c, d, m[4], 7, 0xf57c0faf);
        FF(d, a, b, c, m[5], 12, 0x4787c62a);
        FF(c, d, a, b, m[6], 17, 0xa8304613);
        FF(b, c, d, a, m[7], 22, 0xfd469501);
        FF(a, b, c, d, m[8], 7, 0x698098d8);
        FF(d, a, b, c, m[9], 12, 0x8b44f7af);
        FF(c, d, a, b, m[10], 17, 0xffff5bb1);
        FF(b, c, d, a, m[11], 22, 0x895cd7be);
        FF(a, b, c, d, m[12], 7, 0x6b901122);
        FF(d, a, b, c, m[13], 12, 0xfd987193);
        FF(c, d, a, b, m[14], 17, 0xa679438e);
        FF(b, c, d, a, m[15], 22, 0x49b40821);

        GG(a, b, c, d, m[1], 5, 0xf61e2562);
        GG(d, a, b, c, m[6], 9, 0xc040b340);
        GG(c, d, a, b, m[11], 14, 0x265e5a51);
        GG(b, c, d, a, m[0], 20, 0xe9b6c7aa);
        GG(a, b, c, d, m[5], 5, 0xd62f105d);
        GG(d, a, b, c, m[10], 9, 0x02441453);
        GG(c, d, a, b, m[15], 14, 0xd8a1e681);
        GG(b, c, d, a, m[4], 20, 0xe7d3fbc8);
        GG(a, b, c, d, m[9], 5, 0x21e1cde6);
        GG(d, a, b, c, m[14], 9, 0xc33707d6);
        GG(c, d, a, b, m[3], 14, 0xf4d50d87);
        GG(b, c, d, a, m[8], 20, 0x455a14ed);
        GG(a, b, c, d, m[13], 5, 0xa9e3e905);
        GG(d, a, b, c, m[2], 9, 0xfcefa3f8);
        GG(c, d, a, b, m[7], 14, 0x676f02d9);
        GG(b, c, d, a, m[12], 20, 0x8d2a4c8a);

        HH(a, b, c, d, m[5], 4, 0xfffa3942);
        HH(d, a, b, c, m[8], 11, 0x8771f681);
        HH(c, d, a, b, m[11], 16, 0x6d9d6122);
        HH(b, c, d, a, m[14], 23, 0xfde5380c);
        HH(a, b, c, d, m[1], 4, 0xa4beea44);
        HH(d, a, b, c, m[4], 11, 0x4bdecfa9);
        HH(c, d, a, b, m[7], 16, 0xf6bb4b60);
        HH(b, c, d, a, m[10], 23, 0xbebfbc70);
        HH(a, b, c, d, m[13], 4, 0x289b7ec6);
        HH(d, a, b, c, m[0], 11, 0xeaa127fa);
        HH(c, d, a, b, m[3], 16, 0xd4ef3085);
        HH(b, c, d, a, m[6], 23, 0x04881d05);
        HH(a, b, c, d, m[9], 4, 0xd9d4d039);
        HH(d, a, b, c, m[12], 11, 0xe6db99e5);
        HH(c, d, a, b, m[15], 16, 0x1fa27cf8);
        HH(b, c, d, a, m[2], 23, 0xc4ac5665);

        II(a, b, c, d, m[0], 6, 0xf4292244);
        II(d, a, b, c, m[7], 10, 0x432aff97);
        II(c, d, a, b, m[14], 15, 0xab9423a7);
        II(b, c, d, a, m[5], 21, 0xfc93a039);
        II(a, b, c, d, m[12], 6, 0x655b59c3);
        II(d, a, b, c, m[3], 10, 0x8f0ccc92);
        II(c, d, a, b, m[10], 15, 0xffeff47d);
        II(b, c, d, a, m[1], 21, 0x85845dd1);
        II(a, b, c, d, m[8], 6, 0x6fa87e4f);
        II(d, a, b, c, m[15], 10, 0xfe2ce6e0);
        II(c, d, a, b, m[6], 15, 0xa3014314);
        II(b, c, d, a, m[13], 21, 0x4e0811a1);
        II(a, b, c, d, m[4], 6, 0xf7537e82);
        II(d, a, b, c, m[11], 10, 0xbd3af235);
        II(c, d, a, b, m[2], 15, 0x2ad7d2bb);
        II(b, c, d, a, m[9], 21, 0xeb86d391);

        a = addWords(a, aa);
        b = addWords(b, bb);
        c = addWords(c, cc);
        d = addWords(d, dd);
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

static void digest_words(const unsigned char* data, size_t n, uint32_t (&state)[4]) {
    state[0] = 0x67452301;
    state[1] = 0xefcdab89;
    state[2] = 0x98badcfe;
    state[3] = 0x10325476;
    const size_t whole = n / 64;
    digest_blocks(data, whole, state);
    // The rest, the 0x80 mark and the length in bits as a 64-bit little-endian
    // number: one block, or two when the length no longer fits in the first.
    unsigned char tail[128] = {};
    const size_t rest = n % 64, blocks = rest < 56 ? 1 : 2;
    std::copy(data + whole * 64, data + n, tail);
    tail[rest] = 0x80;
    const uint64_t bits = static_cast<uint64_t>(n) * 8;
    for (int i = 0; i < 8; i++) tail[blocks * 64 - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
    digest_blocks(tail, blocks, state);
}

void md5_digest(const unsigned char* bytes, size_t count, unsigned char (&out)[16]) {
    uint32_t state[4];
    digest_words(bytes, count, state);
    for (int i = 0; i < 16; i++) out[i] = static_cast<unsigned char>(state[i / 4] >> (8 * (i % 4)));
}

std::string md5(const std::u16string& sMessage, ansi_code_fn ansi_code) {
    const std::string bytes = toByteString(sMessage, ansi_code);
    uint32_t state[4];
    digest_words(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), state);
    std::string hex = hexOfWord(state[0]) + hexOfWord(state[1]) + hexOfWord(state[2]) + hexOfWord(state[3]);
    for (char& ch : hex)
        if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
    return hex;
}
