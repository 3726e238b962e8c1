// Text helpers: UTF-16 names, chapter-name conversion and the small C-string
// routines the reader needs, with one behaviour on every platform.
#ifndef OGMDECAPS_PLATFORM_CHARSET_H
#define OGMDECAPS_PLATFORM_CHARSET_H

#include <cstddef>
#include <cstdint>
#include <string>

// UTF-16 to UTF-8, up to a zero unit or maxUnits units; unpaired
// surrogates (and a pair cut by the limit) become U+FFFD. A null pointer
// gives an empty string.
std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits = SIZE_MAX);

// UTF-8 to UTF-16 (for the names hosts and tests build); each malformed
// sequence (a stray byte, an overlong form, an encoded surrogate, a cut
// sequence) becomes one U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

// Converts len bytes of text in the system's default code page to UTF-16 in
// dst, writing at most dstUnits - 1 units and then a zero unit (dstUnits must
// be at least 1). On POSIX hosts that page is UTF-8; text that is not valid
// UTF-8 is taken as Windows-1252, one character per byte, so names written by
// old tools stay readable. A character that would not fit whole is dropped.
// Returns the units written before the terminator.
size_t AnsiToUtf16(const char* text, size_t len, char16_t* dst, size_t dstUnits);

// True when needle occurs in haystack (both NUL-terminated UTF-16).
bool Utf16Contains(const char16_t* haystack, const char16_t* needle);

// Compares at most n characters, ASCII letters without regard to case;
// <0, 0, >0 like strncmp. Stops at a NUL in either string.
int CompareNoCase(const char* a, const char* b, size_t n);

// Decimal text to int like the C runtime's atoi: leading blanks, an optional
// sign, then digits up to the first non-digit; no digits give 0. Saturates
// instead of overflowing.
int32_t DecimalToInt(const char* text);

#endif
