// Memory: peak RSS of playing a file through the public API (a video thread
// and an audio thread, each kept within a second of the other), of reading
// the video only and the audio only (the other stream's pages then pile up
// in the reader), and of an open alone, beside ffmpeg's stream copy; and
// the peak heap and RSS of reading the video alone beside the bare floor
// (bench/floor.c) taking the same video frames out of the file. Read orders:
// the video then the audio, the audio then the video, both interleaved in
// one thread, and the two threads of play, each with the frames and audio
// it delivers, the bytes it reads from the file and its instructions per MB
// of file (callgrind), beside the floor over every page and packet; and the
// wall time of play.
//
//   ogm_bench_play --file F.ogm --label L --peak-rss
//   ogm_bench_play --file F.ogm --label L --heap   (the last two rows only)
//   ogm_bench_play --file F.ogm --label L --orders [--runs N]
//   ogm_bench_play --file F.ogm --mode play|video|audio|open|video-audio|audio-video|mixed
//       (one run, printing frames, audio bytes, bytes read and video bytes;
//        peak RSS is taken by the parent from wait4, the figure
//        /usr/bin/time -v reports as its maximum resident set size)
//   ogm_bench_play --file F.ogm --mode ogg-all
//       (the floor over every stream: packets, bytes read)
//   ogm_bench_play --file F.ogm --mode allocs|allocs-video
//       (heap allocations after a 12 s warm-up, to the end of the file)
//   ogm_bench_play --file F.ogm --mode heap-video|heap-ogg
//       (peak heap held beyond what the host had before the open)
#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "floor.h"

using namespace bench;

// Allocation count and heap in use: the executable's malloc family comes
// first in symbol lookup, so the library, libogg, Tremor and the plug-in
// allocate through it. The heap is counted in usable bytes, from the start.
namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gHeap{0}, gPeakHeap{0};

void* Counted(void* p) {
  if (gCounting.load(std::memory_order_relaxed)) ++gAllocations;
  if (p == nullptr) return p;
  const long now = gHeap += static_cast<long>(malloc_usable_size(p));
  long peak = gPeakHeap.load(std::memory_order_relaxed);
  while (now > peak && !gPeakHeap.compare_exchange_weak(peak, now)) {
  }
  return p;
}
void Uncount(void* p) {
  if (p != nullptr) gHeap -= static_cast<long>(malloc_usable_size(p));
}
}  // namespace
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
void* malloc(size_t n) { return Counted(__libc_malloc(n)); }
void* calloc(size_t count, size_t n) { return Counted(__libc_calloc(count, n)); }
void* realloc(void* p, size_t n) {
  // Counted as a free and an allocation (the block may move or grow).
  const long old = p != nullptr ? static_cast<long>(malloc_usable_size(p)) : 0;
  void* q = __libc_realloc(p, n);
  if (q == nullptr && n > 0) return q;  // p is still held
  gHeap -= old;
  return Counted(q);
}
void free(void* p) {
  Uncount(p);
  __libc_free(p);
}
void* memalign(size_t alignment, size_t n) { return Counted(__libc_memalign(alignment, n)); }
void* aligned_alloc(size_t alignment, size_t n) { return Counted(__libc_memalign(alignment, n)); }
int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = Counted(__libc_memalign(alignment, n));
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}

namespace {

// One thread: a video frame, then audio up to the video's time; counting
// starts after warmupFrames frames.
void CountAllocations(const StreamInfo& info, bool withAudio, int warmupFrames) {
  std::unique_ptr<uint8_t[]> video(HostBuffer(kVideoBufferBytes)),
      audio(HostBuffer(kAudioBufferBytes));
  const double rate = AudioBytesPerSecond(info);
  long frames = 0, videoCalls = 0, audioCalls = 0;
  double audioBytes = 0;
  bool audioDone = !withAudio || rate <= 0;
  while (AVIDecaps_NextVideoFrame(video.get(), 0) >= 0) {
    if (++frames == warmupFrames) gCounting = true;
    if (gCounting) ++videoCalls;
    while (!audioDone && audioBytes / rate < frames / info.framesPerSecond) {
      const int32_t n = AVIDecaps_ReadAudio(audio.get(), kRawAudioRequest);
      if (gCounting) ++audioCalls;
      if (n <= 0) audioDone = true;
      audioBytes += n > 0 ? n : 0;
    }
  }
  gCounting = false;
  std::printf("%ld %ld %ld\n", videoCalls, audioCalls, gAllocations.load());
}

std::atomic<double> gVideoSeconds{0}, gAudioSeconds{0};
std::atomic<bool> gVideoDone{false}, gAudioDone{false};

void VideoThread(const StreamInfo& info, int64_t* frames, int64_t* bytes) {
  std::unique_ptr<uint8_t[]> frame(HostBuffer(kVideoBufferBytes));
  int32_t n;
  while ((n = AVIDecaps_NextVideoFrame(frame.get(), 0)) >= 0) {
    ++*frames;
    *bytes += n;
    gVideoSeconds = *frames / info.framesPerSecond;
    while (!gAudioDone && gVideoSeconds > gAudioSeconds + 1.0)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  gVideoDone = true;
}

void AudioThread(const StreamInfo& info, int64_t* bytes) {
  std::unique_ptr<uint8_t[]> buffer(HostBuffer(kAudioBufferBytes));
  const double rate = AudioBytesPerSecond(info);
  int32_t n;
  while (rate > 0 && (n = AVIDecaps_ReadAudio(buffer.get(), kRawAudioRequest)) > 0) {
    *bytes += n;
    gAudioSeconds = *bytes / rate;
    while (!gVideoDone && gAudioSeconds > gVideoSeconds + 1.0)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  gAudioDone = true;
}

// The peak heap from now on beyond what is held now.
long StartHeapPeak() {
  const long now = gHeap.load();
  gPeakHeap = now;
  return now;
}

// Video alone through the public API: frames, and the peak heap the reader
// held beyond the host's buffer (allocated before the open).
int HeapVideo(const std::string& file) {
  std::unique_ptr<uint8_t[]> frame(HostBuffer(kVideoBufferBytes));
  const std::u16string name = Utf16(file);
  const long before = StartHeapPeak();
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return 1;
  long frames = 0;
  while (AVIDecaps_NextVideoFrame(frame.get(), 0) >= 0) ++frames;
  const long peak = gPeakHeap.load() - before;
  AVIDecaps_Close();
  std::printf("%ld %ld\n", frames, peak);
  return 0;
}

// The floor (bench/floor.c) over the same file: the first stream's pages
// only (heap-ogg: the peak heap beyond what was held before it) or every
// page and packet (ogg-all).
int FloorMode(const std::string& file, bool heap) {
  const long before = StartHeapPeak();
  FloorCounts c;
  if (!FloorDemux(file.c_str(), heap ? kFloorFirstStream : 0, &c)) return 1;
  if (heap)
    std::printf("%lld %ld\n", c.frames, gPeakHeap.load() - before);
  else
    std::printf("%lld %lld\n", c.packets, c.bytesRead);
  return 0;
}

// Rows of the peak heap and RSS of video-only reading, ours and the floor.
void HeapRows(const std::string& file, const std::string& label) {
  for (const char* m : {"heap-video", "heap-ogg"}) {
    const ChildResult r = RunChild({SelfExe(), "--file", file, "--mode", m}, true);
    long frames = 0, peak = 0;
    std::sscanf(r.out.c_str(), "%ld %ld", &frames, &peak);
    const bool ours = std::string(m) == "heap-video";
    Row("memory", (ours ? "ours, " : "bare libogg loop, ") + label + ", video only",
        Fmt("%s peak heap", Bytes(static_cast<double>(peak)).c_str()),
        Fmt("%.1f MB peak RSS", r.maxRssKb / 1024.0), Fmt("%ld frames", frames),
        r.exitCode != 0 ? "FAILED"
        : ours          ? "heap beyond the host's buffers"
                        : "");
  }
}

struct Delivered {
  long long frames = 0, audio = 0, read = 0, videoBytes = 0;
  bool ok = false;
};
Delivered RunOrder(const std::vector<std::string>& child) {
  const ChildResult r = RunChild(child, true);
  Delivered d;
  d.ok = r.exitCode == 0 && std::sscanf(r.out.c_str(), "%lld %lld %lld %lld", &d.frames, &d.audio,
                                        &d.read, &d.videoBytes) == 4;
  return d;
}

// Rows per read order, the floor's row and play's wall time.
void OrderRows(const std::string& file, const std::string& label, int runs) {
  Dl_info where = {};
  if (dladdr(reinterpret_cast<void*>(&AVIDecaps_Open), &where) != 0 && where.dli_fname)
    Row("orders", "library", where.dli_fname);
  const double mb = static_cast<double>(FileSize(file)) / 1e6;
  struct Order {
    const char* mode;
    const char* subject;
  };
  const Order orders[] = {{"mixed", "interleaved, one thread"},
                          {"video-audio", "video, then audio"},
                          {"audio-video", "audio, then video"},
                          {"play", "two threads (play)"}};
  double playInstructions = -1;
  for (const Order& o : orders) {
    const std::vector<std::string> child = {SelfExe(), "--file", file, "--mode", o.mode};
    const Delivered d = RunOrder(child);
    const double instructions = CallgrindInstructions(child);
    if (std::string(o.mode) == "play") playInstructions = instructions;
    Row("orders", label + ", " + o.subject,
        Fmt("%lld frames, %s video", d.frames, Bytes(static_cast<double>(d.videoBytes)).c_str()),
        Fmt("%s audio", Bytes(static_cast<double>(d.audio)).c_str()),
        Fmt("%s read (%.3fx file)", Bytes(static_cast<double>(d.read)).c_str(), d.read / 1e6 / mb),
        Fmt("%.2f M instructions per MB", instructions / 1e6 / mb) + (d.ok ? "" : ", FAILED"));
  }
  const std::vector<std::string> floor = {SelfExe(), "--file", file, "--mode", "ogg-all"};
  const ChildResult f = RunChild(floor, true);
  long long packets = 0, read = 0;
  std::sscanf(f.out.c_str(), "%lld %lld", &packets, &read);
  Row("orders", "bare libogg loop, " + label + ", every page and packet",
      Fmt("%lld packets", packets), "", Fmt("%s read", Bytes(static_cast<double>(read)).c_str()),
      Fmt("%.2f M instructions per MB", CallgrindInstructions(floor) / 1e6 / mb) +
          (f.exitCode == 0 ? "" : ", FAILED"));
  std::vector<double> wall, cpu;
  for (int i = 0; i < runs; ++i) {
    const ChildResult r = RunChild({SelfExe(), "--file", file, "--mode", "play"});
    if (r.exitCode != 0) continue;
    wall.push_back(r.wallMs / 1e3);
    cpu.push_back(r.cpuSeconds);
  }
  Row("orders", "ours, " + label + ", play (two threads)",
      Fmt("%.2f s wall (median of %zu, worst %.2f)", Median(wall), wall.size(), Worst(wall)),
      Fmt("%.2f s CPU", Median(cpu)), Fmt("%.3f G instructions", playInstructions / 1e9),
      static_cast<int>(wall.size()) == runs ? "" : "FAILED runs");
}

int RunMode(const std::string& file, const std::string& mode) {
  if (mode == "heap-video") return HeapVideo(file);
  if (mode == "heap-ogg" || mode == "ogg-all") return FloorMode(file, mode == "heap-ogg");
  const std::u16string name = Utf16(file);
  const int64_t readBefore = ProcessReadBytes();
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return 1;
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  int64_t frames = 0, audio = 0, videoBytes = 0;
  if (mode == "allocs" || mode == "allocs-video") {
    CountAllocations(info, mode == "allocs", static_cast<int>(12 * info.framesPerSecond));
    AVIDecaps_Close();
    return 0;
  }
  if (mode == "play") {
    std::thread v(VideoThread, std::cref(info), &frames, &videoBytes);
    std::thread a(AudioThread, std::cref(info), &audio);
    v.join();
    a.join();
  } else {
    // One thread: the video, the audio or both, in the order the mode names.
    const bool both = mode == "video-audio" || mode == "audio-video" || mode == "mixed";
    const bool videoFirst = mode == "video" || mode == "video-audio";
    const bool audioFirst = mode == "audio" || mode == "audio-video";
    ReadTotals first, second;
    if (videoFirst || audioFirst) first = ReadAll(info, videoFirst, audioFirst);
    if (both) second = ReadAll(info, !videoFirst, !audioFirst);
    frames = first.frames + second.frames;
    videoBytes = first.videoBytes + second.videoBytes;
    audio = first.audioBytes + second.audioBytes;
  }
  AVIDecaps_Close();
  std::printf(
      "%lld %lld %lld %lld\n", static_cast<long long>(frames), static_cast<long long>(audio),
      static_cast<long long>(ProcessReadBytes() - readBefore), static_cast<long long>(videoBytes));
  return mode == "open" || frames > 0 || audio > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const std::string mode = Arg(argc, argv, "--mode");
  if (file.empty()) {
    std::fprintf(
        stderr,
        "usage: ogm_bench_play --file F.ogm (--label L (--peak-rss | --heap | --orders [--runs N]) "
        "| --mode M)\n");
    return 2;
  }
  if (!mode.empty()) return RunMode(file, mode);
  const std::string label = Arg(argc, argv, "--label", "file");
  if (Flag(argc, argv, "--orders")) {
    OrderRows(file, label, std::atoi(Arg(argc, argv, "--runs", "5").c_str()));
    return 0;
  }
  if (Flag(argc, argv, "--heap")) {
    HeapRows(file, label);
    return 0;
  }
  struct Case {
    const char* mode;
    const char* subject;
  };
  const Case cases[] = {{"open", "open only"},
                        {"play", "play (video + audio threads)"},
                        {"video", "video only"},
                        {"audio", "audio only"}};
  for (const Case& c : cases) {
    const ChildResult r = RunChild({SelfExe(), "--file", file, "--mode", c.mode}, true);
    long long frames = 0, audio = 0;
    std::sscanf(r.out.c_str(), "%lld %lld", &frames, &audio);
    Row("memory", std::string("ours, ") + label + ", " + c.subject,
        Fmt("%.1f MB peak RSS", r.maxRssKb / 1024.0), Fmt("%.2f s wall", r.wallMs / 1e3),
        Fmt("%lld frames, %s audio", frames, Bytes(static_cast<double>(audio)).c_str()),
        r.exitCode == 0 ? "" : "FAILED");
  }
  for (const char* m : {"allocs", "allocs-video"}) {
    const ChildResult r = RunChild({SelfExe(), "--file", file, "--mode", m}, true);
    long video = 0, audio = 0, allocations = -1;
    std::sscanf(r.out.c_str(), "%ld %ld %ld", &video, &audio, &allocations);
    const bool both = std::string(m) == "allocs";
    Row("memory", "ours, " + label + (both ? ", allocations, play" : ", allocations, video only"),
        Fmt("%ld allocations", allocations), Fmt("%ld video + %ld audio calls", video, audio),
        Fmt("%.4f per call", allocations / double(std::max(1L, video + audio))),
        r.exitCode == 0 ? "after a 12 s warm-up, to the end" : "FAILED");
  }
  HeapRows(file, label);
  const ChildResult ff = RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i",
                                   file, "-map", "0", "-c", "copy", "-f", "null", "-"});
  Row("memory", "ffmpeg -c copy, " + label, Fmt("%.1f MB peak RSS", ff.maxRssKb / 1024.0),
      Fmt("%.2f s wall", ff.wallMs / 1e3), "", ff.exitCode == 0 ? "" : "FFMPEG FAILED");
  return 0;
}
