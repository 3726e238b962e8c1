// ogm_make_fixture: writes a sample OGM file with the test writer, for
// benchmarks, demos and manual checks.
//
//   ogm_make_fixture [--frames N | --seconds S | --minutes M] [--fps F]
//       [--gop K] [--size WxH] [--fourcc XVID] [--min-frame B] [--max-frame B]
//       [--large-every N] [--large-bytes B] [--frames-per-page N]
//       [--mp3-like | --vorbis | --vorbis-file F.ogg] [--vorbis-quality Q]
//       [--vorbis-rate HZ] [--vorbis-channels N] [--ogmmerge-order]
//       [--chapters N] [--legacy] [--audio-first] [--no-eos]
//       [--empty-audio-pages N] OUT.ogm
//
// --empty-audio-pages N: the audio stream is N pages of 255 empty packets
// between frames 1 and 2 (the audio options are then not used).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "peer_files.h"
#include "simple_ogm.h"

using namespace ogmtest;

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "usage: ogm_make_fixture [--frames N | --seconds S | --minutes M] [--fps F] [--gop K]\n"
      "  [--size WxH] [--fourcc CODE] [--min-frame B] [--max-frame B] [--large-every N]\n"
      "  [--large-bytes B] [--frames-per-page N] [--mp3-like | --vorbis | --vorbis-file F]\n"
      "  [--vorbis-quality Q] [--vorbis-rate HZ] [--vorbis-channels N] [--ogmmerge-order]\n"
      "  [--chapters N] [--legacy] [--audio-first] [--no-eos] [--empty-audio-pages N]\n"
      "  OUT.ogm\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  SimpleOgmOptions o;
  double fps = 25;
  double seconds = -1;
  int largeEvery = 0;
  int chapters = 0;
  int emptyAudioPages = 0;
  bool encodeVorbis = false;
  double vorbisQuality = 0.0;
  int vorbisRate = 44100;
  int vorbisChannels = 2;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    auto take = [&] { return v ? (++i, v) : nullptr; };
    if (a == "--frames" && v)
      o.frames = std::atoi(take());
    else if (a == "--seconds" && v)
      seconds = std::atof(take());
    else if (a == "--minutes" && v)
      seconds = 60 * std::atof(take());
    else if (a == "--fps" && v)
      fps = std::atof(take());
    else if (a == "--gop" && v)
      o.gop = std::atoi(take());
    else if (a == "--size" && v) {
      if (std::sscanf(take(), "%dx%d", &o.width, &o.height) != 2) return Usage();
    } else if (a == "--fourcc" && v)
      o.fourcc = take();
    else if (a == "--min-frame" && v)
      o.minFrameBytes = std::strtoul(take(), nullptr, 10);
    else if (a == "--max-frame" && v)
      o.maxFrameBytes = std::strtoul(take(), nullptr, 10);
    else if (a == "--large-every" && v)
      largeEvery = std::atoi(take());
    else if (a == "--large-bytes" && v)
      o.largeFrameBytes = std::strtoul(take(), nullptr, 10);
    else if (a == "--frames-per-page" && v)
      o.framesPerPage = std::atoi(take());
    else if (a == "--mp3-like")
      o.audio = AudioKind::kRaw;
    else if (a == "--vorbis")
      encodeVorbis = true;
    else if (a == "--vorbis-file" && v) {
      o.audio = AudioKind::kVorbis;
      o.vorbisFile = take();
    } else if (a == "--vorbis-quality" && v)
      vorbisQuality = std::atof(take());
    else if (a == "--chapters" && v)
      chapters = std::atoi(take());
    else if (a == "--legacy")
      o.header = HeaderForm::kLegacy;
    else if (a == "--audio-first")
      o.audioFirst = true;
    else if (a == "--no-eos")
      o.eos = false;
    else if (a == "--empty-audio-pages" && v)
      emptyAudioPages = std::atoi(take());
    else if (a[0] != '-' && !out)
      out = argv[i];
    else
      return Usage();
  }
  if (!out || fps <= 0 || o.maxFrameBytes < o.minFrameBytes) return Usage();
  o.timeUnit = static_cast<int64_t>(10000000.0 / fps + 0.5);
  if (seconds >= 0) o.frames = static_cast<int>(seconds * fps + 0.5);
  if (o.frames <= 0) return Usage();
  const double length = o.frames * (o.timeUnit / 1e7);
  if (largeEvery > 0)
    for (int i = largeEvery - 1; i < o.frames; i += largeEvery) o.largeFrames.insert(i);
  for (int c = 0; c < chapters; ++c)
    o.chapters.push_back(
        {static_cast<int64_t>(length * 1000 * c / chapters), "Chapter " + std::to_string(c + 1)});

  if (emptyAudioPages > 0) {
    const Bytes file = MakeEmptyAudioPagesOgm(o, emptyAudioPages);
    if (!WriteBytes(out, file)) {
      std::perror(out);
      return 1;
    }
    std::printf("%s: %zu bytes, %d frames, %d empty audio pages\n", out, file.size(), o.frames,
                emptyAudioPages);
    return 0;
  }
  TempDir tmp("ogmfix");
  if (encodeVorbis) {
    o.audio = AudioKind::kVorbis;
    o.vorbisFile =
        EncodeVorbis(tmp.path(), "a.ogg", vorbisRate, vorbisChannels, length, vorbisQuality);
    if (o.vorbisFile.empty()) {
      std::fprintf(stderr, "ogm_make_fixture: Vorbis encoding failed\n");
      return 1;
    }
  }
  SimpleOgm f;
  try {
    f = MakeSimpleOgm(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ogm_make_fixture: %s\n", e.what());
    return 1;
  }
  if (!WriteBytes(out, f.bytes)) {
    std::perror(out);
    return 1;
  }
  std::printf(
      "%s: %zu bytes, %zu frames at %.3f fps, %zu pages, audio samples %lld, raw audio bytes "
      "%llu\n",
      out, f.bytes.size(), f.frames.size(), 1e7 / o.timeUnit, ListPages(f.bytes).size(),
      static_cast<long long>(f.audioSamples), static_cast<unsigned long long>(f.rawAudioBytes));
  return 0;
}
