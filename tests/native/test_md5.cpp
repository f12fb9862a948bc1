#include <gtest/gtest.h>

#include <iconv.h>

#include <random>

#include "digest/md5.h"
#include "tests/native/digest_support.h"

static std::string bytes_of(std::initializer_list<int> list) {
    std::string bytes;
    for (int b : list) bytes += static_cast<char>(b);
    return bytes;
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char16_t* text;
        const char* digest;
    } suite[] = {
        {u"", "d41d8cd98f00b204e9800998ecf8427e"},
        {u"a", "0cc175b9c0f1b6a831c399e269772661"},
        {u"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {u"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {u"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {u"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : suite) EXPECT_EQ(md5(c.text, latin1_code), c.digest);
}

// The whole text through iconv at once, as an independent GBK encoder.
static std::string gbk_bytes(const std::u16string& text) {
    iconv_t cd = iconv_open("CP936", "UTF-16LE");
    std::string in;
    for (char16_t unit : text) {
        in += static_cast<char>(unit & 0xFF);
        in += static_cast<char>(unit >> 8);
    }
    std::string out(in.size() + 16, '\0');
    char* in_ptr = in.data();
    char* out_ptr = out.data();
    size_t in_left = in.size(), out_left = out.size();
    size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    EXPECT_NE(done, static_cast<size_t>(-1));
    out.resize(out.size() - out_left);
    return out;
}

TEST(Md5, MixedChineseTextIsItsGbkEncoding) {
    // The window's own words first (lead byte before trail, the full-width
    // colon of the captions double-byte too), then all ideographs, then mixtures:
    // the byte string may be twice the text.
    const std::u16string words[] = {u"加密", u"a加", u"md5："};
    std::mt19937 random(936);
    for (int round = 0; round < 53; round++) {
        std::u16string text = round < 3 ? words[round] : u"";
        const size_t length = round < 3 ? 0 : round == 3 ? 300 : random() % 300;
        for (size_t i = 0; i < length; i++) {
            // Odd rounds mostly ASCII, so that long runs of it meet ideographs.
            bool ideograph = round == 3 || random() % (round % 2 ? 40 : 2) == 0;
            text += ideograph ? static_cast<char16_t>(0x4E00 + random() % (0x9FA5 - 0x4E00 + 1))
                              : static_cast<char16_t>(0x20 + random() % 95);
        }
        const std::string expected = gbk_bytes(text);
        ASSERT_EQ(toByteString(text, gbk_code), expected) << "round " << round;
        ASSERT_EQ(md5(text, gbk_code), openssl_md5(expected)) << "round " << round;
    }
}

TEST(Md5, SingleByteCodeTakesTheLowByteOfTheUnit) {
    // U+00E9 is 0xE9 in code page 1252: unit and code agree.
    EXPECT_EQ(toByteString(u"é", cp1252_code), bytes_of({0xE9}));
    // U+20AC is 0x80 there, yet the byte is the unit's low byte, 0xAC.
    EXPECT_EQ(toByteString(u"€", cp1252_code), bytes_of({0xAC}));
    // A character the page lacks becomes its single-byte substitute: low byte again.
    EXPECT_EQ(toByteString(u"加", cp1252_code), bytes_of({0xA0}));
    EXPECT_EQ(md5(u"€", cp1252_code), openssl_md5(bytes_of({0xAC})));
}

TEST(Md5, MatchesOpenSslOnRandomBytes) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 400; round++) {
        size_t length = round < 300 ? static_cast<size_t>(round) : random() % 5000;
        std::string bytes(length, '\0');
        for (char& ch : bytes) ch = static_cast<char>(random() & 0xFF);
        std::string digest = md5(latin1_text(bytes), latin1_code);
        ASSERT_EQ(digest, openssl_md5(bytes)) << "length " << length;
    }
    // Spaces are part of the text; nothing is trimmed.
    EXPECT_EQ(md5(u"  abc ", latin1_code), openssl_md5("  abc "));
}

TEST(Md5, RotationAndHexIsLowByteFirst) {
    EXPECT_EQ(rotateLeft32(0x80000001, 4), 0x00000018u);
    EXPECT_EQ(hexOfWord(0x0A0B0C01), "010C0B0A");
}
