// Demux: every video frame and all raw audio of the MP3 file through the
// public entry points, beside the bare floor (bench/floor.c: every page and
// packet of both streams and nothing else) and ffmpeg's stream copy.
//
//   ogm_bench_demux --file F.ogm [--runs N]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "floor.h"

using namespace bench;

namespace {

// The floor: every page into its stream, every packet out; the first
// stream's data packets are its frames.
int64_t FloorFrames(const std::string& path) {
  FloorCounts counts;
  return FloorDemux(path.c_str(), 0, &counts) ? counts.frames : -1;
}

ReadTotals Ours(const std::string& path, int useCache, bool withAudio) {
  void* p = nullptr;
  ReadTotals totals;
  if (AVIDecaps_Open(Utf16(path).c_str(), useCache, 0, &p) == 1)
    totals = ReadAll(*static_cast<StreamInfo*>(p), true, withAudio);
  AVIDecaps_Close();
  return totals;
}

void Report(const std::string& subject, const Times& t, int64_t frames, double fileBytes,
            const std::string& note) {
  const double wall = Median(t.wallMs) / 1e3, cpu = Median(t.cpuS);
  Row("demux", subject, Fmt("%.0f frames per CPU s", frames / cpu),
      Fmt("%.0f MB per CPU s", fileBytes / 1e6 / cpu), Fmt("%.3f s CPU, %.3f s wall", cpu, wall),
      note);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = Arg(argc, argv, "--file");
  const int runs = std::atoi(Arg(argc, argv, "--runs", "5").c_str());
  if (file.empty()) {
    std::fprintf(stderr, "usage: ogm_bench_demux --file F.ogm [--runs N]\n");
    return 2;
  }
  // One pass of one kind, for callgrind.
  const std::string child = Arg(argc, argv, "--child");
  if (child == "floor") return FloorFrames(file) > 0 ? 0 : 1;
  if (child == "ours") return Ours(file, 0, true).frames > 0 ? 0 : 1;
  const double size = static_cast<double>(FileSize(file));
  std::fprintf(stderr, "demux: %s (%s), %d runs each\n", file.c_str(), Bytes(size).c_str(), runs);
  // One pass first so every run finds the file in the page cache.
  FloorFrames(file);

  // Rounds of one run each, so load from elsewhere on the machine falls on
  // every kind alike.
  Times floor, ours, oursCache, oursVideo, ff;
  int64_t floorFrames = 0;
  ReadTotals totals, videoOnly, cached;
  for (int i = 0; i < runs; ++i) {
    floorFrames = floor.Time([&] { return FloorFrames(file); });
    totals = ours.Time([&] { return Ours(file, 0, true); });
    cached = oursCache.Time([&] { return Ours(file, 1, true); });
    videoOnly = oursVideo.Time([&] { return Ours(file, 0, false); });
    ff.Add(RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i", file, "-map",
                     "0", "-c", "copy", "-f", "null", "-"}));
  }

  Report("floor (bare libogg loop)", floor, floorFrames, size,
         Fmt("%lld video packets", (long long)floorFrames));
  Report("ours, video + audio (Ravel)", ours, totals.frames, size,
         Fmt("%lld frames, %s audio in %lld calls", (long long)totals.frames,
             Bytes(static_cast<double>(totals.audioBytes)).c_str(), (long long)totals.audioCalls));
  Report("ours, video + audio (RavelCache)", oursCache, cached.frames, size, "");
  Report("ours, video only (Ravel)", oursVideo, videoOnly.frames, size,
         "audio pages left in the reader");
  Report("ffmpeg -map 0 -c copy -f null", ff, floorFrames, size, "whole process, all threads");
  const double floorIr = CallgrindInstructions({SelfExe(), "--file", file, "--child", "floor"});
  const double oursIr = CallgrindInstructions({SelfExe(), "--file", file, "--child", "ours"});
  Row("demux", "ratio ours / floor", Fmt("%.2fx CPU", Median(ours.cpuS) / Median(floor.cpuS)),
      Fmt("%.2fx wall", Median(ours.wallMs) / Median(floor.wallMs)),
      floorIr > 0 && oursIr > 0 ? Fmt("%.2fx instructions", oursIr / floorIr) : "",
      floorIr > 0 && oursIr > 0 ? Fmt("callgrind %.0f M vs %.0f M instructions, whole process",
                                      oursIr / 1e6, floorIr / 1e6)
                                : "");
  return 0;
}
