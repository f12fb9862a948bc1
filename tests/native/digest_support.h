// Code pages and an independent MD5 for the digest tests.
#pragma once
#include <iconv.h>
#include <openssl/evp.h>

#include <string>

#include "digest/md5.h"

// The code of one UTF-16 unit in a code page known to iconv, as the Windows
// conversion of a single character gives it: '?' for a character the page lacks.
inline int16_t code_in_page(const char* page, char16_t unit) {
    iconv_t cd = iconv_open(page, "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) return '?';
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char out[8];
    char* in_ptr = in;
    char* out_ptr = out;
    size_t in_left = sizeof in, out_left = sizeof out;
    size_t done = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    size_t count = sizeof out - out_left;
    if (done == static_cast<size_t>(-1) || count == 0 || count > 2) return '?';
    if (count == 1) return static_cast<unsigned char>(out[0]);
    return static_cast<int16_t>(static_cast<uint16_t>((static_cast<unsigned char>(out[0]) << 8) |
                                                      static_cast<unsigned char>(out[1])));
}

inline int16_t gbk_code(char16_t unit) { return code_in_page("CP936", unit); }
inline int16_t cp1252_code(char16_t unit) { return code_in_page("CP1252", unit); }
// Every unit below 256 is its own single-byte code: the text's low bytes are its bytes.
inline int16_t latin1_code(char16_t unit) { return unit < 256 ? static_cast<int16_t>(unit) : '?'; }

inline std::string openssl_md5(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_md5(), NULL);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; i++) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

inline std::u16string latin1_text(const std::string& bytes) {
    std::u16string text;
    for (char ch : bytes) text += static_cast<char16_t>(static_cast<unsigned char>(ch));
    return text;
}
