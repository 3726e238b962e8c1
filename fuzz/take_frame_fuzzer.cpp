// TakeFrame on arbitrary packets: the input describes pages (see
// page_script.h) that are built, handed to a StreamSlot with
// ogg_stream_pagein, and drained with TakeFrame after each page.
#include <ogg/ogg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demux/take_frame.h"
#include "input/result.h"
#include "ogm_writer.h"
#include "page_script.h"

namespace {

[[noreturn]] void Broken(const char* what, long long value) {
  std::fprintf(stderr, "fuzz: %s (%lld)\n", what, value);
  std::abort();
}

// Builds one page from the record at data[pos]; returns the bytes taken.
size_t BuildPage(const uint8_t* data, size_t size, size_t pos, uint32_t& sequence,
                 std::vector<uint8_t>& page, uint8_t& flags) {
  page.clear();
  if (size - pos < 10) return size - pos;
  flags = data[pos];
  const uint64_t granule = fuzz::GetLe(data + pos + 1, 8);
  const uint8_t segments = data[pos + 9];
  pos += 10;
  const size_t lacingBytes = segments < size - pos ? segments : size - pos;
  const uint8_t* lacing = data + pos;
  pos += lacingBytes;
  size_t laced = 0;
  for (size_t i = 0; i < lacingBytes; ++i) laced += lacing[i];
  const size_t bodyBytes = laced < size - pos ? laced : size - pos;

  if ((flags & fuzz::kSkipSequence) != 0) ++sequence;
  ogmtest::PageFields fields;
  fields.serial = (flags & fuzz::kOtherSerial) != 0 ? 1 : 0;
  fields.granule = static_cast<int64_t>(granule);
  fields.sequence = sequence++;
  fields.continued = (flags & fuzz::kContinued) != 0;
  fields.bos = (flags & fuzz::kBos) != 0;
  fields.eos = (flags & fuzz::kEos) != 0;
  // The sync layer only hands out pages whose body is as long as the lacing
  // says; a body cut short by the end of the input is padded.
  ogmtest::Bytes body(data + pos, data + pos + bodyBytes);
  body.resize(laced, 0);
  page = ogmtest::BuildPageFromLacing(fields, ogmtest::Bytes(lacing, lacing + lacingBytes), body);
  return 10 + lacingBytes + bodyBytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < fuzz::kScriptHeaderBytes) return 0;
  StreamHeader header;
  header.timeUnit = static_cast<int64_t>(fuzz::GetLe(data, 8));
  header.samplesPerUnit = static_cast<int64_t>(fuzz::GetLe(data + 8, 8));
  header.defaultLength = static_cast<int32_t>(fuzz::GetLe(data + 16, 4));

  StreamSlot slot;
  if (StreamSlotInit(slot, 0) != kDone) return 0;
  uint32_t sequence = 0;
  long long packetsIn = 0, taken = 0;
  std::vector<uint8_t> bytes;
  for (size_t pos = fuzz::kScriptHeaderBytes; pos < size;) {
    uint8_t flags = 0;
    pos += BuildPage(data, size, pos, sequence, bytes, flags);
    if (bytes.size() < 27) break;
    ogg_page page;
    page.header = bytes.data();
    page.header_len = 27 + bytes[26];
    page.body = bytes.data() + page.header_len;
    page.body_len = static_cast<long>(bytes.size()) - page.header_len;
    if ((flags & fuzz::kResetFirst) != 0) StreamSlotReset(slot);
    packetsIn += bytes[26] + 1;
    ogg_stream_pagein(&slot.streamState, &page);
    if ((flags & fuzz::kHoldFrames) != 0) continue;
    for (;;) {
      Frame frame;
      frame.payload = nullptr;
      frame.size = -7;
      const int32_t r = TakeFrame(slot, header, &frame);
      if (r == kNoPacket) break;
      if (++taken > packetsIn) Broken("more packets out than went in", taken);
      if (r == kPacket || r == DECAPS_ERR_NO_GRANULE) {
        if (frame.size < 0 || (frame.size > 0 && frame.payload == nullptr))
          Broken("frame size", frame.size);
        // The payload must lie inside the packet: AddressSanitizer checks.
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < frame.size; ++i) sum = sum + frame.payload[i];
        if (frame.keyframe > 1 || frame.endOfStream > 1) Broken("flags", frame.keyframe);
        if (r == kPacket && slot.lastGranule == -1) Broken("granule result without a granule", 0);
        if (r == DECAPS_ERR_NO_GRANULE && slot.lastGranule != -1)
          Broken("no-granule result with one", 0);
        if (r == DECAPS_ERR_NO_GRANULE && frame.keyframe != 0) Broken("untimed keyframe", 0);
      } else if (r != kGap && r != DECAPS_ERR_HEADER_PACKET && r != DECAPS_ERR_BAD_PACKET) {
        Broken("unknown result", r);
      }
    }
  }
  StreamSlotClear(slot);
  return 0;
}
