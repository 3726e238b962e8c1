// Source names arrive as NUL-terminated UTF-16; POSIX calls and libcurl want
// bytes.
#ifndef OGMDECAPS_PLUGINS_COMMON_SOURCE_NAME_H
#define OGMDECAPS_PLUGINS_COMMON_SOURCE_NAME_H

#include <string>

// The UTF-8 file path for a name; empty for a null or empty name.
std::string PathFromName(const char16_t* name);

// The URL for a name as UTF-8 with every byte that may not appear raw in a
// URL (non-ASCII, space, control characters) percent-encoded, so a URL typed
// with accented letters still reaches the server; empty for a null name.
std::string UrlFromName(const char16_t* name);

#endif
