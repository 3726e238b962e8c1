// Vorbis: all audio of the Vorbis file decoded through AVIDecaps_ReadAudio,
// beside the bare Tremor floor (bench/floor.c: synthesis, blockin, pcmout,
// the same >> 9 and clip to 16 bits, read) and ffmpeg decoding to s16le.
//
//   ogm_bench_vorbis --file F.ogm [--source-ogg A.ogg] [--runs N]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "floor.h"

using namespace bench;

namespace {

struct Decoded {
  int64_t pcmBytes = 0;
  int rate = 0;
  int channels = 0;
  double AudioSeconds() const { return rate > 0 ? pcmBytes / (2.0 * channels * rate) : 0; }
};

// The floor on the same stream of the same file.
Decoded TremorPass(const std::string& path, double limitSeconds = 0) {
  Decoded out;
  Floor f;
  if (FloorOpen(&f, path.c_str(), 1) && f.decoding) {
    out.rate = static_cast<int>(f.vi.rate);
    out.channels = f.vi.channels;
    const auto limit = static_cast<long long>(limitSeconds * 2 * out.channels * out.rate);
    out.pcmBytes = FloorReadAudio(&f, limit, nullptr, nullptr);
  }
  FloorClose(&f);
  return out;
}

Decoded OursPass(const std::string& path, bool withVideo, double limitSeconds = 0) {
  Decoded out;
  const std::u16string name = Utf16(path);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return out;
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  out.channels = info.audioParamA;
  out.rate = info.audioParamB;
  if (limitSeconds > 0) {
    static uint8_t* const buffer = HostBuffer(kAudioBufferBytes);
    int32_t n;
    while (out.AudioSeconds() < limitSeconds && (n = AVIDecaps_ReadAudio(buffer, 0)) > 0)
      out.pcmBytes += n;
  } else {
    out.pcmBytes = ReadAll(info, withVideo, true).audioBytes;
  }
  AVIDecaps_Close();
  return out;
}

void Report(const std::string& subject, double audioSeconds, const Times& t,
            const std::string& note) {
  const double cpu = Median(t.cpuS);
  Row("vorbis", subject, Fmt("%.0f audio s / CPU s", audioSeconds / cpu), Fmt("%.3f s CPU", cpu),
      Fmt("%.3f s wall", Median(t.wallMs) / 1e3), note);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const std::string sourceOgg = Arg(argc, argv, "--source-ogg");
  const int runs = std::atoi(Arg(argc, argv, "--runs", "5").c_str());
  if (file.empty()) {
    std::fprintf(stderr, "usage: ogm_bench_vorbis --file F.ogm [--source-ogg A.ogg] [--runs N]\n");
    return 2;
  }
  // One limited pass of one kind, for callgrind.
  const std::string child = Arg(argc, argv, "--child");
  const double limit = std::atof(Arg(argc, argv, "--seconds", "60").c_str());
  if (child == "tremor") return TremorPass(file, limit).pcmBytes > 0 ? 0 : 1;
  if (child == "ours") return OursPass(file, false, limit).pcmBytes > 0 ? 0 : 1;

  std::fprintf(stderr, "vorbis: %s, %d runs each\n", file.c_str(), runs);
  TremorPass(file);  // page cache

  // Rounds of one run each, so load from elsewhere falls on every kind alike.
  Times tremor, ours, oursWithVideo;
  Decoded bare, audioOnly, withVideo;
  for (int i = 0; i < runs; ++i) {
    bare = tremor.Time([&] { return TremorPass(file); });
    audioOnly = ours.Time([&] { return OursPass(file, false); });
    withVideo = oursWithVideo.Time([&] { return OursPass(file, true); });
  }

  const double seconds = bare.AudioSeconds();
  Report("bare Tremor loop", seconds, tremor,
         Fmt("%.1f s of %d Hz x %d", seconds, bare.rate, bare.channels));
  Report(
      "ours, audio only", audioOnly.AudioSeconds(), ours,
      Fmt("%lld PCM bytes (Tremor %lld)", (long long)audioOnly.pcmBytes, (long long)bare.pcmBytes));
  Report("ours, audio + video frames", withVideo.AudioSeconds(), oursWithVideo,
         "player-like; includes taking every video frame");

  // ffmpeg on the OGM; when its Ogg demuxer refuses ogmmerge's Vorbis headers,
  // on the source .ogg instead.
  const auto decode = [](const std::string& input) {
    return RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i", input,
                     "-map", "0:a", "-f", "s16le", "-y", "/dev/null"});
  };
  Times ff;
  std::string ffNote = "on the OGM";
  for (int i = 0; i < runs; ++i) {
    ChildResult r = decode(file);
    if (r.exitCode != 0 && !sourceOgg.empty()) {
      ffNote = "on the source .ogg (the OGM was refused)";
      r = decode(sourceOgg);
    }
    if (r.exitCode != 0) ffNote = "FFMPEG FAILED";
    ff.Add(r);
  }
  Report("ffmpeg -f s16le", seconds, ff, ffNote + ", whole process");
  const std::string secs = Fmt("%.0f", limit);
  const double tremorIr =
      CallgrindInstructions({SelfExe(), "--file", file, "--child", "tremor", "--seconds", secs});
  const double oursIr =
      CallgrindInstructions({SelfExe(), "--file", file, "--child", "ours", "--seconds", secs});
  Row("vorbis", "ratio ours / Tremor", Fmt("%.2fx CPU", Median(ours.cpuS) / Median(tremor.cpuS)),
      Fmt("%.2fx wall", Median(ours.wallMs) / Median(tremor.wallMs)),
      tremorIr > 0 && oursIr > 0 ? Fmt("%.2fx instructions", oursIr / tremorIr) : "",
      tremorIr > 0 && oursIr > 0 ? Fmt("callgrind over the first %s s: %.0f M vs %.0f M",
                                       secs.c_str(), oursIr / 1e6, tremorIr / 1e6)
                                 : "");
  return 0;
}
