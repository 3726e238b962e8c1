// info: everything the StreamInfo record says, in words or as JSON, plus
// where each chapter seek lands (the record holds chapter names only).
#include <cstdio>
#include <string>
#include <vector>

#include "command_common.h"
#include "commands.h"
#include "platform/charset.h"
#include "stream_facts.h"

namespace cli {

namespace {

struct ChapterLanding {
  std::string name;
  int32_t frame = 0;
  double seconds = 0;
};

// Seeks to every chapter and notes the keyframe the reader resumes on.
std::vector<ChapterLanding> VisitChapters(const OpenSource& source) {
  const StreamInfo& info = source.info();
  std::vector<ChapterLanding> out;
  const int count = info.chapterCount < 0 ? 0 : (info.chapterCount > 100 ? 100 : info.chapterCount);
  for (int i = 0; i < count; ++i) {
    ChapterLanding c;
    c.name = Utf16ToUtf8(info.chapterNames[i].text, 50);
    source.api().table.seekChapter(i);
    c.frame = info.currentFrame;
    c.seconds = info.framesPerSecond > 0 ? c.frame / info.framesPerSecond : 0;
    out.push_back(c);
  }
  return out;
}

std::string Json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Num(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", v);
  return text;
}

// The reader only estimates the frame count of a network source.
bool IsUrl(const std::string& source) { return source.find("://") != std::string::npos; }

const char* kChapterTimeMeaning =
    "time of the keyframe a chapter seek lands on (currentFrame / framesPerSecond after the seek)";

void PrintJson(const std::string& source, const StreamInfo& info,
               const std::vector<ChapterLanding>& chapters) {
  const Rational rate = FrameRateRational(info.framesPerSecond);
  const AudioFacts audio = DescribeAudio(info);
  std::string j = "{\n";
  j += "  \"source\": " + Json(source) + ",\n";
  j += "  \"video\": {\"width\": " + std::to_string(info.width) +
       ", \"height\": " + std::to_string(info.height) + ", \"fourcc\": " + Json(FourccText(info)) +
       ", \"codec\": " + Json(FfmpegCodecName(FourccText(info))) +
       ", \"framesPerSecond\": " + Num(info.framesPerSecond) +
       ", \"frameRate\": " + Json(std::to_string(rate.num) + "/" + std::to_string(rate.den)) +
       ", \"frameCount\": " + std::to_string(info.frameCount) +
       ", \"frameCountIsEstimate\": " + (IsUrl(source) ? "true" : "false") +
       ", \"durationSeconds\": " + Num(DurationSeconds(info)) +
       ", \"duration\": " + Json(ClockTime(DurationSeconds(info))) + "},\n";
  if (audio.present) {
    j += "  \"audio\": {\"format\": " + std::to_string(info.audioFormat) +
         ", \"formatName\": " + Json(audio.name) +
         ", \"channels\": " + std::to_string(audio.channels) +
         ", \"sampleRate\": " + std::to_string(audio.rate) +
         ", \"bitrate\": " + std::to_string(info.audioBitrate) +
         ", \"totalBytes\": " + std::to_string(info.totalAudioBytes) +
         ", \"bytesPerSecond\": " + Num(audio.bytesPerSecond) +
         ", \"paramA\": " + std::to_string(info.audioParamA) +
         ", \"paramB\": " + std::to_string(info.audioParamB) + "},\n";
  } else {
    j += "  \"audio\": null,\n";
  }
  j += "  \"chapterTime\": " + Json(kChapterTimeMeaning) + ",\n";
  j += "  \"chapters\": [";
  for (size_t i = 0; i < chapters.size(); ++i) {
    const ChapterLanding& c = chapters[i];
    j += i == 0 ? "\n" : ",\n";
    j += "    {\"number\": " + std::to_string(i + 1) + ", \"name\": " + Json(c.name) +
         ", \"frame\": " + std::to_string(c.frame) + ", \"seconds\": " + Num(c.seconds) +
         ", \"time\": " + Json(ClockTime(c.seconds)) + "}";
  }
  j += chapters.empty() ? "]\n}\n" : "\n  ]\n}\n";
  std::fputs(j.c_str(), stdout);
}

void PrintText(const std::string& source, const StreamInfo& info,
               const std::vector<ChapterLanding>& chapters) {
  const Rational rate = FrameRateRational(info.framesPerSecond);
  const AudioFacts audio = DescribeAudio(info);
  const std::string fourcc = FourccText(info);
  const std::string codec = FfmpegCodecName(fourcc);
  std::printf("source:    %s\n", source.c_str());
  std::printf("video:     %dx%d, fourcc %s%s%s%s\n", info.width, info.height, fourcc.c_str(),
              codec.empty() ? "" : " (", codec.c_str(), codec.empty() ? "" : ")");
  std::printf("           %.3f fps (%u/%u), %d frames, duration %s (frames / fps)%s\n",
              info.framesPerSecond, rate.num, rate.den, info.frameCount,
              ClockTime(DurationSeconds(info)).c_str(),
              IsUrl(source) ? "; a network source's frame count is the reader's estimate" : "");
  if (!audio.present) {
    std::printf("audio:     none\n");
  } else if (audio.vorbis) {
    std::printf("audio:     %s, %d channels, %d Hz, nominal bitrate %d bit/s\n", audio.name.c_str(),
                audio.channels, audio.rate, info.audioBitrate);
    std::printf("           %d bytes of 16-bit PCM in all\n", info.totalAudioBytes);
  } else {
    std::printf("audio:     %s (format tag 0x%04X), %d channels, %d samples per second\n",
                audio.name.c_str(), static_cast<unsigned>(info.audioFormat) & 0xFFFFu,
                audio.channels, audio.rate);
    std::printf("           %d bytes in all (about %.0f bytes/s over the video's duration)%s\n",
                info.totalAudioBytes, audio.bytesPerSecond,
                info.audioBitrate != 0
                    ? (", bitrate field " + std::to_string(info.audioBitrate)).c_str()
                    : "");
  }
  std::printf("chapters:  %d\n", static_cast<int>(chapters.size()));
  if (!chapters.empty()) {
    std::printf("           (time = %s)\n", kChapterTimeMeaning);
    for (size_t i = 0; i < chapters.size(); ++i)
      std::printf("  %3zu  %s  frame %-8d %s\n", i + 1, ClockTime(chapters[i].seconds).c_str(),
                  chapters[i].frame, chapters[i].name.c_str());
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parsed.Parse(args, {{"--json", false}}, &error)) return UsageError("info", error);
  Session session;
  if (const int code = OpenSession("info", parsed, &session); code != kExitOk) return code;
  const OpenSource& source = *session.source;
  const std::vector<ChapterLanding> chapters = VisitChapters(source);
  if (parsed.Has("--json"))
    PrintJson(parsed.source(), source.info(), chapters);
  else
    PrintText(parsed.source(), source.info(), chapters);
  return kExitOk;
}

}  // namespace cli
