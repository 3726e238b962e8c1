// Memory: peak RSS of playing a file through the public API (a video thread
// and an audio thread, each kept within a second of the other), of reading
// the video only and the audio only (the other stream's pages then pile up
// in the reader), and of an open alone, beside ffmpeg's stream copy.
//
//   ogm_bench_play --file F.ogm --label L --peak-rss
//   ogm_bench_play --file F.ogm --mode play|video|audio|open
//       (one run; peak RSS is taken by the parent from wait4, the figure
//        /usr/bin/time -v reports as its maximum resident set size)
#include <ogmdecaps/ogmdecaps.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "reader_loop.h"

using namespace bench;

namespace {

std::atomic<double> gVideoSeconds{0}, gAudioSeconds{0};
std::atomic<bool> gVideoDone{false}, gAudioDone{false};

void VideoThread(const StreamInfo& info, int64_t* frames) {
  std::vector<uint8_t> frame(kVideoBufferBytes);
  while (AVIDecaps_NextVideoFrame(frame.data(), 0) >= 0) {
    ++*frames;
    gVideoSeconds = *frames / info.framesPerSecond;
    while (!gAudioDone && gVideoSeconds > gAudioSeconds + 1.0) sched_yield();
  }
  gVideoDone = true;
}

void AudioThread(const StreamInfo& info, int64_t* bytes) {
  std::vector<uint8_t> buffer(kAudioBufferBytes);
  const double rate = AudioBytesPerSecond(info);
  int32_t n;
  while (rate > 0 && (n = AVIDecaps_ReadAudio(buffer.data(), kRawAudioRequest)) > 0) {
    *bytes += n;
    gAudioSeconds = *bytes / rate;
    while (!gVideoDone && gAudioSeconds > gVideoSeconds + 1.0) sched_yield();
  }
  gAudioDone = true;
}

int RunMode(const std::string& file, const std::string& mode) {
  const std::u16string name = Utf16(file);
  void* p = nullptr;
  if (AVIDecaps_Open(name.c_str(), 0, 0, &p) != 1) return 1;
  const StreamInfo& info = *static_cast<StreamInfo*>(p);
  int64_t frames = 0, audio = 0;
  if (mode == "play") {
    std::thread v(VideoThread, std::cref(info), &frames);
    std::thread a(AudioThread, std::cref(info), &audio);
    v.join();
    a.join();
  } else if (mode == "video") {
    frames = ReadAll(info, true, false).frames;
  } else if (mode == "audio") {
    audio = ReadAll(info, false, true).audioBytes;
  }
  AVIDecaps_Close();
  std::printf("%lld %lld\n", static_cast<long long>(frames), static_cast<long long>(audio));
  return mode == "open" || frames > 0 || audio > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const std::string mode = Arg(argc, argv, "--mode");
  if (file.empty()) {
    std::fprintf(stderr, "usage: ogm_bench_play --file F.ogm (--label L --peak-rss | --mode M)\n");
    return 2;
  }
  if (!mode.empty()) return RunMode(file, mode);
  const std::string label = Arg(argc, argv, "--label", "file");
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
    Row("memory", std::string("ours, ") + label + ", " + c.subject, Fmt("%.1f MB peak RSS", r.maxRssKb / 1024.0),
        Fmt("%.2f s wall", r.wallMs / 1e3),
        Fmt("%lld frames, %s audio", frames, Bytes(static_cast<double>(audio)).c_str()),
        r.exitCode == 0 ? "" : "FAILED");
  }
  const ChildResult ff = RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i", file,
                                   "-map", "0", "-c", "copy", "-f", "null", "-"});
  Row("memory", "ffmpeg -c copy, " + label, Fmt("%.1f MB peak RSS", ff.maxRssKb / 1024.0),
      Fmt("%.2f s wall", ff.wallMs / 1e3), "", ff.exitCode == 0 ? "" : "FFMPEG FAILED");
  return 0;
}
