// ogm_vorbis_decode: reference decoder (libvorbis) for the Vorbis stream of
// one serial number in an Ogg file (plain Ogg Vorbis or OGM), writing
// interleaved signed 16-bit little-endian PCM. Prints
// "channels=N rate=N samples=N" on stdout.
//
//   ogm_vorbis_decode [--serial N] [--no-trim] IN OUT.pcm
//
// The serial defaults to the first stream of the file. Output is cut to the
// last page's granule unless --no-trim.
#include <vorbis/codec.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: ogm_vorbis_decode [--serial N] [--no-trim] IN OUT.pcm\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long serial = -1;
  bool trim = true;
  const char* inPath = nullptr;
  const char* outPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--serial" && i + 1 < argc)
      serial = std::atol(argv[++i]);
    else if (a == "--no-trim")
      trim = false;
    else if (!a.empty() && a[0] != '-' && !inPath)
      inPath = argv[i];
    else if (!a.empty() && a[0] != '-' && !outPath)
      outPath = argv[i];
    else
      return Usage();
  }
  if (!inPath || !outPath) return Usage();
  FILE* in = std::fopen(inPath, "rb");
  if (!in) {
    std::perror(inPath);
    return 1;
  }
  FILE* out = std::fopen(outPath, "wb");
  if (!out) {
    std::perror(outPath);
    return 1;
  }

  ogg_sync_state oy;
  ogg_sync_init(&oy);
  ogg_stream_state os;
  bool streamReady = false;
  vorbis_info vi;
  vorbis_info_init(&vi);
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  int headers = 0;
  long long samples = 0;
  long long lastGranule = -1;
  bool failed = false;

  auto emit = [&](long long limit) {
    float** pcm;
    int n;
    while ((n = vorbis_synthesis_pcmout(&vd, &pcm)) > 0) {
      long long take = n;
      if (limit >= 0 && samples + take > limit) take = limit > samples ? limit - samples : 0;
      for (long long i = 0; i < take; ++i)
        for (int c = 0; c < vi.channels; ++c) {
          long v = std::lrint(pcm[c][i] * 32767.f);
          if (v > 32767) v = 32767;
          if (v < -32768) v = -32768;
          const unsigned char le[2] = {static_cast<unsigned char>(v & 0xff),
                                       static_cast<unsigned char>((v >> 8) & 0xff)};
          std::fwrite(le, 1, 2, out);
        }
      samples += take;
      vorbis_synthesis_read(&vd, n);
    }
  };

  bool eof = false;
  bool eos = false;
  while (!eof && !eos && !failed) {
    ogg_page og;
    const int r = ogg_sync_pageout(&oy, &og);
    if (r == 0) {
      char* buf = ogg_sync_buffer(&oy, 65536);
      const size_t got = std::fread(buf, 1, 65536, in);
      ogg_sync_wrote(&oy, static_cast<long>(got));
      if (got == 0) eof = true;
      continue;
    }
    if (r < 0) continue;
    if (serial < 0) serial = ogg_page_serialno(&og);
    if (ogg_page_serialno(&og) != serial) continue;
    if (!streamReady) {
      ogg_stream_init(&os, static_cast<int>(serial));
      streamReady = true;
    }
    ogg_stream_pagein(&os, &og);
    ogg_packet op;
    int pr;
    while ((pr = ogg_stream_packetout(&os, &op)) != 0) {
      if (pr < 0) continue;
      if (headers < 3) {
        if (vorbis_synthesis_headerin(&vi, &vc, &op) != 0) {
          std::fprintf(stderr, "ogm_vorbis_decode: serial %ld is not Vorbis\n", serial);
          failed = true;
          break;
        }
        if (++headers == 3) {
          vorbis_synthesis_init(&vd, &vi);
          vorbis_block_init(&vd, &vb);
        }
        continue;
      }
      if (vorbis_synthesis(&vb, &op) == 0) vorbis_synthesis_blockin(&vd, &vb);
      if (op.granulepos >= 0) lastGranule = op.granulepos;
      // The final packet's granule may end the stream short of the block.
      emit(trim && op.e_o_s ? lastGranule : -1);
    }
    if (ogg_page_eos(&og)) eos = true;
  }
  if (headers == 3) {
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
  }
  if (streamReady) ogg_stream_clear(&os);
  ogg_sync_clear(&oy);
  const int channels = vi.channels;
  const long rate = vi.rate;
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  std::fclose(in);
  if (std::fclose(out) != 0) failed = true;
  if (failed || headers < 3) {
    if (!failed) std::fprintf(stderr, "ogm_vorbis_decode: no Vorbis stream found\n");
    return 1;
  }
  std::printf("channels=%d rate=%ld samples=%lld\n", channels, rate, samples);
  return 0;
}
