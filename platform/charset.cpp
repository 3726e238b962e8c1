#include "platform/charset.h"

#include <climits>

namespace {

#ifndef _WIN32
// Windows-1252 bytes 0x80..0x9F; the rest of the page maps to the same code
// point. Unassigned bytes map to themselves, as the platform converter does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
#endif

// Decodes one UTF-8 sequence at p (n bytes left). Returns its length, or 0
// when the bytes are not valid UTF-8 (overlong, surrogate, out of range).
size_t DecodeUtf8(const unsigned char* p, size_t n, char32_t* out) {
  const unsigned char b = p[0];
  size_t len;
  char32_t cp;
  char32_t min;
  if (b < 0x80) {
    *out = b;
    return 1;
  } else if ((b & 0xE0) == 0xC0) {
    len = 2, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, cp = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (len > n) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *out = cp;
  return len;
}

#ifndef _WIN32
bool IsValidUtf8(const unsigned char* p, size_t n) {
  char32_t cp = 0;
  for (size_t i = 0; i < n;) {
    const size_t len = DecodeUtf8(p + i, n - i, &cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}
#endif

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < maxUnits && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t len = DecodeUtf8(p + i, text.size() - i, &cp);
    if (len == 0) {
      // One replacement for the malformed sequence: its lead byte and the
      // continuation bytes that follow it.
      cp = 0xFFFD;
      len = 1;
      while (i + len < text.size() && len < 4 && (p[i + len] & 0xC0) == 0x80) ++len;
    }
    i += len;
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

#ifndef _WIN32  // Windows converts with MultiByteToWideChar (charset_win32.cpp)
size_t AnsiToUtf16(const char* text, size_t len, char16_t* dst, size_t dstUnits) {
  if (dstUnits == 0) return 0;
  const size_t limit = dstUnits - 1;
  size_t w = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (text != nullptr && IsValidUtf8(p, len)) {
    for (size_t i = 0; i < len;) {
      char32_t cp = 0;
      i += DecodeUtf8(p + i, len - i, &cp);
      if (cp >= 0x10000) {
        if (w + 2 > limit) break;
        dst[w++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        dst[w++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        if (w + 1 > limit) break;
        dst[w++] = static_cast<char16_t>(cp);
      }
    }
  } else if (text != nullptr) {
    for (size_t i = 0; i < len && w < limit; ++i) {
      const unsigned char b = p[i];
      dst[w++] = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
    }
  }
  dst[w] = 0;
  return w;
}
#endif  // !_WIN32

bool Utf16Contains(const char16_t* haystack, const char16_t* needle) {
  if (haystack == nullptr || needle == nullptr) return false;
  if (needle[0] == 0) return true;
  for (size_t i = 0; haystack[i] != 0; ++i) {
    size_t k = 0;
    while (needle[k] != 0 && haystack[i + k] == needle[k]) ++k;
    if (needle[k] == 0) return true;
  }
  return false;
}

int CompareNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    int ca = static_cast<unsigned char>(a[i]);
    int cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
    if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
  return 0;
}

int32_t DecimalToInt(const char* text) {
  if (text == nullptr) return 0;
  size_t i = 0;
  while (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
         text[i] == '\f' || text[i] == '\v')
    ++i;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int64_t value = 0;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}
