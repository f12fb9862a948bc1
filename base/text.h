// Bounded text routines for the program's fixed zero-terminated buffers.
// Every copy is cut to the buffer size less one, so no input overruns a buffer.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Copies src into dst of dst_size bytes, cut to fit; returns the length written.
size_t text_copy(char* dst, size_t dst_size, const char* src);
// Appends src to the text in dst, cut to fit; returns the new length.
size_t text_append(char* dst, size_t dst_size, const char* src);
// Length of a text held in a buffer of size bytes, even when it lacks its terminator.
size_t text_length(const char* text, size_t size);
// Decimal text of a signed number: "0", "-12", no padding. out holds at least 12 bytes.
void text_of_int(int32_t value, char* out);
// Reads every character as a digit without checking it (value * 10 + code - 48).
uint32_t int_of_text(const char* text, size_t count);
// Lower-cases A to Z in place.
void text_lower(char* text);
