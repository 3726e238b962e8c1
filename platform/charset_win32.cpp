#include <windows.h>

#include <vector>

#include "platform/charset.h"

namespace {

// The whole of text in code page `page`, or an empty vector when the bytes
// are not valid there (only UTF-8 is checked strictly).
std::vector<wchar_t> Convert(UINT page, DWORD flags, const char* text, int len) {
  const int units = MultiByteToWideChar(page, flags, text, len, nullptr, 0);
  std::vector<wchar_t> out(units > 0 ? static_cast<size_t>(units) : 0);
  if (units > 0 && MultiByteToWideChar(page, flags, text, len, out.data(), units) != units)
    out.clear();
  return out;
}

}  // namespace

// UTF-8 first; text that is not valid UTF-8 is taken as Windows-1252, so
// names written by old tools stay readable whatever the system's code page.
size_t AnsiToUtf16(const char* text, size_t len, char16_t* dst, size_t dstUnits) {
  if (dstUnits == 0) return 0;
  const size_t limit = dstUnits - 1;
  std::vector<wchar_t> wide;
  if (text != nullptr && len > 0 && len <= 0x7FFFFFFF) {
    const int n = static_cast<int>(len);
    wide = Convert(CP_UTF8, MB_ERR_INVALID_CHARS, text, n);
    if (wide.empty()) wide = Convert(1252, 0, text, n);
  }
  size_t w = 0;
  for (size_t i = 0; i < wide.size();) {
    // A surrogate pair is copied whole or not at all.
    const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size();
    const size_t step = pair ? 2 : 1;
    if (w + step > limit) break;
    for (size_t k = 0; k < step; ++k) dst[w++] = static_cast<char16_t>(wide[i + k]);
    i += step;
  }
  dst[w] = 0;
  return w;
}
