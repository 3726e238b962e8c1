#include "host.h"

#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <sstream>

#include "md5.h"
#include "test_paths.h"

namespace integ {

using ogmtest::Chapter;
using ogmtest::CommandResult;
using ogmtest::RunCommand;

namespace {

// Every peer file is this long; the video has a keyframe every kGop frames.
constexpr double kSeconds = 18.2;  // the last keyframe (18 s) lies near the end
constexpr int kFps = 25;
constexpr int kGop = 50;

ogmtest::TempDir& Dir() {
  static ogmtest::TempDir* dir = new ogmtest::TempDir("ogm-integ");
  return *dir;
}

// Removes the directory at exit (the TempDir above is never destroyed, so
// the order of static destruction does not matter).
struct DirCleanup {
  ~DirCleanup() {
    if (!std::getenv("OGMTEST_KEEP_TEMP")) RunCommand({"/bin/rm", "-rf", Dir().path()});
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<SourceFrame> ProbeFrames(const std::string& avi) {
  std::vector<SourceFrame> frames;
  for (const std::string& line : ogmtest::FrameMd5Lines(avi)) {
    // "0, dts, pts, duration, size, md5"
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string f;
    while (std::getline(in, f, ',')) {
      f.erase(0, f.find_first_not_of(' '));
      fields.push_back(f);
    }
    if (fields.size() != 6) {
      ADD_FAILURE() << "framemd5 line not understood: " << line;
      return {};
    }
    SourceFrame s;
    s.size = std::stoul(fields[4]);
    s.md5 = fields[5];
    frames.push_back(s);
  }
  const CommandResult r = RunCommand({OGM_FFPROBE, "-v", "error", "-select_streams", "v:0",
                                      "-show_entries", "packet=flags", "-of", "csv=p=0", avi});
  const std::vector<std::string> flags = Lines(r.out);
  if (r.exitCode != 0 || flags.size() != frames.size()) {
    ADD_FAILURE() << "ffprobe packet flags: " << flags.size() << " lines for " << frames.size()
                  << " frames";
    return {};
  }
  for (size_t i = 0; i < frames.size(); ++i)
    frames[i].key = flags[i].find('K') != std::string::npos;
  return frames;
}

std::string MakeVorbisChirp(const std::string& dir) {
  // A rising tone in each channel (different per channel): no two stretches
  // of it look alike, so a piece of PCM can be placed in the whole.
  const std::string out = dir + "/a.ogg";
  const CommandResult r = RunCommand(
      {OGM_FFMPEG, "-hide_banner", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
       "aevalsrc=0.5*sin(2*PI*(100+100*t)*t)|0.4*sin(2*PI*(150+120*t)*t):s=44100", "-t",
       std::to_string(kSeconds), "-c:a", "libvorbis", "-q:a", "3", "-f", "ogg", out});
  return r.exitCode == 0 ? out : "";
}

// Length bytes of a data packet: bits 6, 7 and 1 of its first byte.
int LengthBytes(uint8_t b) { return ((b >> 6) & 3) | ((b & 2) << 1); }

bool LoadRawLayout(PeerFile& p, const Bytes& ogm) {
  p.raw.bytes = ogmtest::ReadBytes(p.audioSource);
  const auto packets = ogmtest::ReadPackets(ogm, 1);
  if (packets.size() < 3) return false;
  ogmtest::StreamHeaderFields header;
  if (!ogmtest::ReadDirectHeader(packets[0].data, &header)) return false;
  p.raw.rate = static_cast<int>(header.samplesPerUnit);
  p.avgBytesPerSecond = header.avgBytesPerSecond;
  Bytes joined;
  int64_t sample = 0;
  for (size_t i = 2; i < packets.size(); ++i) {
    const Bytes& d = packets[i].data;
    const int n = d.empty() ? 0 : LengthBytes(d[0]);
    if (d.size() < static_cast<size_t>(1 + n)) return false;
    const int64_t duration = static_cast<int64_t>(ogmtest::GetLe(d, 1, n));
    // The page granule sits on the last packet completed on a page and is
    // that packet's first sample.
    if (packets[i].granule != -1 && packets[i].granule != sample) {
      ADD_FAILURE() << "audio packet " << i << ": granule " << packets[i].granule
                    << ", durations say " << sample;
      return false;
    }
    AudioPacket a;
    a.offset = joined.size();
    a.size = d.size() - 1 - n;
    a.startSample = sample;
    p.raw.packets.push_back(a);
    p.raw.largestPacket = std::max(p.raw.largestPacket, a.size);
    joined.insert(joined.end(), d.begin() + 1 + n, d.end());
    sample += duration;
  }
  if (joined != p.raw.bytes) {
    ADD_FAILURE() << "the OGM's audio packets (" << joined.size()
                  << " bytes) are not the source file (" << p.raw.bytes.size() << " bytes)";
    return false;
  }
  return true;
}

bool LoadVorbis(PeerFile& p, const Bytes& ogm) {
  const auto packets = ogmtest::ReadPackets(ogm, 1);
  if (packets.empty() || packets[0].data.size() < 30) return false;
  const Bytes& ident = packets[0].data;
  p.vorbisLongBlock = 1 << (ident[28] >> 4);
  p.vorbisNominalBitrate = static_cast<int32_t>(ogmtest::GetLe(ident, 20, 4));
  // The source track decoded: what a whole read must equal (ogmmerge's
  // repacked stream decodes a few hundred samples short of it).
  p.reference = ogmtest::DecodeVorbis(p.audioSource, -1);
  if (!p.reference.ok) return false;
  // Where each packet really ends (ffmpeg counts it from the source's
  // correct granules), against the granules ogmmerge wrote on its pages.
  const CommandResult r =
      RunCommand({OGM_FFPROBE, "-v", "error", "-select_streams", "a:0", "-show_entries",
                  "packet=pts,duration", "-of", "csv=p=0", p.audioSource});
  std::vector<int64_t> ends;
  for (const std::string& line : Lines(r.out)) {
    long long pts = 0, duration = 0;
    if (std::sscanf(line.c_str(), "%lld,%lld", &pts, &duration) == 2)
      ends.push_back(pts + duration);
  }
  if (r.exitCode != 0 || ends.size() + 3 != packets.size()) {
    ADD_FAILURE() << "ffprobe found " << ends.size()
                  << " Vorbis packets in the source, the OGM has " << packets.size() - 3;
    return false;
  }
  for (size_t k = 3; k < packets.size(); ++k) {
    if (packets[k].granule == -1) continue;
    p.vorbisGranuleLead = std::max(p.vorbisGranuleLead, packets[k].granule - ends[k - 3]);
  }
  std::printf(
      "ogmmerge's Vorbis page granules run up to %lld samples (%.3f s) ahead of the packets\n",
      static_cast<long long>(p.vorbisGranuleLead),
      static_cast<double>(p.vorbisGranuleLead) / p.reference.rate);
  return true;
}

std::unique_ptr<PeerFile> MakePeer(AudioKind kind) {
  const PeerVideo& video = Video();
  if (video.frames.empty()) return nullptr;
  auto p = std::make_unique<PeerFile>();
  p->audio = kind;
  const std::string dir = Dir().path();
  std::vector<std::string> inputs = {video.avi};
  switch (kind) {
    case AudioKind::kNone:
      break;
    case AudioKind::kMp3:
      p->audioSource = ogmtest::MakePeerMp3(dir, kSeconds);
      break;
    case AudioKind::kAc3:
      p->audioSource = ogmtest::MakePeerAc3(dir, kSeconds);
      break;
    case AudioKind::kVorbis:
      p->audioSource = MakeVorbisChirp(dir);
      break;
  }
  if (kind != AudioKind::kNone) {
    if (p->audioSource.empty()) {
      ADD_FAILURE() << "ffmpeg could not make the " << KindName(kind) << " source";
      return nullptr;
    }
    inputs.push_back(p->audioSource);
  }
  const std::string merged =
      ogmtest::MakePeerOgm(dir, std::string("merged-") + KindName(kind) + ".ogm", inputs);
  if (merged.empty()) {
    ADD_FAILURE() << "ogmmerge failed on " << KindName(kind);
    return nullptr;
  }
  p->chapters = TestChapters();
  const Bytes ogm = ogmtest::SetChapters(ogmtest::ReadBytes(merged), p->chapters, 0);
  p->path = dir + "/" + KindName(kind) + ".ogm";
  if (!ogmtest::WriteBytes(p->path, ogm)) return nullptr;
  // The reader wants the video at serial 0 and the audio at serial 1, which
  // is what ogmmerge writes when the video is named first.
  const auto video0 = ogmtest::ReadPackets(ogm, 0);
  if (video0.empty() || video0[0].data.size() < 9 ||
      std::memcmp(&video0[0].data[1], "video", 5) != 0) {
    ADD_FAILURE() << "serial 0 of " << p->path << " is not the video";
    return nullptr;
  }
  p->probe = ogmtest::Probe(p->path);
  bool ok = true;
  if (kind == AudioKind::kMp3 || kind == AudioKind::kAc3) ok = LoadRawLayout(*p, ogm);
  if (kind == AudioKind::kVorbis) ok = LoadVorbis(*p, ogm);
  if (!ok) {
    ADD_FAILURE() << "could not read what the " << KindName(kind) << " peer file holds";
    return nullptr;
  }
  return p;
}

}  // namespace

int PeerVideo::KeyframeAtOrAfter(int frame) const {
  for (int i = std::max(frame, 0); i < static_cast<int>(frames.size()); ++i)
    if (frames[i].key) return i;
  return static_cast<int>(frames.size());
}

int PeerVideo::KeyframeAtOrBefore(int frame) const {
  for (int i = std::min(frame, static_cast<int>(frames.size()) - 1); i > 0; --i)
    if (frames[i].key) return i;
  return 0;
}

int RawAudio::PacketStartingAt(size_t offset) const {
  auto it = std::lower_bound(packets.begin(), packets.end(), offset,
                             [](const AudioPacket& a, size_t o) { return a.offset < o; });
  return it != packets.end() && it->offset == offset ? static_cast<int>(it - packets.begin()) : -1;
}

const char* KindName(AudioKind kind) {
  switch (kind) {
    case AudioKind::kNone:
      return "video_only";
    case AudioKind::kMp3:
      return "mp3";
    case AudioKind::kAc3:
      return "ac3";
    case AudioKind::kVorbis:
      return "vorbis";
  }
  return "?";
}

std::string PeerToolsMissing() {
  static const std::string missing = []() -> std::string {
    if (!ogmtest::HaveFfmpeg()) return "ffmpeg/ffprobe not installed";
    if (!ogmtest::HaveOgmmerge()) return "ogmmerge not installed";
    if (!ogmtest::HaveFfmpegEncoder("libmp3lame")) return "ffmpeg has no libmp3lame";
    if (!ogmtest::HaveFfmpegEncoder("libvorbis")) return "ffmpeg has no libvorbis";
    return "";
  }();
  return missing;
}

std::vector<Chapter> TestChapters() {
  return {
      {0, "Anfang"},
      {3000, u8"Größe & Maß – Teil 2"},
      {6000, u8"第三章 東京の夜"},
      {9000, "A chapter name that is far longer than the forty-nine units of a slot"},
      {11000, u8"Forty-eight units of plain text, then a smile: \U0001F600 and more"},
      {14000, "Ende"},
      {18000, "Abspann"},  // on the last keyframe
  };
}

const PeerVideo& Video() {
  static PeerVideo* video = [] {
    static DirCleanup cleanup;
    auto* v = new PeerVideo;
    v->fps = kFps;
    v->gop = kGop;
    v->seconds = kSeconds;
    v->avi = ogmtest::MakePeerAvi(Dir().path(), kSeconds, kFps, kGop);
    if (v->avi.empty()) {
      ADD_FAILURE() << "ffmpeg could not make the AVI";
      return v;
    }
    v->frames = ProbeFrames(v->avi);
    for (const auto& f : v->frames) v->largestFrame = std::max(v->largestFrame, f.size);
    return v;
  }();
  return *video;
}

const PeerFile& Peer(AudioKind kind) {
  static std::map<AudioKind, std::unique_ptr<PeerFile>> made;
  auto it = made.find(kind);
  if (it == made.end()) {
    std::unique_ptr<PeerFile> p = MakePeer(kind);
    if (!p) {
      p = std::make_unique<PeerFile>();  // empty path: tests assert on it
      p->audio = kind;
    }
    it = made.emplace(kind, std::move(p)).first;
  }
  return *it->second;
}

std::u16string Utf16(const std::string& utf8) {
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  std::u16string out;
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  std::string in = utf8;
  std::vector<char> buf(in.size() * 4 + 4);
  char* src = in.data();
  size_t srcLeft = in.size();
  char* dst = buf.data();
  size_t dstLeft = buf.size();
  if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) {
    const size_t bytes = buf.size() - dstLeft;
    for (size_t i = 0; i + 1 < bytes; i += 2)
      out += static_cast<char16_t>(static_cast<uint8_t>(buf[i]) |
                                   (static_cast<uint8_t>(buf[i + 1]) << 8));
  }
  iconv_close(cd);
  return out;
}

bool Session::Open(const std::string& name, int32_t useCache, int32_t openArg) {
  Close();
  const std::u16string wide = Utf16(name);
  void* result = nullptr;
  if (AVIDecaps_Open(wide.c_str(), useCache, openArg, &result) != 1 || result == nullptr)
    return false;
  info_ = static_cast<StreamInfo*>(result);
  return true;
}

void Session::Close() {
  if (info_ != nullptr) AVIDecaps_Close();
  info_ = nullptr;
}

const ReaderFunctions& Table() {
  static ReaderFunctions table = [] {
    ReaderFunctions t{};
    InitializeReader(&t);
    return t;
  }();
  return table;
}

std::vector<uint8_t> FrameBuffer() {
  return std::vector<uint8_t>(std::max<size_t>(Video().largestFrame, 1));
}

::testing::AssertionResult IsSourceFrame(const uint8_t* data, int32_t n, int number) {
  const auto& frames = Video().frames;
  if (number < 0 || number >= static_cast<int>(frames.size()))
    return ::testing::AssertionFailure()
           << "frame number " << number << " is not in the source (" << frames.size() << " frames)";
  const SourceFrame& s = frames[number];
  if (n < 0 || static_cast<size_t>(n) != s.size)
    return ::testing::AssertionFailure()
           << "frame " << number << ": " << n << " bytes, the source has " << s.size;
  const std::string md5 = cli::Md5::Hex(data, static_cast<size_t>(n));
  if (md5 != s.md5)
    return ::testing::AssertionFailure()
           << "frame " << number << ": the bytes differ from the source's (md5 " << md5 << " vs "
           << s.md5 << ")";
  return ::testing::AssertionSuccess();
}

std::vector<DeliveredFrame> ReadAllFrames(const StreamInfo& info, size_t limit) {
  std::vector<uint8_t> buf = FrameBuffer();
  std::vector<DeliveredFrame> out;
  while (out.size() < limit) {
    const int32_t n = AVIDecaps_NextVideoFrame(buf.data(), 0);
    if (n < 0) break;
    DeliveredFrame f;
    f.size = n;
    f.md5 = cli::Md5::Hex(buf.data(), static_cast<size_t>(n));
    f.currentFrame = info.currentFrame;
    out.push_back(f);
  }
  return out;
}

size_t PcmBufferBytes(const PeerFile& peer) {
  return 2000 +
         static_cast<size_t>(peer.reference.channels) * static_cast<size_t>(peer.vorbisLongBlock);
}

double SnrDb(const int16_t* ref, const int16_t* got, size_t n) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = ref[i];
    const double d = r - got[i];
    signal += r * r;
    noise += d * d;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(signal / noise);
}

int64_t BestOffset(const ogmtest::DecodedPcm& ref, const int16_t* got, size_t gotFrames,
                   size_t probe, int64_t from, int64_t to) {
  constexpr size_t kWindow = 512;
  const int ch = ref.channels;
  const auto* r = reinterpret_cast<const int16_t*>(ref.pcm.data());
  const int64_t refFrames = static_cast<int64_t>(ref.pcm.size() / 2 / static_cast<size_t>(ch));
  if (probe + kWindow > gotFrames) return -1;
  from = std::max<int64_t>(from, 0);
  to = std::min<int64_t>(to, refFrames - static_cast<int64_t>(probe + kWindow));
  int64_t best = -1;
  double bestCost = std::numeric_limits<double>::infinity();
  const int16_t* g = got + probe * ch;
  for (int64_t k = from; k <= to; ++k) {
    const int16_t* w = r + (k + static_cast<int64_t>(probe)) * ch;
    double cost = 0;
    for (size_t i = 0; i < kWindow * ch && cost < bestCost; ++i) {
      const double d = static_cast<double>(w[i]) - g[i];
      cost += d * d;
    }
    if (cost < bestCost) {
      bestCost = cost;
      best = k;
    }
  }
  return best;
}

}  // namespace integ
