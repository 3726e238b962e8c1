// Vorbis: all audio of the Vorbis file decoded through AVIDecaps_ReadAudio,
// beside a bare Tremor loop over the same stream of the same file (pages in
// 4096-byte reads, synthesis, blockin, pcmout, the same >> 9 and clip to
// 16 bits, read) and ffmpeg decoding to s16le.
//
//   ogm_bench_vorbis --file F.ogm [--source-ogg A.ogg] [--runs N]
#include <fcntl.h>
#include <ogg/ogg.h>
#include <tremor/ivorbiscodec.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "ogg_pages.h"
#include "reader_loop.h"

using namespace bench;

namespace {

struct Decoded {
  int64_t pcmBytes = 0;
  int rate = 0;
  int channels = 0;
  double AudioSeconds() const { return rate > 0 ? pcmBytes / (2.0 * channels * rate) : 0; }
};

inline int16_t Clip(ogg_int32_t v) {
  const int32_t x = v >> 9;
  return static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x));
}

// The bare loop. The Vorbis stream is the one whose first packet is a
// Vorbis identification header; pages of other streams are passed over.
Decoded TremorPass(const std::string& path, double limitSeconds = 0) {
  Decoded out;
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return out;
  static std::vector<int16_t> pcmOut(1 << 18);
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  ogg_stream_state stream;
  bool haveStream = false;
  int headers = 0;
  vorbis_info vi;
  vorbis_comment vc;
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_info_init(&vi);
  vorbis_comment_init(&vc);
  ogg_page page;
  ogg_packet packet;
  bool failed = false;
  while (NextOggPage(fd, sync, &page)) {
    if (limitSeconds > 0 && out.AudioSeconds() >= limitSeconds) break;
    if (!haveStream) {
      if (!ogg_page_bos(&page) || page.body_len < 7 || std::memcmp(page.body, "\x01vorbis", 7) != 0)
        continue;
      ogg_stream_init(&stream, ogg_page_serialno(&page));
      haveStream = true;
    }
    if (ogg_stream_pagein(&stream, &page) != 0) continue;
    while (ogg_stream_packetout(&stream, &packet) > 0) {
      if (headers < 3) {
        if (vorbis_synthesis_headerin(&vi, &vc, &packet) != 0) failed = true;
        if (++headers == 3 && !failed) {
          vorbis_synthesis_init(&vd, &vi);
          vorbis_block_init(&vd, &vb);
          out.rate = static_cast<int>(vi.rate);
          out.channels = vi.channels;
        }
        continue;
      }
      if (failed) continue;
      if (vorbis_synthesis(&vb, &packet) == 0) vorbis_synthesis_blockin(&vd, &vb);
      ogg_int32_t** pcm;
      int samples;
      while ((samples = vorbis_synthesis_pcmout(&vd, &pcm)) > 0) {
        for (int c = 0; c < vi.channels; ++c) {
          const ogg_int32_t* src = pcm[c];
          int16_t* dst = pcmOut.data() + c;
          for (int j = 0; j < samples; ++j, dst += vi.channels) *dst = Clip(src[j]);
        }
        vorbis_synthesis_read(&vd, samples);
        out.pcmBytes += 2LL * samples * vi.channels;
      }
    }
  }
  if (headers >= 3 && !failed) {
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
  }
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  if (haveStream) ogg_stream_clear(&stream);
  ogg_sync_clear(&sync);
  close(fd);
  if (failed) out.pcmBytes = 0;
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

struct Result {
  std::vector<double> cpuS, wallMs;
  Decoded decoded;
};

template <class Pass>
void Once(Result& r, Pass pass) {
  const double w = WallMs(), c = CpuSeconds();
  r.decoded = pass();
  r.cpuS.push_back(CpuSeconds() - c);
  r.wallMs.push_back(WallMs() - w);
}

void Report(const std::string& subject, double audioSeconds, const std::vector<double>& cpuS,
            const std::vector<double>& wallMs, const std::string& note) {
  const double cpu = Median(cpuS);
  Row("vorbis", subject, Fmt("%.0f audio s / CPU s", audioSeconds / cpu), Fmt("%.3f s CPU", cpu),
      Fmt("%.3f s wall", Median(wallMs) / 1e3), note);
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
  Result tremor, ours, oursWithVideo;
  for (int i = 0; i < runs; ++i) {
    Once(tremor, [&] { return TremorPass(file); });
    Once(ours, [&] { return OursPass(file, false); });
    Once(oursWithVideo, [&] { return OursPass(file, true); });
  }

  const double seconds = tremor.decoded.AudioSeconds();
  Report("bare Tremor loop", seconds, tremor.cpuS, tremor.wallMs,
         Fmt("%.1f s of %d Hz x %d", seconds, tremor.decoded.rate, tremor.decoded.channels));
  const bool same = ours.decoded.pcmBytes == tremor.decoded.pcmBytes;
  Report("ours, audio only", ours.decoded.AudioSeconds(), ours.cpuS, ours.wallMs,
         same ? "same PCM byte count as Tremor"
              : Fmt("PCM bytes %lld vs Tremor's %lld", (long long)ours.decoded.pcmBytes,
                    (long long)tremor.decoded.pcmBytes));
  Report("ours, audio + video frames", oursWithVideo.decoded.AudioSeconds(), oursWithVideo.cpuS,
         oursWithVideo.wallMs, "player-like; includes taking every video frame");

  // ffmpeg on the OGM; when its Ogg demuxer refuses ogmmerge's Vorbis headers,
  // on the source .ogg instead.
  std::vector<double> ffCpu, ffWall;
  std::string ffNote = "on the OGM";
  for (int i = 0; i < runs; ++i) {
    ChildResult r = RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i",
                              file, "-map", "0:a", "-f", "s16le", "-y", "/dev/null"});
    if (r.exitCode != 0 && !sourceOgg.empty()) {
      ffNote = "on the source .ogg (the OGM was refused)";
      r = RunChild({"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-i", sourceOgg,
                    "-map", "0:a", "-f", "s16le", "-y", "/dev/null"});
    }
    if (r.exitCode != 0) ffNote = "FFMPEG FAILED";
    ffCpu.push_back(r.cpuSeconds);
    ffWall.push_back(r.wallMs);
  }
  Report("ffmpeg -f s16le", seconds, ffCpu, ffWall, ffNote + ", whole process");
  const std::string secs = Fmt("%.0f", limit);
  const double tremorIr =
      CallgrindInstructions({SelfExe(), "--file", file, "--child", "tremor", "--seconds", secs});
  const double oursIr =
      CallgrindInstructions({SelfExe(), "--file", file, "--child", "ours", "--seconds", secs});
  Row("vorbis", "ratio ours / Tremor", Fmt("%.2fx CPU", Median(ours.cpuS) / Median(tremor.cpuS)),
      Fmt("%.2fx wall", Median(ours.wallMs) / Median(tremor.wallMs)),
      tremorIr > 0 && oursIr > 0 ? Fmt("%.2fx instructions", oursIr / tremorIr) : "",
      tremorIr > 0 && oursIr > 0
          ? Fmt("target: at most 1.1x; callgrind over the first %s s: %.0f M vs %.0f M",
                secs.c_str(), oursIr / 1e6, tremorIr / 1e6)
          : "target: at most 1.1x");
  return 0;
}
