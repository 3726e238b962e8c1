// Steady-state allocations: once a source is open and playback has run for
// a while, taking video frames and audio (raw and Vorbis) must not touch the
// heap. Every allocation in the process goes through the malloc family
// defined here; a switch limits counting to the calls under test, and the
// first few counted allocations keep a backtrace for the failure message.
#include <execinfo.h>
#include <gtest/gtest.h>
#include <ogmdecaps/ogmdecaps.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "peer_files.h"
#include "simple_ogm.h"

// Sanitizer runtimes own malloc: the counting hooks stay out of those builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OGM_ALLOC_HOOKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define OGM_ALLOC_HOOKS 0
#endif
#endif
#ifndef OGM_ALLOC_HOOKS
#define OGM_ALLOC_HOOKS 1
#endif

namespace {

constexpr int kMaxTraces = 8;
constexpr int kTraceDepth = 24;
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
std::atomic<long> gFrees{0};
void* gTraces[kMaxTraces][kTraceDepth];
int gTraceDepths[kMaxTraces];
thread_local bool tInHook = false;

[[maybe_unused]] void NoteAllocation() {
  if (!gCounting.load(std::memory_order_relaxed) || tInHook) return;
  tInHook = true;
  const long n = gAllocations.fetch_add(1);
  if (n < kMaxTraces) gTraceDepths[n] = backtrace(gTraces[n], kTraceDepth);
  tInHook = false;
}

[[maybe_unused]] void NoteFree(void* p) {
  if (p != nullptr && gCounting.load(std::memory_order_relaxed) && !tInHook) gFrees.fetch_add(1);
}

}  // namespace

#if OGM_ALLOC_HOOKS
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
  NoteAllocation();
  return __libc_malloc(n);
}
void* calloc(size_t count, size_t n) {
  NoteAllocation();
  return __libc_calloc(count, n);
}
void* realloc(void* p, size_t n) {
  NoteAllocation();
  return __libc_realloc(p, n);
}
void free(void* p) {
  NoteFree(p);
  __libc_free(p);
}
void* memalign(size_t alignment, size_t n) {
  NoteAllocation();
  return __libc_memalign(alignment, n);
}
void* aligned_alloc(size_t alignment, size_t n) {
  NoteAllocation();
  return __libc_memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n) {
  NoteAllocation();
  void* p = __libc_memalign(alignment, n);
  if (p == nullptr) return 12;  // ENOMEM
  *out = p;
  return 0;
}
}  // extern "C"
#endif

namespace {

using namespace ogmtest;

// Counts the allocations made between construction and Stop().
class Window {
 public:
  Window() {
    gAllocations = 0;
    gFrees = 0;
    gCounting = true;
  }
  ~Window() { gCounting = false; }
  void Stop() { gCounting = false; }
  long allocations() const { return gAllocations.load(); }
  long frees() const { return gFrees.load(); }
  // Where the first counted allocations came from, one symbolised trace each.
  static std::string Traces() {
    std::string text;
    const long n = std::min<long>(gAllocations.load(), kMaxTraces);
    for (long i = 0; i < n; ++i) {
      text += "allocation " + std::to_string(i + 1) + ":\n";
      char** names = backtrace_symbols(gTraces[i], gTraceDepths[i]);
      for (int j = 0; names != nullptr && j < gTraceDepths[i]; ++j)
        text += std::string("  ") + names[j] + "\n";
      free(names);
    }
    return text;
  }
};

// A host's playback: one video frame, then audio until it has caught up
// with the video's time.
class Player {
 public:
  explicit Player(const StreamInfo& info) : info_(info), video_(8 << 20), audio_(1 << 20) {
    bytesPerSecond_ = info.audioFormat == 0
                          ? 2.0 * info.audioParamA * info.audioParamB
                          : info.totalAudioBytes / (info.frameCount / info.framesPerSecond);
  }
  // Plays until at least the given numbers of calls were made; false when
  // the source ended first.
  bool Play(long videoCalls, long audioCalls) {
    long v = 0, a = 0;
    while (v < videoCalls || a < audioCalls) {
      if (AVIDecaps_NextVideoFrame(video_.data(), 0) < 0) return false;
      ++v;
      ++frames_;
      while (audioBytes_ / bytesPerSecond_ < frames_ / info_.framesPerSecond) {
        // Raw audio in small requests, so 1,000 calls fit in a short file.
        const int32_t n = AVIDecaps_ReadAudio(audio_.data(), 1024);
        ++a;
        if (n <= 0) return false;
        audioBytes_ += n;
      }
    }
    videoCalls_ += v;
    audioCalls_ += a;
    return true;
  }
  long videoCalls() const { return videoCalls_; }
  long audioCalls() const { return audioCalls_; }

 private:
  const StreamInfo& info_;
  std::vector<uint8_t> video_, audio_;
  double bytesPerSecond_ = 0;
  int64_t frames_ = 0;
  double audioBytes_ = 0;
  long videoCalls_ = 0, audioCalls_ = 0;
};

// Files are made once for the whole suite.
class AllocTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir("ogm-alloc");
    // Our writer: frames of 1.5..6 kB, a 30 kB keyframe every 250 frames
    // (10 s), 90 s in all; raw MP3-like audio at 16 kB/s, or Vorbis from
    // our encoder.
    SimpleOgmOptions o;
    o.frames = 90 * 25;
    o.gop = 250;
    o.minFrameBytes = 1500;
    o.maxFrameBytes = 6000;
    for (int i = 0; i < o.frames; i += o.gop) o.largeFrames.insert(i);
    o.largeFrameBytes = 30000;
    o.audio = AudioKind::kRaw;
    writerRaw_ = Write(o, "writer_raw.ogm");
    const std::string ogg = EncodeVorbis(dir_->path(), "enc.ogg", 44100, 2, 90.0, 0.3, "sine");
    if (!ogg.empty()) {
      o.audio = AudioKind::kVorbis;
      o.vorbisFile = ogg;
      writerVorbis_ = Write(o, "writer_vorbis.ogm");
    }
  }
  // ogmmerge files (made at the first use): MPEG-4 test pattern with a
  // keyframe every 250 frames, MP3 and Vorbis from ffmpeg.
  static void MakePeerFiles() {
    if (peersMade_) return;
    peersMade_ = true;
    const std::string avi = MakePeerAvi(dir_->path(), 90, 25, 250, "320x240");
    const std::string mp3 = MakePeerMp3(dir_->path(), 90);
    const std::string vorbis = MakePeerVorbisOgg(dir_->path(), 90);
    if (!avi.empty() && !mp3.empty())
      peerMp3_ = MakePeerOgm(dir_->path(), "peer_mp3.ogm", {avi, mp3});
    if (!avi.empty() && !vorbis.empty())
      peerVorbis_ = MakePeerOgm(dir_->path(), "peer_vorbis.ogm", {avi, vorbis});
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    peersMade_ = false;
    peerMp3_.clear();
    peerVorbis_.clear();
  }

  static std::string Write(const SimpleOgmOptions& o, const std::string& name) {
    const std::string path = dir_->File(name);
    return WriteBytes(path, MakeSimpleOgm(o).bytes) ? path : std::string();
  }

  void SetUp() override {
#if !OGM_ALLOC_HOOKS
    GTEST_SKIP() << "a sanitizer owns malloc in this build";
#endif
  }
  void TearDown() override { AVIDecaps_Close(); }

  // Opens, plays 12 s (past the second keyframe) to warm up, then counts
  // the allocations of at least 1,000 video and 1,000 audio calls.
  void ExpectSteadyStateFree(const std::string& path, int32_t useCache, bool vorbis) {
    ASSERT_FALSE(path.empty()) << "fixture could not be made";
    const std::u16string name(path.begin(), path.end());
    void* p = nullptr;
    ASSERT_EQ(AVIDecaps_Open(name.c_str(), useCache, 0, &p), 1) << path;
    const StreamInfo& info = *static_cast<const StreamInfo*>(p);
    ASSERT_EQ(info.audioFormat == 0, vorbis) << path;
    Player player(info);
    ASSERT_TRUE(player.Play(300, 0)) << "the warm-up ran past the end of " << path;
    const long video0 = player.videoCalls(), audio0 = player.audioCalls();
    Window window;
    const bool played = player.Play(1000, 1000);
    window.Stop();
    ASSERT_TRUE(played) << "the source ended inside the counted calls: " << path;
    const long video = player.videoCalls() - video0, audio = player.audioCalls() - audio0;
    ASSERT_GE(video, 1000);
    ASSERT_GE(audio, 1000);
    EXPECT_EQ(window.allocations(), 0)
        << "over " << video << " video and " << audio << " audio calls (" << window.frees()
        << " frees) of " << path << "\n"
        << Window::Traces();
  }

  static TempDir* dir_;
  static std::string writerRaw_, writerVorbis_, peerMp3_, peerVorbis_;
  static bool peersMade_;
};

TempDir* AllocTest::dir_ = nullptr;
std::string AllocTest::writerRaw_, AllocTest::writerVorbis_, AllocTest::peerMp3_,
    AllocTest::peerVorbis_;
bool AllocTest::peersMade_ = false;

// The counter must see the library's own allocations, or a zero below would
// prove nothing: opening a source sets up libogg and Tremor state.
TEST_F(AllocTest, CountsTheLibrarysAllocations) {
  ASSERT_FALSE(writerVorbis_.empty());
  const std::u16string name(writerVorbis_.begin(), writerVorbis_.end());
  void* p = nullptr;
  Window window;
  const int32_t opened = AVIDecaps_Open(name.c_str(), 0, 0, &p);
  window.Stop();
  ASSERT_EQ(opened, 1);
  EXPECT_GT(window.allocations(), 0);
}

TEST_F(AllocTest, WriterFileRawAudio) { ExpectSteadyStateFree(writerRaw_, 0, false); }
TEST_F(AllocTest, WriterFileRawAudioThroughCache) { ExpectSteadyStateFree(writerRaw_, 1, false); }
TEST_F(AllocTest, WriterFileVorbis) { ExpectSteadyStateFree(writerVorbis_, 0, true); }

// ogmmerge files: their keyframe pages keep growing through the file
// (11.9 kB at 0 s ... 15 kB at 30 s); the reader sizes its sync buffer for
// the largest Ogg page at open, so none of them makes playback allocate.
TEST_F(AllocTest, OgmmergeFileMp3) {
  if (!HaveFfmpeg() || !HaveOgmmerge()) GTEST_SKIP() << "ffmpeg or ogmmerge missing";
  MakePeerFiles();
  ExpectSteadyStateFree(peerMp3_, 0, false);
}

TEST_F(AllocTest, OgmmergeFileVorbis) {
  if (!HaveFfmpeg() || !HaveOgmmerge()) GTEST_SKIP() << "ffmpeg or ogmmerge missing";
  MakePeerFiles();
  ExpectSteadyStateFree(peerVorbis_, 0, true);
}

}  // namespace
