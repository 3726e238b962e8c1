// play: a video thread and an audio thread pull the source as a player's
// would, optionally with a third thread seeking forward meanwhile; prints
// what was delivered and how fast.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "command_common.h"
#include "commands.h"
#include "progress.h"
#include "pump.h"
#include "stream_facts.h"
#include "thread_sync.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// Without --realtime neither thread may run more than this far (in media
// seconds) ahead of the other: the reader keeps the other stream's packets
// in memory meanwhile, as much as the lead is long.
constexpr double kFastLead = 0.5;
// With --realtime the audio is kept this far ahead of the clock, as a sound
// card's queue would be.
constexpr double kAudioQueue = 0.25;

struct SeekRecord {
  int percent;
  int32_t landedFrame;
  int32_t remainingAudio;
  bool fromAudio;  // landedFrame follows from remainingAudio
};

class Player {
 public:
  Player(const OpenSource& source, bool realtime, int seekEvery)
      : source_(source),
        api_(source.api()),
        audio_(DescribeAudio(source.info())),
        fps_(source.info().framesPerSecond),
        realtime_(realtime),
        seekEvery_(seekEvery),
        seekGap_(std::max<int64_t>(1, std::llround(fps_))) {}

  void Run(ProgressBar& progress);
  void PrintSummary() const;
  bool readFailed() const { return readFailed_; }
  int64_t frames() const { return frames_; }

 private:
  // Media time delivered since the last seek, under mu_.
  double VideoTime() const { return fps_ > 0 ? framesEpoch_ / fps_ : 0; }
  double AudioTime() const {
    return audio_.bytesPerSecond > 0 ? audioEpoch_ / audio_.bytesPerSecond : 0;
  }
  double Elapsed() const {
    return std::chrono::duration<double>(Clock::now() - epochStart_).count();
  }
  bool AudioPaced() const { return audio_.present && audio_.bytesPerSecond > 0; }
  void NoteDifference();

  void VideoThread();
  void AudioThread();
  void SeekThread();

  const OpenSource& source_;
  const ReaderApi& api_;
  const AudioFacts audio_;
  const double fps_;
  const bool realtime_;
  const int seekEvery_;
  // Frames of video between seeks: one second, so both threads read after
  // each seek.
  const int64_t seekGap_;

  Mutex mu_;
  CondVar cv_;
  Clock::time_point start_;
  Clock::time_point epochStart_;
  int64_t framesEpoch_ = 0;
  uint64_t audioEpoch_ = 0;
  int64_t frames_ = 0;
  uint64_t videoBytes_ = 0;
  uint64_t audioBytes_ = 0;
  bool videoDone_ = false;
  bool audioDone_ = false;
  bool seeksPending_ = false;
  bool readFailed_ = false;
  double maxDifference_ = 0;
  double endDifference_ = 0;
  double wallSeconds_ = 0;
  std::vector<SeekRecord> seeks_;
};

void Player::NoteDifference() {
  if (videoDone_ || audioDone_ || !AudioPaced()) return;
  maxDifference_ = std::max(maxDifference_, std::fabs(VideoTime() - AudioTime()));
}

void Player::VideoThread() {
  std::vector<uint8_t> buffer(kVideoBufferBytes);
  for (;;) {
    {
      std::unique_lock<Mutex> lock(mu_);
      if (realtime_ && fps_ > 0) {
        // Frame n is due n / fps after the start (or the last seek).
        while (VideoTime() > Elapsed()) {
          const auto due = epochStart_ + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(VideoTime()));
          cv_.wait_until(lock, due);
        }
      } else if (AudioPaced()) {
        cv_.wait(lock, [&] { return audioDone_ || VideoTime() - AudioTime() <= kFastLead; });
      }
      // The video keeps reading while a seek is due (that is the point),
      // but not past two gaps, so a fast thread cannot outrun every seek.
      cv_.wait(lock, [&] { return !seeksPending_ || framesEpoch_ < 2 * seekGap_; });
    }
    const int32_t n = api_.nextVideoFrame(buffer.data(), 0);
    std::lock_guard<Mutex> lock(mu_);
    if (n < 0) {
      videoDone_ = true;
      if (n == OGMDECAPS_READ_ERROR) readFailed_ = true;
      cv_.notify_all();
      return;
    }
    ++frames_;
    ++framesEpoch_;
    videoBytes_ += static_cast<uint64_t>(n);
    NoteDifference();
    cv_.notify_all();
  }
}

void Player::AudioThread() {
  AudioPuller puller(api_, source_.info(), false);
  for (;;) {
    {
      std::unique_lock<Mutex> lock(mu_);
      if (realtime_ && AudioPaced()) {
        while (AudioTime() > Elapsed() + kAudioQueue) {
          const auto due =
              epochStart_ + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(AudioTime() - kAudioQueue));
          cv_.wait_until(lock, due);
        }
      } else if (AudioPaced()) {
        cv_.wait(lock, [&] { return videoDone_ || AudioTime() - VideoTime() <= kFastLead; });
      }
    }
    const int32_t n = puller.Read();
    std::lock_guard<Mutex> lock(mu_);
    if (n == 0) {
      audioDone_ = true;
      if (puller.readFailed()) readFailed_ = true;
      cv_.notify_all();
      return;
    }
    audioBytes_ += static_cast<uint64_t>(n);
    audioEpoch_ += static_cast<uint64_t>(n);
    NoteDifference();
    cv_.notify_all();
  }
}

void Player::SeekThread() {
  for (int percent = seekEvery_; percent < 100; percent += seekEvery_) {
    {
      std::unique_lock<Mutex> lock(mu_);
      // A source without audio has it "done" from the start: only the end
      // of a stream that exists ends the seeks.
      const auto ended = [&] { return videoDone_ || (audio_.present && audioDone_); };
      cv_.wait(lock, [&] { return ended() || framesEpoch_ >= seekGap_; });
      if (ended()) break;
    }
    const int32_t remaining = api_.seek(percent, 0);
    // currentFrame cannot be read together with the seek: the video thread
    // may take frames in between. The remaining audio bytes are computed
    // under the reader's lock from the frame it landed on, so the landing
    // frame follows from them whenever there is audio.
    const StreamInfo& info = source_.info();
    int32_t landed = info.currentFrame;
    const bool fromAudio = audio_.present && info.totalAudioBytes > 0;
    if (fromAudio)
      landed = static_cast<int32_t>(std::llround(
          info.frameCount * (1.0 - static_cast<double>(remaining) / info.totalAudioBytes)));
    std::lock_guard<Mutex> lock(mu_);
    seeks_.push_back({percent, landed, remaining, fromAudio});
    framesEpoch_ = 0;
    audioEpoch_ = 0;
    epochStart_ = Clock::now();
    cv_.notify_all();
  }
  std::lock_guard<Mutex> lock(mu_);
  seeksPending_ = false;
  cv_.notify_all();
}

void Player::Run(ProgressBar& progress) {
  start_ = epochStart_ = Clock::now();
  if (!audio_.present) audioDone_ = true;
  seeksPending_ = seekEvery_ > 0;
  std::thread video(&Player::VideoThread, this);
  std::thread audio;
  if (audio_.present) audio = std::thread(&Player::AudioThread, this);
  std::thread seeker;
  if (seekEvery_ > 0) seeker = std::thread(&Player::SeekThread, this);
  for (;;) {
    int64_t frames;
    {
      std::unique_lock<Mutex> lock(mu_);
      if (cv_.wait_for(lock, std::chrono::milliseconds(100),
                       [&] { return videoDone_ && audioDone_; }))
        break;
      frames = frames_;
    }
    progress.Update(api_.getProgress(), std::to_string(frames) + " frames");
  }
  video.join();
  if (audio.joinable()) audio.join();
  if (seeker.joinable()) seeker.join();
  progress.Done();
  wallSeconds_ = std::chrono::duration<double>(Clock::now() - start_).count();
  endDifference_ = VideoTime() - AudioTime();
}

void Player::PrintSummary() const {
  const double videoSeconds = fps_ > 0 ? frames_ / fps_ : 0;
  std::printf("video:      %lld frames, %llu bytes, %s at %.3f fps\n",
              static_cast<long long>(frames_), static_cast<unsigned long long>(videoBytes_),
              ClockTime(videoSeconds).c_str(), fps_);
  if (!audio_.present) {
    std::printf("audio:      none\n");
  } else if (audio_.bytesPerSecond > 0) {
    const double audioSeconds = audioBytes_ / audio_.bytesPerSecond;
    std::printf("audio:      %llu bytes, %.3f s of %s%s\n",
                static_cast<unsigned long long>(audioBytes_), audioSeconds, audio_.name.c_str(),
                audio_.vorbis ? " (bytes / (2 x channels x rate))"
                              : " (rate taken as totalAudioBytes / duration)");
  } else {
    std::printf("audio:      %llu bytes of %s (no rate known: seconds unknown)\n",
                static_cast<unsigned long long>(audioBytes_), audio_.name.c_str());
  }
  if (audio_.present && audio_.bytesPerSecond > 0) {
    std::printf(
        "a/v:        largest difference %.3f s while both ran; video - audio = %+.3f s at the "
        "end%s\n",
        maxDifference_, endDifference_, seeks_.empty() ? "" : " (counted from the last seek)");
    if (!realtime_)
      std::printf("            (without --realtime the threads are held within %.1f s)\n",
                  kFastLead);
  }
  if (seekEvery_ > 0) {
    std::printf("seeks:      %zu\n", seeks_.size());
    for (const SeekRecord& s : seeks_)
      std::printf("            %3d%% -> frame %d (%s), %d audio bytes remain%s\n", s.percent,
                  s.landedFrame, ClockTime(fps_ > 0 ? s.landedFrame / fps_ : 0).c_str(),
                  s.remainingAudio,
                  s.fromAudio ? "" : " (frame read after the seek: may be later)");
  }
  const double wall = wallSeconds_ > 0 ? wallSeconds_ : 1e-9;
  std::printf("throughput: %.3f s wall, %.2f MB/s, %.1f frames/s%s\n", wallSeconds_,
              (videoBytes_ + audioBytes_) / 1e6 / wall, frames_ / wall,
              realtime_ ? " (paced by --realtime)" : "");
}

}  // namespace

int RunPlay(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!parsed.Parse(args, {{"--realtime", false}, {"--seek-every", true}}, &error))
    return UsageError("play", error);
  long long seekEvery = 0;
  if (parsed.Has("--seek-every") && !ParseInt(parsed.Value("--seek-every"), 1, 99, &seekEvery))
    return UsageError("play", "--seek-every wants a whole percent step 1..99");
  Session session;
  if (const int code = OpenSession("play", parsed, &session); code != kExitOk) return code;
  ProgressBar progress;
  Player player(*session.source, parsed.Has("--realtime"), static_cast<int>(seekEvery));
  player.Run(progress);
  player.PrintSummary();
  if (player.readFailed()) return ReadFailure("play", player.frames());
  return kExitOk;
}

}  // namespace cli
