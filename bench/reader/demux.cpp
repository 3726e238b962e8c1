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

struct Timing {
  std::vector<double> wallMs, cpuS;
  int64_t frames = 0;
  bool ok = true;
};

// The floor: every page into its stream, every packet out; the first
// stream's data packets are its frames.
Timing RunFloor(const std::string& path, int runs) {
  Timing t;
  for (int i = 0; i < runs; ++i) {
    FloorCounts counts;
    const double w = WallMs(), c = CpuSeconds();
    t.ok = FloorDemux(path.c_str(), 0, &counts) && t.ok;
    t.cpuS.push_back(CpuSeconds() - c);
    t.wallMs.push_back(WallMs() - w);
    t.frames = counts.frames;
  }
  return t;
}

Timing RunOurs(const std::string& path, int useCache, bool withAudio, int runs,
               ReadTotals* totals) {
  Timing t;
  const std::u16string name = Utf16(path);
  for (int i = 0; i < runs; ++i) {
    void* p = nullptr;
    const double w = WallMs(), c = CpuSeconds();
    if (AVIDecaps_Open(name.c_str(), useCache, 0, &p) != 1) {
      t.ok = false;
      break;
    }
    *totals = ReadAll(*static_cast<StreamInfo*>(p), true, withAudio);
    AVIDecaps_Close();
    t.cpuS.push_back(CpuSeconds() - c);
    t.wallMs.push_back(WallMs() - w);
    t.frames = totals->frames;
  }
  return t;
}

Timing RunFfmpeg(const std::string& path, int runs, int64_t frames) {
  Timing t;
  t.frames = frames;
  for (int i = 0; i < runs; ++i) {
    const ChildResult r = RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error",
                                    "-i", path, "-map", "0", "-c", "copy", "-f", "null", "-"});
    if (r.exitCode != 0) t.ok = false;
    t.cpuS.push_back(r.cpuSeconds);
    t.wallMs.push_back(r.wallMs);
  }
  return t;
}

void Report(const std::string& subject, const Timing& t, double fileBytes,
            const std::string& note) {
  const double wall = Median(t.wallMs) / 1e3, cpu = Median(t.cpuS);
  Row("demux", subject, Fmt("%.0f frames per CPU s", t.frames / cpu),
      Fmt("%.0f MB per CPU s", fileBytes / 1e6 / cpu), Fmt("%.3f s CPU, %.3f s wall", cpu, wall),
      t.ok ? note : "FAILED " + note);
}

void Append(Timing& into, const Timing& run) {
  into.wallMs.insert(into.wallMs.end(), run.wallMs.begin(), run.wallMs.end());
  into.cpuS.insert(into.cpuS.end(), run.cpuS.begin(), run.cpuS.end());
  into.frames = run.frames;
  into.ok = into.ok && run.ok;
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
  if (child == "floor") return RunFloor(file, 1).ok ? 0 : 1;
  if (child == "ours") {
    ReadTotals totals;
    return RunOurs(file, 0, true, 1, &totals).ok ? 0 : 1;
  }
  const double size = static_cast<double>(FileSize(file));
  std::fprintf(stderr, "demux: %s (%s), %d runs each\n", file.c_str(), Bytes(size).c_str(), runs);
  // One pass first so every run finds the file in the page cache.
  RunFloor(file, 1);

  // Rounds of one run each, so load from elsewhere on the machine falls on
  // every kind alike.
  Timing floor, ours, oursCache, oursVideo, ff;
  ReadTotals totals, videoOnly, cached;
  for (int i = 0; i < runs; ++i) {
    Append(floor, RunFloor(file, 1));
    Append(ours, RunOurs(file, 0, true, 1, &totals));
    Append(oursCache, RunOurs(file, 1, true, 1, &cached));
    Append(oursVideo, RunOurs(file, 0, false, 1, &videoOnly));
    Append(ff, RunFfmpeg(file, 1, floor.frames));
  }

  Report("floor (bare libogg loop)", floor, size,
         Fmt("%lld video packets", (long long)floor.frames));
  Report("ours, video + audio (Ravel)", ours, size,
         Fmt("%lld frames, %s audio in %lld calls", (long long)totals.frames,
             Bytes(static_cast<double>(totals.audioBytes)).c_str(), (long long)totals.audioCalls));
  Report("ours, video + audio (RavelCache)", oursCache, size, "");
  Report("ours, video only (Ravel)", oursVideo, size, "audio pages left in the reader");
  Report("ffmpeg -map 0 -c copy -f null", ff, size, "whole process, all threads");
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
