#include "base/text.h"

#include <string.h>

size_t text_copy(char* dst, size_t dst_size, const char* src) {
    if (dst_size == 0) return 0;
    size_t n = text_length(src, dst_size - 1);
    memmove(dst, src, n);
    dst[n] = 0;
    return n;
}

size_t text_append(char* dst, size_t dst_size, const char* src) {
    size_t have = text_length(dst, dst_size);
    if (have >= dst_size) return have;
    return have + text_copy(dst + have, dst_size - have, src);
}

size_t text_length(const char* text, size_t size) {
    const void* end = memchr(text, 0, size);
    return end ? (size_t)((const char*)end - text) : size;
}

void text_of_int(int32_t value, char* out) {
    char digits[12];
    int n = 0;
    // Work on the magnitude as unsigned so that the most negative value is safe.
    uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    do {
        digits[n++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0) *out++ = '-';
    while (n) *out++ = digits[--n];
    *out = 0;
}

uint32_t int_of_text(const char* text, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; i++) value = value * 10 + (uint32_t)((unsigned char)text[i] - 48);
    return value;
}

void text_lower(char* text) {
    for (; *text; text++)
        if (*text >= 'A' && *text <= 'Z') *text = (char)(*text + 32);
}
