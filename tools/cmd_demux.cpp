// demux: the video frames into an AVI, the audio into a WAV or a raw file.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avi_writer.h"
#include "command_common.h"
#include "commands.h"
#include "keyframes.h"
#include "output_files.h"
#include "progress.h"
#include "pump.h"
#include "stream_facts.h"
#include "wav_writer.h"

namespace cli {

namespace {

const char* kCommand = "demux";

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool KnownAudioExtension(const std::string& ext) {
  return ext == "wav" || ext == "mp3" || ext == "mp2" || ext == "mpa" || ext == "ac3" ||
         ext == "dts" || ext == "raw";
}

// Which raw formats a file name may receive.
bool RawFits(const std::string& ext, int32_t tag) {
  if (ext == "raw") return true;
  if (ext == "mp3") return tag == 0x55;
  if (ext == "mp2" || ext == "mpa") return tag == 0x50 || tag == 0x55;
  if (ext == "ac3") return tag == 0x2000;
  if (ext == "dts") return tag == 0x2001;
  return false;
}

// The WAV layout of the audio, or an explanation of why there is none.
bool WavLayout(const AudioFacts& audio, WavFormat* out, std::string* why) {
  if (audio.vorbis) {
    *out = {static_cast<uint16_t>(audio.channels), static_cast<uint32_t>(audio.rate), 16};
    return true;
  }
  if (audio.formatTag != 1) {
    *why = audio.name + " audio is not PCM: write it raw (." +
           std::string(audio.formatTag == 0x55     ? "mp3"
                       : audio.formatTag == 0x2000 ? "ac3"
                                                   : "raw") +
           ")";
    return false;
  }
  // PCM: the record has no sample size, so it follows from the byte rate.
  if (audio.channels <= 0 || audio.rate <= 0 || audio.bytesPerSecond <= 0) {
    *why = "the PCM stream gives no usable channels, rate or length";
    return false;
  }
  const double bytesPerSample =
      audio.bytesPerSecond / (static_cast<double>(audio.channels) * audio.rate);
  const long width = std::lround(bytesPerSample);
  if (width < 1 || width > 4 || std::fabs(bytesPerSample - width) > 0.1) {
    *why = "cannot tell the PCM sample size (about " + std::to_string(bytesPerSample) +
           " bytes per sample)";
    return false;
  }
  *out = {static_cast<uint16_t>(audio.channels), static_cast<uint32_t>(audio.rate),
          static_cast<uint16_t>(8 * width)};
  return true;
}

}  // namespace

int RunDemux(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parsed.Parse(args, {{"-v", true}, {"-a", true}, {"--avi-limit", true}}, &error))
    return UsageError(kCommand, error);
  const std::string videoPath = parsed.Value("-v");
  const std::string audioPath = parsed.Value("-a");
  if (videoPath.empty() && audioPath.empty())
    return UsageError(kCommand, "give -v OUT.avi and/or -a OUT.wav|...");
  if (!videoPath.empty() && Extension(videoPath) != "avi")
    return UsageError(kCommand, "-v writes an .avi file");
  const std::string audioExt = Extension(audioPath);
  if (!audioPath.empty() && !KnownAudioExtension(audioExt))
    return UsageError(kCommand, "-a wants .wav, .mp3, .mp2, .mpa, .ac3, .dts or .raw");
  long long limit = static_cast<long long>(AviWriter::kDefaultLimit);
  if (parsed.Has("--avi-limit") &&
      !ParseInt(parsed.Value("--avi-limit"), 4096,
                static_cast<long long>(AviWriter::kDefaultLimit) * 4 - 1, &limit))
    return UsageError(kCommand, "--avi-limit wants bytes (4096 .. 4 GiB - 1)");
  // An output that is the source (whatever its name says) would destroy it.
  for (const std::string& out : {videoPath, audioPath})
    if (!out.empty() && SameFile(out, parsed.source()))
      return UsageError(kCommand, out + " is the source itself");
  if (!videoPath.empty() && (videoPath == audioPath || SameFile(videoPath, audioPath)))
    return UsageError(kCommand, "-v and -a name the same file");

  Session session;
  if (const int code = OpenSession(kCommand, parsed, &session); code != kExitOk) return code;
  const OpenSource& source = *session.source;
  const StreamInfo& info = source.info();
  const AudioFacts audio = DescribeAudio(info);

  // Settle what goes where before any file is made.
  const bool wav = audioExt == "wav";
  WavFormat wavFormat;
  if (!audioPath.empty()) {
    if (!audio.present) return UsageError(kCommand, "the source has no audio stream");
    if (wav) {
      std::string why;
      if (!WavLayout(audio, &wavFormat, &why))
        return UsageError(kCommand, "no WAV possible: " + why);
    } else if (audio.vorbis ? audioExt != "raw" : !RawFits(audioExt, audio.formatTag)) {
      return UsageError(
          kCommand, "the audio is " + audio.name + ": a ." + audioExt + " file cannot hold it" +
                        (audio.vorbis ? " (use .wav, or .raw for bare s16le PCM)" : " (use .raw)"));
    }
  }

  // Written under temporary names: renamed into place when kept, removed
  // on a failure or an interruption.
  OutputFiles outputs;
  const std::string videoTemp = videoPath.empty() ? "" : outputs.Add(videoPath);
  const std::string audioTemp = audioPath.empty() ? "" : outputs.Add(audioPath);
  AviWriter avi;
  const std::string fourcc = FourccText(info);
  const KeyframeDetector keyframes(fourcc);
  if (!videoPath.empty()) {
    AviVideoFormat format;
    format.width = info.width;
    format.height = info.height;
    std::memcpy(format.fourcc, info.fourcc, 4);
    format.rate = FrameRateRational(info.framesPerSecond);
    if (!avi.Open(videoTemp, format, static_cast<uint64_t>(limit), &error))
      return Failure(kCommand, error);
    if (!keyframes.understood())
      std::fprintf(
          stderr,
          "ogmdecaps demux: no keyframe parser for fourcc '%s': every frame is marked a keyframe\n",
          fourcc.c_str());
  }
  WavWriter wavWriter;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> raw(nullptr, std::fclose);
  if (!audioPath.empty()) {
    if (wav) {
      if (!wavWriter.Open(audioTemp, wavFormat, &error)) return Failure(kCommand, error);
    } else {
      raw.reset(OpenOutput(audioTemp));
      if (!raw) return Failure(kCommand, audioPath + ": " + std::strerror(errno));
    }
  }

  ProgressBar progress;
  Pump pump(source, true);
  std::string stopReason;
  bool aviFull = false;
  if (!videoPath.empty())
    pump.onVideo = [&](const uint8_t* data, size_t size) {
      switch (avi.AddFrame(data, size, keyframes.IsKeyframe(data, size))) {
        case AviWriter::Added::kOk:
          return true;
        case AviWriter::Added::kFull:
          aviFull = true;
          return false;
        case AviWriter::Added::kError:
          stopReason = "writing " + videoPath + " failed";
          return false;
      }
      return false;
    };
  if (!audioPath.empty())
    pump.onAudio = [&](const uint8_t* data, size_t size) {
      if (wav) {
        const WavWriter::Added r = wavWriter.Write(data, size);
        if (r == WavWriter::Added::kFull) stopReason = audioPath + ": WAV data cannot pass 4 GiB";
        if (r == WavWriter::Added::kError) stopReason = "writing " + audioPath + " failed";
        return r == WavWriter::Added::kOk;
      }
      if (std::fwrite(data, 1, size, raw.get()) != size) {
        stopReason = audioPath + ": " + std::strerror(errno);
        return false;
      }
      return true;
    };
  pump.onProgress = [&](double percent) {
    progress.Update(percent, std::to_string(pump.stats().frames) + " frames");
  };
  pump.Run(!audioPath.empty());
  progress.Done();

  // Reaching the AVI size limit is what was asked for: the file is valid.
  bool ok = stopReason.empty();
  if (aviFull)
    std::fprintf(stderr,
                 "ogmdecaps demux: %s reached the AVI size limit (%lld bytes) after %u frames; it "
                 "holds those frames "
                 "(OpenDML for larger files is not written)\n",
                 videoPath.c_str(), limit, avi.frames());
  if (!stopReason.empty()) std::fprintf(stderr, "ogmdecaps demux: %s\n", stopReason.c_str());
  if (!videoPath.empty()) {
    if (!avi.Finish(&error)) {
      std::fprintf(stderr, "ogmdecaps demux: %s\n", error.c_str());
      ok = false;
    }
    std::printf("video: %u frames (%u marked keyframes%s) -> %s, %llu bytes\n", avi.frames(),
                avi.keyframes(),
                keyframes.understood() ? "" : ", all of them: no parser for this fourcc",
                videoPath.c_str(), static_cast<unsigned long long>(avi.bytes()));
  }
  if (!audioPath.empty()) {
    uint64_t bytes = pump.stats().audioBytes;
    if (wav) {
      if (!wavWriter.Finish(&error)) {
        std::fprintf(stderr, "ogmdecaps demux: %s\n", error.c_str());
        ok = false;
      }
      bytes = wavWriter.dataBytes();
    } else if (std::fclose(raw.release()) != 0) {
      std::fprintf(stderr, "ogmdecaps demux: %s: %s\n", audioPath.c_str(), std::strerror(errno));
      ok = false;
    }
    std::printf("audio: %s, %llu bytes -> %s%s\n", audio.name.c_str(),
                static_cast<unsigned long long>(bytes), audioPath.c_str(), wav ? " (WAV)" : "");
  }
  // A failed write loses the files; a failed read of the source keeps what
  // came before it, complete and valid, and still fails the run.
  if (!ok) {
    outputs.Discard();
    std::fprintf(stderr, "ogmdecaps demux: nothing written\n");
    return kExitFailed;
  }
  if (!outputs.Keep(&error)) return Failure(kCommand, error);
  if (pump.stats().readFailed) return ReadFailure(kCommand, pump.stats().frames);
  return kExitOk;
}

}  // namespace cli
