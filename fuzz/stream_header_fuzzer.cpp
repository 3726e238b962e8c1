// ParseStreamHeader on one packet (the whole input), with the results its
// header promises; then the Vorbis comment check discovery applies to the
// comment packets.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demux/chapter_comments.h"
#include "demux/discovery.h"
#include "demux/stream_header.h"
#include "input/result.h"

namespace {

[[noreturn]] void Broken(const char* what, long long value) {
  std::fprintf(stderr, "fuzz: %s (%lld)\n", what, value);
  std::abort();
}

StreamHeader* const kUntouched = reinterpret_cast<StreamHeader*>(0x1);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StreamHeader* header = kUntouched;
  const int32_t r = ParseStreamHeader(size == 0 ? nullptr : data, size, &header);
  switch (r) {
    case 0:
      if (header == nullptr) Broken("success without a record", 0);
      if (header == kUntouched) {
        // Only a type byte whose low bits are 101 makes nothing.
        if (size == 0 || (data[0] & 7) != 5) Broken("success left the record unset", data[0]);
        break;
      }
      if (header->extraSize < 0 || (header->extraSize > 0 && header->extra == nullptr))
        Broken("extra bytes", header->extraSize);
      if (header->extraSize > 0) {
        // Every extra byte must be readable (AddressSanitizer checks).
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < header->extraSize; ++i) sum = sum + header->extra[i];
      }
      (void)HasUsableTiming(*header);
      (void)IsVideoHeader(*header);
      FreeStreamHeader(header);
      break;
    case DECAPS_ERR_NOT_HEADER:
      if (header != kUntouched) Broken("not a header, yet the record was written", 0);
      break;
    case DECAPS_ERR_UNSUPPORTED_STREAM:
      if (header != nullptr) Broken("unsupported stream with a record", 0);
      break;
    default:
      Broken("unknown result", r);
  }
  // A comment packet that passes the check goes to Tremor and the chapter
  // collection exactly as discovery hands over the video comments.
  if (IsWellFormedComment(data, size)) {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_info_init(&vi);
    vorbis_comment_init(&vc);
    vi.rate = 1;
    ogg_packet packet = {};
    packet.packet = const_cast<unsigned char*>(data);
    packet.bytes = static_cast<long>(size);
    packet.b_o_s = 0;
    if (vorbis_synthesis_headerin(&vi, &vc, &packet) == 0) {
      static StreamInfo info;
      const int32_t count = CollectChapterNames(vc, info);
      if (count < 0 || count > kMaxChapters) Broken("chapter count", count);
    }
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
  }
  return 0;
}
