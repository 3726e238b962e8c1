// Seek: bytes read and milliseconds per seek over 100 percent seeks (fixed
// seed) and every chapter seek, beside ffmpeg -ss at the same positions; for
// Vorbis also the audio each seek decodes and drops, and (with valgrind)
// instructions per seek.
//
//   ogm_bench_seek --file F.ogm --label L [--ffmpeg-seeks K] [--count 100]
//                  [--seed S] [--callgrind-seeks N]
//   ogm_bench_seek --child --file F.ogm --count N [--chapters] [--seed S]
//       (N seeks and nothing else, for callgrind)
#include <dlfcn.h>
#include <ogmdecaps/ogmdecaps.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_util.h"

using namespace bench;

// Samples the Vorbis decoder hands out, counted while gCount is set: the
// library's calls to vorbis_synthesis_read land here (the executable's
// definition comes first in symbol lookup) and go on to Tremor's.
namespace {
bool gCount = false;
long long gSamples = 0;
}  // namespace

extern "C" int vorbis_synthesis_read(void* dsp, int samples) {
  using Fn = int (*)(void*, int);
  static Fn next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "vorbis_synthesis_read"));
  if (gCount && samples > 0) gSamples += samples;
  return next ? next(dsp, samples) : -1;
}

namespace {

std::vector<int> Percents(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(1, 99);
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(pick(rng));
  return v;
}

// Where each video frame begins in the file, read from the page headers:
// the reference for where a seek from a byte position should land.
struct VideoPacket {
  int64_t pageOffset;  // of the page the packet begins on
  int frame;
  bool keyframe;
};
std::vector<VideoPacket> IndexVideo(const std::string& path) {
  std::vector<VideoPacket> index;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return index;
  std::vector<uint8_t> data(static_cast<size_t>(FileSize(path)));
  const size_t got = std::fread(data.data(), 1, data.size(), f);
  std::fclose(f);
  data.resize(got);
  size_t at = 0;
  int packet = 0;         // video packets begun so far (header, comment, then frames)
  bool inPacket = false;  // a video packet continues onto the next page
  while (at + 27 <= data.size() && std::memcmp(&data[at], "OggS", 4) == 0) {
    const uint8_t* h = &data[at];
    const int serial = h[14] | h[15] << 8 | h[16] << 16 | h[17] << 24;
    const int segments = h[26];
    if (at + 27 + segments > data.size()) break;
    size_t body = at + 27 + segments;
    size_t bodySize = 0;
    for (int i = 0; i < segments; ++i) bodySize += h[27 + i];
    if (serial == 0) {
      size_t p = body;
      for (int i = 0; i < segments; ++i) {
        if (!inPacket && p < data.size()) {
          if (packet >= 2)
            index.push_back({static_cast<int64_t>(at), packet - 2, (data[p] & 0x08) != 0});
          ++packet;
        }
        p += h[27 + i];
        inPacket = h[27 + i] == 255;
      }
    }
    at = body + bodySize;
  }
  return index;
}

// The first keyframe that begins on a page at or after offset (-1: none).
int FirstKeyframeAfter(const std::vector<VideoPacket>& index, int64_t offset) {
  auto it = std::lower_bound(index.begin(), index.end(), offset,
                             [](const VideoPacket& v, int64_t o) { return v.pageOffset < o; });
  for (; it != index.end(); ++it)
    if (it->keyframe) return it->frame;
  return -1;
}

struct Seek {
  double ms = 0;
  double cpuMs = 0;
  double bytes = 0;
  double decodedSeconds = 0;
  int frame = 0;  // where it landed
};

ReaderFunctions Table() {
  ReaderFunctions t = {};
  InitializeReader(&t);
  return t;
}

template <class Do>
Seek Measure(const StreamInfo& info, Do seekCall) {
  static std::vector<uint8_t> frame(8 << 20);
  Seek s;
  gSamples = 0;
  gCount = true;
  const int64_t read0 = ProcessReadBytes();
  const double t0 = WallMs(), c0 = CpuSeconds();
  seekCall();
  s.ms = WallMs() - t0;
  s.cpuMs = (CpuSeconds() - c0) * 1e3;
  s.bytes = static_cast<double>(ProcessReadBytes() - read0);
  gCount = false;
  s.frame = info.currentFrame;
  if (info.audioFormat == 0 && info.audioParamB > 0)
    s.decodedSeconds = gSamples / double(info.audioParamB);
  AVIDecaps_NextVideoFrame(frame.data(), 0);  // the kept keyframe (no read)
  return s;
}

struct Column {
  std::vector<double> ms, cpuMs, bytes, decoded;
  void Add(const Seek& s) {
    ms.push_back(s.ms);
    cpuMs.push_back(s.cpuMs);
    bytes.push_back(s.bytes);
    decoded.push_back(s.decodedSeconds);
  }
};

std::string BytesCell(const std::vector<double>& b) {
  return Bytes(Median(b)) + " / " + Bytes(Worst(b));
}
std::string MsCell(const std::vector<double>& ms) {
  return Fmt("%.1f / %.1f ms", Median(ms), Worst(ms));
}
std::string OurMsCell(const Column& c) {
  return Fmt("%.1f / %.1f ms (CPU %.1f / %.1f)", Median(c.ms), Worst(c.ms), Median(c.cpuMs),
             Worst(c.cpuMs));
}

std::vector<std::string> FfmpegSeek(const std::string& file, double seconds) {
  std::vector<std::string> cmd = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error"};
  if (seconds >= 0) {  // before -i: seeking in the input
    cmd.push_back("-ss");
    cmd.push_back(Fmt("%.3f", seconds));
  }
  for (const std::string& a :
       {std::string("-i"), file, std::string("-frames:v"), std::string("1"), std::string("-map"),
        std::string("0"), std::string("-c"), std::string("copy"), std::string("-f"),
        std::string("null"), std::string("-")})
    cmd.push_back(a);
  return cmd;
}

// ffmpeg at each time: wall ms (a plain run) and bytes (a run under strace).
Column FfmpegColumn(const std::string& file, const std::vector<double>& times, bool* ok) {
  Column c;
  for (double t : times) {
    const auto cmd = FfmpegSeek(file, t);
    const ChildResult r = RunChild(cmd);
    if (r.exitCode != 0) *ok = false;
    c.ms.push_back(r.wallMs);
    c.bytes.push_back(static_cast<double>(StraceBytesRead(cmd, file)));
  }
  return c;
}

int ChildMode(const std::string& file, int count, bool chapters, unsigned seed) {
  const std::u16string name = Utf16(file);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return 1;
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  const ReaderFunctions table = Table();
  if (chapters) {
    for (int i = 0; i < count && i < info.chapterCount; ++i) table.seekChapter(i);
  } else {
    for (int pct : Percents(count, seed)) AVIDecaps_Seek(pct, 0);
  }
  AVIDecaps_Close();
  return 0;
}

// Instructions inside the entry per seek (callgrind collecting only there).
double InstructionsPerSeek(const std::string& file, int count, bool chapters, unsigned seed) {
  std::vector<std::string> cmd = {SelfExe(), "--child",           "--file",
                                  file,      "--count",           std::to_string(count),
                                  "--seed",  std::to_string(seed)};
  if (chapters) cmd.push_back("--chapters");
  const double total = CallgrindInstructions(
      cmd,
      {chapters ? "--toggle-collect=AVIDecaps_SeekChapter" : "--toggle-collect=AVIDecaps_Seek"});
  return total >= 0 ? total / count : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const unsigned seed =
      static_cast<unsigned>(std::atol(Arg(argc, argv, "--seed", "20240917").c_str()));
  const int count = std::atoi(Arg(argc, argv, "--count", "100").c_str());
  if (file.empty()) {
    std::fprintf(stderr,
                 "usage: ogm_bench_seek --file F.ogm --label L [--ffmpeg-seeks K] [--count N]\n");
    return 2;
  }
  if (Flag(argc, argv, "--child"))
    return ChildMode(file, count, Flag(argc, argv, "--chapters"), seed);
  const std::string label = Arg(argc, argv, "--label", "file");
  const int ffmpegSeeks = std::atoi(Arg(argc, argv, "--ffmpeg-seeks", "100").c_str());
  const int callgrindSeeks = std::atoi(Arg(argc, argv, "--callgrind-seeks", "10").c_str());

  const std::u16string name = Utf16(file);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) {
    Row("seek", "ours, " + label, "OPEN FAILED");
    return 1;
  }
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  const double duration = info.frameCount / info.framesPerSecond;
  const bool vorbis = info.audioFormat == 0;
  const ReaderFunctions table = Table();
  std::fprintf(stderr, "seek: %s, %d frames, %.0f s, %d chapters\n", file.c_str(), info.frameCount,
               duration, info.chapterCount);

  // Percent seeks.
  const std::vector<int> percents = Percents(count, seed);
  const std::vector<VideoPacket> index = IndexVideo(file);
  const int64_t length = FileSize(file);
  Column ours;
  std::vector<double> late;  // seconds past the first keyframe after the byte position
  for (int pct : percents) {
    const Seek s = Measure(info, [&] { AVIDecaps_Seek(pct, 0); });
    ours.Add(s);
    const int first = FirstKeyframeAfter(index, length * pct / 100);
    if (first >= 0 && s.frame != first) late.push_back((s.frame - first) / info.framesPerSecond);
  }
  // Chapter seeks: each should land on its chapter's first frame.
  // (The benchmark files have a chapter every minute, each on a keyframe.)
  Column chapters;
  std::vector<double> chapterLate;
  for (int i = 0; i < info.chapterCount; ++i) {
    const Seek s = Measure(info, [&] { table.seekChapter(i); });
    chapters.Add(s);
    const int want = static_cast<int>(i * 60 * info.framesPerSecond + 0.5);
    if (s.frame != want) chapterLate.push_back((s.frame - want) / info.framesPerSecond);
  }
  AVIDecaps_Close();

  const std::string decoded = [&](const Column& c) {
    return vorbis ? Fmt("audio decoded %.2f / %.2f s", Median(c.decoded), Worst(c.decoded))
                  : std::string();
  }(ours);
  Row("seek", "ours, " + label + ", percent x" + std::to_string(count), BytesCell(ours.bytes),
      OurMsCell(ours), decoded,
      late.empty()
          ? std::string("median / worst; all landed on the first keyframe after the position")
          : Fmt("median / worst; %zu of %d landed %.0f..%.0f s past the first keyframe after the "
                "position",
                late.size(), count, *std::min_element(late.begin(), late.end()), Worst(late)));
  if (info.chapterCount > 0) {
    Row("seek", "ours, " + label + ", chapters x" + std::to_string(info.chapterCount),
        BytesCell(chapters.bytes), OurMsCell(chapters),
        vorbis
            ? Fmt("audio decoded %.2f / %.2f s", Median(chapters.decoded), Worst(chapters.decoded))
            : std::string(),
        chapterLate.empty()
            ? Fmt("all %d landed on the chapter's frame", info.chapterCount)
            : Fmt("%zu of %d landed off the chapter's frame (%+.0f..%+.0f s)", chapterLate.size(),
                  info.chapterCount, *std::min_element(chapterLate.begin(), chapterLate.end()),
                  Worst(chapterLate)));
  }

  // ffmpeg at the same positions, whole process each; its run without -ss
  // (open and first frame) is given for comparison.
  if (!FindProgram("ffmpeg").empty() && ffmpegSeeks > 0) {
    bool ok = true;
    const Column base = FfmpegColumn(file, {-1, -1, -1, -1, -1}, &ok);
    const double baseMs = Median(base.ms), baseBytes = Median(base.bytes);
    std::vector<double> times;
    const int step = std::max(1, count / std::max(1, ffmpegSeeks));
    for (int i = 0; i < count; i += step) times.push_back(percents[i] / 100.0 * duration);
    const Column ff = FfmpegColumn(file, times, &ok);
    const std::string baseNote =
        Fmt("whole process; without -ss it takes %s, %.0f ms", Bytes(baseBytes).c_str(), baseMs);
    Row("seek", "ffmpeg -ss, " + label + ", percent x" + std::to_string(times.size()),
        BytesCell(ff.bytes), MsCell(ff.ms), "", (ok ? "" : "FFMPEG FAILED; ") + baseNote);
    std::vector<double> chapterTimes;
    for (int i = 0; i < info.chapterCount; ++i) chapterTimes.push_back(i * 60.0);
    if (!chapterTimes.empty()) {
      const Column ffc = FfmpegColumn(file, chapterTimes, &ok);
      Row("seek", "ffmpeg -ss, " + label + ", chapters x" + std::to_string(chapterTimes.size()),
          BytesCell(ffc.bytes), MsCell(ffc.ms), "", baseNote);
    }
  }

  if (callgrindSeeks > 0) {
    const double perSeek = InstructionsPerSeek(file, callgrindSeeks, false, seed);
    const double perChapter =
        info.chapterCount > 0 ? InstructionsPerSeek(file, info.chapterCount, true, seed) : -1;
    Row("seek", "ours, " + label + ", instructions per seek",
        perSeek >= 0 ? Fmt("percent %.1f M", perSeek / 1e6) : "no valgrind",
        perChapter >= 0 ? Fmt("chapter %.1f M", perChapter / 1e6) : "", "",
        Fmt("callgrind, inside the entry; first %d percent seeks, every chapter", callgrindSeeks));
  }
  return 0;
}
