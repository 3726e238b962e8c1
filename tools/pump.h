// Pulls a source's video frames and audio in one thread, in time order, the
// way a player's two pulls would interleave. A host that wants only the
// video leaves the audio unread: the reader keeps only a bounded backlog of
// a stream nobody reads (the rest stays in the source), so reading (and
// decoding) audio only to throw it away would cost time and save nothing.
#ifndef OGMDECAPS_TOOLS_PUMP_H
#define OGMDECAPS_TOOLS_PUMP_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "reader_library.h"
#include "stream_facts.h"

namespace cli {

// A video buffer large enough for any frame the reader hands out.
constexpr size_t kVideoBufferBytes = 4u << 20;
// Vorbis calls return 2000 bytes or more plus one decoded batch.
constexpr size_t kAudioBufferBytes = 128u << 10;

// One call of the reader's audio entry at a time.
class AudioPuller {
 public:
  // exactTail: raw audio is asked for in small requests near its end, so no
  // bytes are lost there (a raw request the stream cannot fill returns 0 and
  // drops what it had). Costs many calls over the last stretch.
  AudioPuller(const ReaderApi& api, const StreamInfo& info, bool exactTail,
              int32_t rawChunk = 4096);
  // Bytes in buffer() (> 0), or 0 when the audio ended (readFailed() then
  // tells a failed read from the end).
  int32_t Read();
  bool readFailed() const { return readFailed_; }
  const uint8_t* buffer() const { return buffer_.data(); }
  // Raw audio: from now on only small requests (e.g. the video ended, so
  // the end of the audio is near too).
  void NearEnd() { nearEnd_ = true; }
  uint64_t delivered() const { return delivered_; }

 private:
  const ReaderApi& api_;
  AudioFacts facts_;
  bool exactTail_;
  int32_t rawChunk_;
  uint64_t tailStart_;
  bool nearEnd_ = false;
  bool readFailed_ = false;
  uint64_t delivered_ = 0;
  std::vector<uint8_t> buffer_;
};

struct PumpStats {
  int64_t frames = 0;
  uint64_t videoBytes = 0;
  uint64_t audioBytes = 0;
  bool videoEnded = false;
  bool audioEnded = false;
  bool readFailed = false;  // a stream ended by a read failure, not its end
};

class Pump {
 public:
  Pump(const OpenSource& source, bool exactAudio);
  // Return false to stop the pump.
  std::function<bool(const uint8_t* data, size_t size)> onVideo;
  std::function<bool(const uint8_t* data, size_t size)> onAudio;
  // Called after each step with the reader's progress in percent.
  std::function<void(double percent)> onProgress;
  // Runs until the video ends (and, when wantAudio, the audio too; without
  // it the audio is not read at all), a read
  // of the source fails, maxFrames frames were taken (-1: no limit) or a
  // handler said stop. Returns false when a handler stopped it.
  bool Run(bool wantAudio, int64_t maxFrames = -1);
  const PumpStats& stats() const { return stats_; }

 private:
  const OpenSource& source_;
  AudioFacts audio_;
  AudioPuller puller_;
  std::vector<uint8_t> video_;
  PumpStats stats_;
};

}  // namespace cli

#endif
