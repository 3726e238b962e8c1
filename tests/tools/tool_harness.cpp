#include "tool_harness.h"

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "ogg_edit.h"
#include "ogm_writer.h"
#include "test_paths.h"

namespace tooltest {

const std::vector<ChapterSpec> kChapters = {{0, "Opening"},
                                            {2000,
                                             "\xC3\x9C"
                                             "ber \"Quoted\" \\ part"},
                                            {4000, "Finale"}};

CommandResult Tool(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {OGMDECAPS_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return ogmtest::RunCommand(argv);
}

Samples& Samples::Get() {
  static Samples samples;
  return samples;
}

std::string Samples::OutputDir(const std::string& tag) {
  const std::string dir = dir_.File(tag + "-" + std::to_string(++outputs_));
  mkdir(dir.c_str(), 0755);
  return dir;
}

const std::string& Samples::Make(const std::string& key, std::string (*make)(Samples&)) {
  auto it = made_.find(key);
  if (it == made_.end()) it = made_.emplace(key, make(*this)).first;
  return it->second;
}

namespace {

std::string Merge(Samples& s, const std::string& name, const std::string& audio) {
  const std::string& video = s.Avi();
  if (video.empty()) return "";
  std::vector<std::string> inputs = {video};
  if (!audio.empty()) inputs.push_back(audio);
  return ogmtest::MakePeerOgm(s.dir(), name, inputs);
}

}  // namespace

const std::string& Samples::Avi() {
  return Make("avi", [](Samples& s) {
    return ogmtest::MakePeerAvi(s.dir(), kSeconds, kFps, kGop, "160x120");
  });
}
const std::string& Samples::Mp3() {
  return Make("mp3", [](Samples& s) { return ogmtest::MakePeerMp3(s.dir(), kSeconds); });
}
const std::string& Samples::Ac3() {
  return Make("ac3", [](Samples& s) { return ogmtest::MakePeerAc3(s.dir(), kSeconds); });
}
const std::string& Samples::VorbisOgg() {
  return Make("ogg", [](Samples& s) { return ogmtest::MakePeerVorbisOgg(s.dir(), kSeconds); });
}
const std::string& Samples::Mp3Ogm() {
  return Make("mp3.ogm",
              [](Samples& s) { return s.Mp3().empty() ? "" : Merge(s, "mp3.ogm", s.Mp3()); });
}
const std::string& Samples::Ac3Ogm() {
  return Make("ac3.ogm",
              [](Samples& s) { return s.Ac3().empty() ? "" : Merge(s, "ac3.ogm", s.Ac3()); });
}
const std::string& Samples::VorbisOgm() {
  return Make("vorbis.ogm", [](Samples& s) {
    return s.VorbisOgg().empty() ? "" : Merge(s, "vorbis.ogm", s.VorbisOgg());
  });
}
const std::string& Samples::VideoOgm() {
  return Make("video.ogm", [](Samples& s) { return Merge(s, "video.ogm", ""); });
}

const std::string& Samples::NtscAvi() {
  return Make("ntsc.avi", [](Samples& s) -> std::string {
    const std::string out = s.Path("ntsc.avi");
    const CommandResult r = ogmtest::RunCommand({OGM_FFMPEG, "-hide_banner",
                                                 "-nostdin", "-loglevel",
                                                 "error",    "-y",
                                                 "-f",       "lavfi",
                                                 "-i",       "testsrc=size=160x120:rate=30000/1001",
                                                 "-t",       "2",
                                                 "-c:v",     "mpeg4",
                                                 "-vtag",    "XVID",
                                                 "-g",       "15",
                                                 "-bf",      "0",
                                                 out});
    return r.exitCode == 0 ? out : "";
  });
}
const std::string& Samples::NtscOgm() {
  return Make("ntsc.ogm", [](Samples& s) -> std::string {
    return s.NtscAvi().empty() ? "" : ogmtest::MakePeerOgm(s.dir(), "ntsc.ogm", {s.NtscAvi()});
  });
}

const std::string& Samples::ChapterOgm() {
  return Make("chapters.ogm", [](Samples& s) -> std::string {
    if (s.Mp3Ogm().empty()) return "";
    std::vector<ogmtest::Chapter> chapters;
    for (const ChapterSpec& c : kChapters) chapters.push_back({c.startMs, c.name});
    const ogmtest::Bytes out = ogmtest::SetChapters(ogmtest::ReadBytes(s.Mp3Ogm()), chapters, 0);
    const std::string path = s.Path("chapters.ogm");
    return !out.empty() && ogmtest::WriteBytes(path, out) ? path : "";
  });
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}

std::vector<std::string> FrameLines(const std::string& text) {
  return LinesStartingWith(text, "0,");
}

std::map<std::string, std::string> HeaderLines(const std::string& text) {
  std::map<std::string, std::string> out;
  for (const std::string& line : LinesStartingWith(text, "#")) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) out[line.substr(1, colon - 1)] = line.substr(colon + 2);
  }
  return out;
}

std::string FfmpegFrameMd5(const std::string& path) {
  return ogmtest::RunCommand({OGM_FFMPEG, "-hide_banner", "-nostdin", "-loglevel", "error", "-i",
                              path, "-map", "0:v", "-c", "copy", "-f", "framemd5", "-"})
      .out;
}

std::vector<std::string> VideoPacketFlags(const std::string& path) {
  const CommandResult r =
      ogmtest::RunCommand({OGM_FFPROBE, "-v", "error", "-select_streams", "v", "-show_entries",
                           "packet=flags", "-of", "csv=p=0", path});
  std::vector<std::string> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<int> KeyframeIndices(const std::string& path) {
  std::vector<int> out;
  const std::vector<std::string> flags = VideoPacketFlags(path);
  for (size_t i = 0; i < flags.size(); ++i)
    if (!flags[i].empty() && flags[i][0] == 'K') out.push_back(static_cast<int>(i));
  return out;
}

std::string ProbeField(const std::string& path, const std::string& type, const std::string& key) {
  const CommandResult r =
      ogmtest::RunCommand({OGM_FFPROBE, "-v", "error", "-show_streams", "-of", "default", path});
  std::istringstream in(r.out);
  std::string line;
  bool inStream = false;
  std::map<std::string, std::string> fields;
  while (std::getline(in, line)) {
    if (line == "[STREAM]") {
      fields.clear();
      inStream = true;
    } else if (line == "[/STREAM]") {
      if (fields["codec_type"] == type) return fields[key];
      inStream = false;
    } else if (inStream) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return "";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tooltest
