#include "plugins/common/source_name.h"

#include "platform/charset.h"

std::string PathFromName(const char16_t* name) { return Utf16ToUtf8(name); }

std::string UrlFromName(const char16_t* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url;
  for (unsigned char ch : Utf16ToUtf8(name)) {
    if (ch <= 0x20 || ch >= 0x7F) {
      url += '%';
      url += kHex[ch >> 4];
      url += kHex[ch & 0x0F];
    } else {
      url += static_cast<char>(ch);
    }
  }
  return url;
}
