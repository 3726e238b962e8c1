// Seek: 95 percent seeks (1..95 % of the file), as many frame seeks and
// every chapter seek, each as a player makes it (the seek, the keyframe it
// reached, the first audio), beside ffmpeg -ss at the same times and the
// bare floor (bench/floor.c) doing the least a reader must: jump to the byte
// offset, find the next video keyframe, decode audio from there up to the
// first PCM (raw audio: take the next audio packet). Per seek: bytes read,
// milliseconds and (valgrind) instructions; and the A/V offset after each
// seek: where the first audio handed out lies against the time of the
// keyframe, found in a clean decode of the whole track (Vorbis: the PCM;
// MP3: the frame the bytes begin).
//
//   ogm_bench_seek --file F.ogm --label L [--ffmpeg-seeks K] [--callgrind-seeks N]
//   ogm_bench_seek --child ours|bare|chapters --file F.ogm --count N
//       (N seeks and nothing else, for callgrind)
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_util.h"
#include "floor.h"

using namespace bench;

// Samples the Vorbis decoder hands out, counted while gCount is set: the
// library's calls to vorbis_synthesis_read land here (the executable's
// definition comes first in symbol lookup) and go on to Tremor's.
namespace {
bool gCount = false;
long long gSamples = 0;
}  // namespace

extern "C" int vorbis_synthesis_read(vorbis_dsp_state* dsp, int samples) {
  using Fn = int (*)(vorbis_dsp_state*, int);
  static Fn next = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "vorbis_synthesis_read"));
  if (gCount && samples > 0) gSamples += samples;
  return next ? next(dsp, samples) : -1;
}

namespace {

constexpr int kPercentSeeks = 95;
constexpr int32_t kFrameBytes = 8 << 20;
constexpr int32_t kAudioBytes = 1 << 17;
constexpr int32_t kRawRequest = 4096;

std::vector<int> Percents() {
  std::vector<int> v;
  for (int p = 1; p <= kPercentSeeks; ++p) v.push_back(p);
  return v;
}

// count of the percent seeks, spread evenly, for the callgrind runs.
std::vector<int> SomePercents(int count) {
  std::vector<int> v;
  for (int i = 0; i < count; ++i) v.push_back(1 + (2 * i + 1) * kPercentSeeks / (2 * count));
  return v;
}

ReaderFunctions gTable;
uint8_t* gFrame;
uint8_t* gAudio;

}  // namespace

enum SeekKind { kPercent, kFrame, kChapter };

// One seek as a player makes it (to a percent, a frame number or a chapter),
// the keyframe reached, the first audio. Returns the audio bytes.
extern "C" __attribute__((noinline)) int32_t BenchOursSeek(int kind, int position,
                                                           int32_t audioRequest) {
  if (kind == kChapter)
    gTable.seekChapter(position);
  else
    AVIDecaps_Seek(position, kind == kFrame);
  AVIDecaps_NextVideoFrame(gFrame, kFrameBytes);
  return AVIDecaps_ReadAudio(gAudio, audioRequest);
}

namespace {

struct Column {
  std::vector<double> ms, cpuMs, bytes, decoded;
};

std::string BytesCell(const std::vector<double>& b) {
  return Bytes(Median(b)) + " / " + Bytes(Worst(b));
}
std::string MsCell(const std::vector<double>& ms) {
  return Fmt("%.2f / %.2f ms", Median(ms), Worst(ms));
}
std::string InsnCell(double perSeek) {
  return perSeek >= 0 ? Fmt("%.2f M instr", perSeek / 1e6) : "no count";
}

// Where needle (count values, starting at a multiple of stride) occurs in
// hay nearest to expected, each value within tolerance; -1 when nowhere.
template <class T>
int64_t Locate(const std::vector<T>& hay, const T* needle, size_t count, int64_t expected,
               int64_t window, int stride, int tolerance = 0) {
  const auto near = [tolerance](T a, T b) { return std::abs(int(a) - int(b)) <= tolerance; };
  const int64_t last = static_cast<int64_t>(hay.size()) - static_cast<int64_t>(count);
  const auto at = [&](int64_t i) {
    return i >= 0 && i <= last && std::equal(needle, needle + count, hay.begin() + i, near);
  };
  expected -= expected % stride;
  for (int64_t d = 0; d <= window; d += stride) {
    if (at(expected - d)) return expected - d;
    if (at(expected + d)) return expected + d;
  }
  for (int64_t i = 0; i <= last; i += stride)
    if (at(i)) return i;
  return -1;
}

// The clean reference of the audio track: all its PCM (Vorbis) or its MP3
// bytes with the start of each frame.
struct Reference {
  bool vorbis = false;
  int rate = 0, channels = 0;
  std::vector<int16_t> pcm;
  std::vector<uint8_t> mp3;
  std::vector<int64_t> frameStarts;
  int samplesPerFrame = 1152;

  bool Load(const std::string& path) {
    Floor f;
    const bool opened = FloorOpen(&f, path.c_str(), 1) != 0;
    if (opened) {
      vorbis = f.vorbis;
      FloorReadAudio(&f, 0, &Reference::Append, this);
      if (vorbis) {
        rate = static_cast<int>(f.vi.rate);
        channels = f.vi.channels;
      } else {
        IndexMp3();
      }
    }
    FloorClose(&f);
    return opened && rate > 0;
  }
  static void Append(void* self, const void* data, long bytes) {
    Reference& r = *static_cast<Reference*>(self);
    if (r.vorbis) {
      const auto* samples = static_cast<const int16_t*>(data);
      r.pcm.insert(r.pcm.end(), samples, samples + bytes / 2);
    } else {
      const auto* p = static_cast<const uint8_t*>(data);
      r.mp3.insert(r.mp3.end(), p, p + bytes);
    }
  }

  // MPEG audio layer III frame headers, walked from the start.
  void IndexMp3() {
    static const int kKbps[2][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const int kRates[3] = {44100, 48000, 32000};
    size_t at = 0;
    while (at + 4 <= mp3.size()) {
      const uint8_t* h = &mp3[at];
      const int version = (h[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
      const int bitrate = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
      if (h[0] != 0xFF || (h[1] & 0xE6) != 0xE2 || version == 1 || bitrate == 0 || bitrate == 15 ||
          rateIndex == 3) {
        ++at;
        continue;
      }
      const bool mpeg1 = version == 3;
      const int r = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
      const int samples = mpeg1 ? 1152 : 576;
      if (rate == 0) {
        rate = r;
        samplesPerFrame = samples;
      }
      frameStarts.push_back(static_cast<int64_t>(at));
      at += static_cast<size_t>(samples / 8 * kKbps[mpeg1 ? 0 : 1][bitrate] * 1000 / r +
                                ((h[2] >> 1) & 1));
    }
  }

  // Seconds at which the audio starting with data lies (NAN: not found);
  // near is where to look first. PCM from another decoder differs in the
  // last bits: tolerance is how far each sample may be off.
  double Where(const uint8_t* data, int32_t bytes, double near, int tolerance = 0) const {
    if (vorbis) {
      const size_t count = std::min<size_t>(64 * channels, static_cast<size_t>(bytes) / 2);
      std::vector<int16_t> needle(count);
      std::memcpy(needle.data(), data, count * 2);
      const int64_t i = count == 0 ? -1
                                   : Locate(pcm, needle.data(), count,
                                            static_cast<int64_t>(near * rate) * channels,
                                            10LL * rate * channels, channels, tolerance);
      return i < 0 ? NAN : static_cast<double>(i / channels) / rate;
    }
    const size_t count = std::min<size_t>(64, static_cast<size_t>(bytes));
    const double bytesPerSecond =
        frameStarts.size() > 1 ? mp3.size() * double(rate) / (frameStarts.size() * samplesPerFrame)
                               : 16000;
    const int64_t i = count == 0
                          ? -1
                          : Locate(mp3, data, count, static_cast<int64_t>(near * bytesPerSecond),
                                   static_cast<int64_t>(10 * bytesPerSecond), 1);
    if (i < 0) return NAN;
    // A decoder starts at the first frame header at or after the bytes.
    const size_t k = static_cast<size_t>(
        std::lower_bound(frameStarts.begin(), frameStarts.end(), i) - frameStarts.begin());
    return static_cast<double>(k) * samplesPerFrame / rate;
  }
};

// A/V offsets in ms (audio minus video) and how many could not be placed.
struct Offsets {
  std::vector<double> ms;
  int lost = 0;
  void Add(double audioSeconds, double videoSeconds) {
    if (std::isnan(audioSeconds))
      ++lost;
    else
      ms.push_back((audioSeconds - videoSeconds) * 1e3);
  }
  // Median, and the offset furthest from zero (with its sign).
  std::string Cells(std::string* worst) const {
    double w = 0;
    for (double v : ms)
      if (std::fabs(v) > std::fabs(w)) w = v;
    *worst = ms.empty() ? "" : Fmt("worst %+.1f ms", w);
    return ms.empty() ? "none placed" : Fmt("median %+.1f ms", Median(ms));
  }
  std::string Brief() const {
    std::string worst;
    const std::string median = Cells(&worst);
    return "A/V " + median + (worst.empty() ? "" : ", " + worst);
  }
  std::string Note(const std::string& what) const {
    if (ms.empty()) return what;
    return Fmt("%s; %+.1f..%+.1f ms", what.c_str(), *std::min_element(ms.begin(), ms.end()),
               *std::max_element(ms.begin(), ms.end())) +
           (lost ? Fmt(", %d not found in the clean decode", lost) : std::string());
  }
};

// ffmpeg seeking in the input at seconds (no seek when negative) and handing
// out the first video packet and the first audio frame (Vorbis decoded to
// PCM, MP3 copied, as the reader hands them out): the video packets'
// timestamps go to videoOut (framecrc), the audio to audioOut.
std::vector<std::string> FfmpegSeek(const std::string& file, double seconds, bool vorbis,
                                    const std::string& videoOut, const std::string& audioOut) {
  std::vector<std::string> cmd = {"ffmpeg", "-hide_banner", "-nostdin",         "-loglevel",
                                  "error",  "-y",           "-noaccurate_seek", "-copyts"};
  if (seconds >= 0) cmd.insert(cmd.end(), {"-ss", Fmt("%.3f", seconds)});
  const std::string audioCodec = vorbis ? "pcm_s16le" : "copy";
  cmd.insert(cmd.end(),
             {"-i",       file,        "-map",     "0:v",    "-c:v", "copy",  "-frames:v",
              "1",        "-f",        "framecrc", videoOut, "-map", "0:a",   "-c:a",
              audioCodec, "-frames:a", "1",        "-f",     "data", audioOut});
  return cmd;
}

// Seconds of the first video packet in a framecrc file (NAN: none).
double FramecrcSeconds(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  long num = 0, den = 0;
  while (std::getline(in, line)) {
    if (line.rfind("#tb 0:", 0) == 0) std::sscanf(line.c_str() + 6, " %ld/%ld", &num, &den);
    long long dts, pts;
    if (line.rfind("0,", 0) == 0 && std::sscanf(line.c_str(), "0, %lld, %lld", &dts, &pts) == 2 &&
        den > 0)
      return static_cast<double>(pts) * num / den;
  }
  return NAN;
}

std::vector<uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// ffmpeg at each time: wall ms (a plain run), bytes (a run under strace),
// and the A/V offset of what it handed out.
Column FfmpegColumn(const std::string& file, const std::vector<double>& times, bool vorbis,
                    const Reference* ref, Offsets* av, bool* ok) {
  const std::string v = "/tmp/ogm-bench-seek-v.txt", a = "/tmp/ogm-bench-seek-a.bin";
  Column c;
  for (double t : times) {
    const auto cmd = FfmpegSeek(file, t, vorbis, v, a);
    const ChildResult r = RunChild(cmd);
    if (r.exitCode != 0) *ok = false;
    c.ms.push_back(r.wallMs);
    if (av && ref) {
      const double video = FramecrcSeconds(v);
      const std::vector<uint8_t> audio = Slurp(a);
      av->Add(ref->Where(audio.data(), static_cast<int32_t>(audio.size()), video, 32), video);
    }
    c.bytes.push_back(static_cast<double>(StraceBytesRead(cmd, file)));
  }
  std::remove(v.c_str());
  std::remove(a.c_str());
  return c;
}

// Guest instructions of argv under qemu-x86_64 with the counting plug-in
// built beside this program; -1 without them.
double QemuInstructions(const std::vector<std::string>& argv) {
  const std::string exe = SelfExe();
  const std::string plugin = exe.substr(0, exe.rfind('/') + 1) + "ogm_bench_insn_count.so";
  const std::string program = argv.empty() ? "" : FindProgram(argv[0]);
  if (FindProgram("qemu-x86_64").empty() || access(plugin.c_str(), R_OK) != 0 || program.empty())
    return -1;
  char out[] = "/tmp/ogm-bench-insn-XXXXXX";
  const int fd = mkstemp(out);
  if (fd < 0) return -1;
  close(fd);
  std::vector<std::string> cmd = {"qemu-x86_64",          "-cpu", "max", "-plugin",
                                  plugin + ",out=" + out, program};
  cmd.insert(cmd.end(), argv.begin() + 1, argv.end());
  const ChildResult r = RunChild(cmd);
  std::ifstream in(out);
  std::string key;
  double n = -1;
  in >> key >> n;
  std::remove(out);
  return r.exitCode == 0 && key == "insns" ? n : -1;
}

// ffmpeg's instructions per seek: each run at a time minus its run without
// -ss (start-up, open, first frame and audio).
double FfmpegInstructionsPerSeek(const std::string& file, const std::vector<double>& times,
                                 bool vorbis) {
  const double base = QemuInstructions(FfmpegSeek(file, -1, vorbis, "/dev/null", "/dev/null"));
  if (base < 0 || times.empty()) return -1;
  double sum = 0;
  for (double t : times) {
    const double n = QemuInstructions(FfmpegSeek(file, t, vorbis, "/dev/null", "/dev/null"));
    if (n < 0) return -1;
    sum += n - base;
  }
  return sum / times.size();
}

int32_t AudioRequest(const StreamInfo& info) {
  return info.audioFormat == 0 ? kAudioBytes : kRawRequest;
}

int ChildMode(const std::string& file, const std::string& kind, int count) {
  if (kind == "bare") {
    Floor f;
    const int64_t length = FileSize(file);
    if (FloorOpen(&f, file.c_str(), 1))
      for (int pct : SomePercents(count)) FloorSeek(&f, length * pct / 100);
    FloorClose(&f);
    return 0;
  }
  const std::u16string name = Utf16(file);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return 1;
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  if (kind == "chapters") {
    for (int i = 0; i < count && i < info.chapterCount; ++i)
      BenchOursSeek(kChapter, i, AudioRequest(info));
  } else {
    for (int pct : SomePercents(count)) BenchOursSeek(kPercent, pct, AudioRequest(info));
  }
  AVIDecaps_Close();
  return 0;
}

double CallgrindPerSeek(const std::string& file, const std::string& kind, int count,
                        const char* function) {
  const double total = CallgrindInstructions(
      {SelfExe(), "--child", kind, "--file", file, "--count", std::to_string(count)},
      {std::string("--toggle-collect=") + function});
  return total >= 0 ? total / count : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  if (file.empty()) {
    std::fprintf(stderr,
                 "usage: ogm_bench_seek --file F.ogm --label L [--ffmpeg-seeks K] "
                 "[--callgrind-seeks N]\n");
    return 2;
  }
  static std::vector<uint8_t> frameBuffer(kFrameBytes), audioBuffer(kAudioBytes);
  gFrame = frameBuffer.data();
  gAudio = audioBuffer.data();
  InitializeReader(&gTable);
  const std::string child = Arg(argc, argv, "--child");
  if (!child.empty())
    return ChildMode(file, child, std::atoi(Arg(argc, argv, "--count", "10").c_str()));
  const std::string label = Arg(argc, argv, "--label", "file");
  const int ffmpegSeeks = std::atoi(Arg(argc, argv, "--ffmpeg-seeks", "95").c_str());
  const int callgrindSeeks = std::atoi(Arg(argc, argv, "--callgrind-seeks", "10").c_str());

  Reference ref;
  if (!ref.Load(file)) {
    Row("seek", "bare loop, " + label, "OPEN FAILED");
    return 1;
  }
  const std::u16string name = Utf16(file);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) {
    Row("seek", "ours, " + label, "OPEN FAILED");
    return 1;
  }
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  const double fps = info.framesPerSecond;
  const double duration = info.frameCount / fps;
  const bool vorbis = info.audioFormat == 0;
  const int32_t request = AudioRequest(info);
  const int chapterCount = info.chapterCount;
  std::fprintf(stderr, "seek: %s, %d frames, %.0f s, %d chapters\n", file.c_str(), info.frameCount,
               duration, info.chapterCount);

  // One seek of ours, measured.
  const auto measure = [&](int kind, int position, Column& col, Offsets& av) {
    gSamples = 0;
    gCount = true;
    const int64_t read0 = ProcessReadBytes();
    const double t0 = WallMs(), c0 = CpuSeconds();
    const int32_t audio = BenchOursSeek(kind, position, request);
    col.ms.push_back(WallMs() - t0);
    col.cpuMs.push_back((CpuSeconds() - c0) * 1e3);
    col.bytes.push_back(static_cast<double>(ProcessReadBytes() - read0));
    gCount = false;
    col.decoded.push_back(vorbis ? gSamples / double(ref.rate) : 0);
    const double video = info.currentFrame / fps;
    const double where = audio > 0 ? ref.Where(gAudio, audio, video) : NAN;
    av.Add(where, video);
    // BENCH_SEEK_TRACE=1: the frame each seek reached and its A/V offset on stderr.
    if (std::getenv("BENCH_SEEK_TRACE") != nullptr)
      std::fprintf(stderr, "seek kind %d to %d: frame %d, A/V %+.1f ms\n", kind, position,
                   info.currentFrame, (where - video) * 1e3);
  };

  // Percent seeks, chapter seeks, and frame seeks to the frames at the same
  // percents (a few frames on, so some ask for a keyframe's own number and
  // some for the frame after it).
  const std::vector<int> percents = Percents();
  Column ours, chapters, frameSeeks;
  Offsets oursAv, chapterAv, frameAv;
  for (int pct : percents) measure(kPercent, pct, ours, oursAv);
  for (int i = 0; i < chapterCount; ++i) measure(kChapter, i, chapters, chapterAv);
  for (int pct : percents)
    measure(kFrame, info.frameCount * pct / 100 + pct % 3, frameSeeks, frameAv);
  AVIDecaps_Close();

  // The floor at the same offsets.
  Column bare;
  int bareFailed = 0;
  const int64_t length = FileSize(file);
  {
    Floor f;
    if (FloorOpen(&f, file.c_str(), 1)) {
      for (int pct : percents) {
        const int64_t read0 = f.bytesRead;
        const double t0 = WallMs();
        if (!FloorSeek(&f, length * pct / 100)) ++bareFailed;
        bare.ms.push_back(WallMs() - t0);
        bare.bytes.push_back(static_cast<double>(f.bytesRead - read0));
      }
    }
    FloorClose(&f);
  }

  const bool grind = callgrindSeeks > 0 && !FindProgram("valgrind").empty();
  const std::string n = std::to_string(kPercentSeeks);
  const std::string decoded = vorbis ? Fmt("; audio decoded per seek %.2f / %.2f s",
                                           Median(ours.decoded), Worst(ours.decoded))
                                     : "";
  Row("seek", "ours, " + label + ", percent x" + n, BytesCell(ours.bytes),
      MsCell(ours.ms) + Fmt(" (CPU %.2f)", Median(ours.cpuMs)),
      grind ? InsnCell(CallgrindPerSeek(file, "ours", callgrindSeeks, "BenchOursSeek")) : "",
      "median / worst; the seek, its keyframe and the first audio" + decoded);
  Row("seek", "bare loop, " + label + ", percent x" + n, BytesCell(bare.bytes), MsCell(bare.ms),
      grind ? InsnCell(CallgrindPerSeek(file, "bare", callgrindSeeks, "FloorSeek")) : "",
      std::string(vorbis
                      ? "libogg + Tremor: next keyframe, Vorbis decoded from there to its first PCM"
                      : "libogg: next keyframe, then the next audio packet") +
          (bareFailed ? Fmt("; %d FAILED", bareFailed) : ""));

  // ffmpeg at the same times, whole process each; its run without -ss
  // (open, first frame and first audio) is given for comparison, and
  // subtracted from its instruction counts.
  if (!FindProgram("ffmpeg").empty() && ffmpegSeeks > 0) {
    bool ok = true;
    Offsets ffAv;
    const Column base = FfmpegColumn(file, {-1, -1, -1, -1, -1}, vorbis, nullptr, nullptr, &ok);
    std::vector<double> times;
    const int step = std::max(1, kPercentSeeks / ffmpegSeeks);
    for (int i = 0; i < kPercentSeeks; i += step) times.push_back(percents[i] / 100.0 * duration);
    const Column ff = FfmpegColumn(file, times, vorbis, &ref, &ffAv, &ok);
    std::vector<double> someTimes;
    for (int pct : SomePercents(callgrindSeeks)) someTimes.push_back(pct / 100.0 * duration);
    Row("seek", "ffmpeg -ss, " + label + ", percent x" + std::to_string(times.size()),
        BytesCell(ff.bytes), MsCell(ff.ms),
        callgrindSeeks > 0 ? InsnCell(FfmpegInstructionsPerSeek(file, someTimes, vorbis)) : "",
        (ok ? "" : "FFMPEG FAILED; ") +
            Fmt("whole process; without -ss %s, %.0f ms; instructions: under qemu-x86_64, minus "
                "the run without -ss",
                Bytes(Median(base.bytes)).c_str(), Median(base.ms)));
    std::string worst;
    const std::string median = ffAv.Cells(&worst);
    Row("seek", "ffmpeg -ss, " + label + ", A/V after the seek", median, worst, "",
        ffAv.Note("first audio vs its first video packet (-noaccurate_seek)"));
    std::vector<double> chapterTimes;
    for (int i = 0; i < chapterCount; ++i) chapterTimes.push_back(i * 60.0);
    if (!chapterTimes.empty()) {
      const Column ffc = FfmpegColumn(file, chapterTimes, vorbis, nullptr, nullptr, &ok);
      Row("seek", "ffmpeg -ss, " + label + ", chapters x" + std::to_string(chapterTimes.size()),
          BytesCell(ffc.bytes), MsCell(ffc.ms), "", "whole process");
    }
  }
  {
    std::string worst;
    const std::string median = oursAv.Cells(&worst);
    Row("seek", "ours, " + label + ", A/V after percent seeks", median, worst, "",
        oursAv.Note("first audio handed out vs the keyframe's time, in a clean decode; + = audio "
                    "later"));
  }
  Row("seek", "ours, " + label + ", frame x" + n, BytesCell(frameSeeks.bytes),
      MsCell(frameSeeks.ms), "", frameAv.Brief());
  if (chapterCount > 0)
    Row("seek", "ours, " + label + ", chapters x" + std::to_string(chapterCount),
        BytesCell(chapters.bytes), MsCell(chapters.ms),
        grind ? InsnCell(CallgrindPerSeek(file, "chapters", chapterCount, "BenchOursSeek")) : "",
        chapterAv.Brief());
  return 0;
}
