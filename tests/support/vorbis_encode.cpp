// ogm_vorbis_encode: writes a plain Ogg Vorbis file of a generated signal,
// for remuxing into OGM fixtures. A separate program because libvorbis and
// the reader's Tremor define the same symbols.
//
//   ogm_vorbis_encode [--rate HZ] [--channels N] [--seconds S] [--quality Q]
//                     [--signal sine|chirp|noise|silence] [--serial N]
//                     [--packets-per-page N] [--pcm-out FILE] OUT.ogg
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ogm_vorbis_encode [--rate HZ] [--channels N] [--seconds S] [--quality Q]\n"
               "       [--signal sine|chirp|noise|silence] [--serial N] [--packets-per-page N]\n"
               "       [--pcm-out FILE] OUT.ogg\n");
  return 2;
}

bool WritePages(ogg_stream_state& os, FILE* out, bool flush) {
  ogg_page og;
  while (flush ? ogg_stream_flush(&os, &og) : ogg_stream_pageout(&os, &og)) {
    if (std::fwrite(og.header, 1, og.header_len, out) != static_cast<size_t>(og.header_len) ||
        std::fwrite(og.body, 1, og.body_len, out) != static_cast<size_t>(og.body_len))
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long rate = 44100;
  int channels = 2;
  double seconds = 2.0;
  double quality = 0.3;
  std::string signal = "sine";
  long serial = 1;
  long packetsPerPage = 0;
  const char* pcmOut = nullptr;
  const char* outPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--rate" && hasValue)
      rate = std::atol(argv[++i]);
    else if (a == "--channels" && hasValue)
      channels = std::atoi(argv[++i]);
    else if (a == "--seconds" && hasValue)
      seconds = std::atof(argv[++i]);
    else if (a == "--quality" && hasValue)
      quality = std::atof(argv[++i]);
    else if (a == "--signal" && hasValue)
      signal = argv[++i];
    else if (a == "--serial" && hasValue)
      serial = std::atol(argv[++i]);
    else if (a == "--packets-per-page" && hasValue)
      packetsPerPage = std::atol(argv[++i]);
    else if (a == "--pcm-out" && hasValue)
      pcmOut = argv[++i];
    else if (!a.empty() && a[0] != '-' && !outPath)
      outPath = argv[i];
    else
      return Usage();
  }
  if (!outPath || rate <= 0 || channels < 1 || channels > 255 || seconds < 0) return Usage();
  if (signal != "sine" && signal != "chirp" && signal != "noise" && signal != "silence")
    return Usage();

  FILE* out = std::fopen(outPath, "wb");
  if (!out) {
    std::perror(outPath);
    return 1;
  }
  FILE* pcm = pcmOut ? std::fopen(pcmOut, "wb") : nullptr;
  if (pcmOut && !pcm) {
    std::perror(pcmOut);
    return 1;
  }

  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, static_cast<float>(quality)) != 0) {
    std::fprintf(stderr, "ogm_vorbis_encode: unsupported rate/channels/quality\n");
    return 1;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "ENCODER", "ogm_vorbis_encode");
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, static_cast<int>(serial));

  ogg_packet id, comment, setup;
  vorbis_analysis_headerout(&vd, &vc, &id, &comment, &setup);
  ogg_stream_packetin(&os, &id);
  bool ok = WritePages(os, out, true);
  ogg_stream_packetin(&os, &comment);
  ogg_stream_packetin(&os, &setup);
  ok = ok && WritePages(os, out, true);

  const long total = static_cast<long>(std::llround(seconds * rate));
  const long chunk = 1024;
  long done = 0;
  long packetsOnPage = 0;
  bool eos = false;
  uint32_t noise = 1;  // the same noise on every run
  while (ok && !eos) {
    const long n = std::min(chunk, total - done);
    if (n <= 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (long i = 0; i < n; ++i) {
        const double t = static_cast<double>(done + i) / rate;
        for (int c = 0; c < channels; ++c) {
          double v = 0;
          if (signal == "sine")
            v = 0.5 * std::sin(2 * M_PI * (440.0 + 110.0 * c) * t);
          else if (signal == "chirp")
            v = 0.5 * std::sin(2 * M_PI * (100.0 + 400.0 * t) * t);
          else if (signal == "noise")
            v = 0.5 *
                (static_cast<double>((noise = noise * 1664525u + 1013904223u) >> 8) / (1 << 23) -
                 1.0);
          buf[c][i] = static_cast<float>(v);
          if (pcm) {
            const int16_t s = static_cast<int16_t>(std::lrint(v * 32767.0));
            const unsigned char le[2] = {static_cast<unsigned char>(s & 0xff),
                                         static_cast<unsigned char>((s >> 8) & 0xff)};
            std::fwrite(le, 1, 2, pcm);
          }
        }
      }
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      done += n;
    }
    while (ok && vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (ok && vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        ++packetsOnPage;
        const bool flush = op.e_o_s || (packetsPerPage > 0 && packetsOnPage >= packetsPerPage);
        if (flush) packetsOnPage = 0;
        ok = WritePages(os, out, flush);
        if (op.e_o_s) eos = true;
      }
    }
  }
  ok = ok && WritePages(os, out, true);

  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  if (pcm) ok = std::fclose(pcm) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "ogm_vorbis_encode: write failed\n");
    return 1;
  }
  return 0;
}
