#include "abi32_sample.h"

#include "simple_ogm.h"

namespace {

ogmtest::SimpleOgmOptions Options() {
  ogmtest::SimpleOgmOptions o;
  o.frames = kFrames;
  o.timeUnit = 10000000 / kFps;
  o.gop = 1;
  o.width = kWidth;
  o.height = kHeight;
  o.audio = ogmtest::AudioKind::kRaw;
  o.audioTag = "0055";
  o.audioRate = kAudioRate;
  o.audioChannels = kAudioChannels;
  o.audioAvgBytesPerSecond = kAudioBytesPerSecond;
  for (int c = 0; c < kChapters; ++c) o.chapters.push_back({kChapterStartMs[c], kChapterNames[c]});
  return o;
}

}  // namespace

const char* const kChapterNames[kChapters] = {"Opening", "Second part"};
const int kChapterStartMs[kChapters] = {0, 1000};

int WriteAbiSample(const char* path) {
  return ogmtest::WriteBytes(path, ogmtest::MakeSimpleOgm(Options()).bytes) ? 1 : 0;
}

size_t AbiSampleFrameBytes(int i) { return ogmtest::FrameSize(Options(), i); }
