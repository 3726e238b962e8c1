// UTF-8 <-> UTF-16 for the reader's names: source names go in as UTF-16,
// chapter names come out as UTF-16.
#ifndef OGMDECAPS_TOOLS_UTF16_H
#define OGMDECAPS_TOOLS_UTF16_H

#include <cstddef>
#include <string>

namespace cli {

// Malformed UTF-8 bytes become U+FFFD each.
std::u16string Utf8ToUtf16(const std::string& text);

// Reads at most maxUnits units, stopping at a zero unit. Unpaired
// surrogates become U+FFFD.
std::string Utf16ToUtf8(const char16_t* text, size_t maxUnits);

}  // namespace cli

#endif
