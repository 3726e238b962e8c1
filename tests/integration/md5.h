// MD5 (RFC 1321) of a byte range as 32 lowercase hex digits, to compare
// delivered frames with ffmpeg's framemd5 lines.
#ifndef OGMDECAPS_TESTS_INTEGRATION_MD5_H
#define OGMDECAPS_TESTS_INTEGRATION_MD5_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace integ {

std::string Md5Hex(const uint8_t* data, size_t size);

}  // namespace integ

#endif
