// Several host threads at once, in the orders a player uses: a video
// thread, an audio thread, a control thread seeking, a UI thread polling
// progress, and a housekeeping thread calling CloseIfStalled. Then the
// stalled close with the real HTTP plug-in against a server that stops
// sending mid-transfer. Run under ThreadSanitizer too (label "threads").
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "host_library.h"
#include "http_servers.h"
#include "peer_files.h"
#include "simple_ogm.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

ogmtest::SimpleOgmOptions Options(int frames) {
  ogmtest::SimpleOgmOptions o;
  o.frames = frames;
  o.gop = 10;
  o.audio = ogmtest::AudioKind::kRaw;
  o.chapters = {{0, "One"}, {2000, "Two"}, {4000, "Three"}};
  return o;
}

// Waits for a thread's future; a hang fails the run instead of blocking it.
template <typename T>
T Within(std::future<T>& f, seconds limit, const char* what) {
  if (f.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "%s did not return within %lld s\n", what,
                 static_cast<long long>(limit.count()));
    std::abort();
  }
  return f.get();
}

TEST(HostileThreads, PlayerThreadsSeekingPollingAndStalledCloses) {
  HostLibrary lib;
  ASSERT_NE(lib.handle, nullptr);
  const ReaderFunctions& t = lib.t;
  ogmtest::TempDir dir("hostile-threads");
  const ogmtest::SimpleOgmOptions o = Options(150);
  ASSERT_TRUE(ogmtest::WriteBytes(dir.File("a.ogm"), ogmtest::MakeSimpleOgm(o).bytes));
  StreamInfo* info = lib.Open(dir.File("a.ogm"), 1);  // through RavelCache
  ASSERT_NE(info, nullptr);
  const int32_t total = info->totalAudioBytes;

  std::atomic<bool> stop{false};
  std::atomic<int> badFrames{0}, badResults{0}, frames{0};
  auto video = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buf(1 << 16);
    while (!stop) {
      const int32_t n = t.nextVideoFrame(buf.data(), 0);
      if (n >= 0 && ogmtest::WrittenFrameIndex(o, buf.data(), n) < 0) ++badFrames;
      if (n < -1) ++badResults;
      if (n >= 0) ++frames;
      if (n < 0) std::this_thread::yield();
    }
    return 0;
  });
  auto audio = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buf(4000);
    while (!stop) {
      const int32_t n = t.readAudio(buf.data(), 4000);
      if (n < 0 || n > 4000) ++badResults;  // short: the stream's tail
      if (n == 0) std::this_thread::yield();
    }
    return 0;
  });
  auto ui = std::async(std::launch::async, [&] {
    while (!stop) {
      const double p = t.getProgress();
      if (!std::isfinite(p) || p < 0) ++badResults;
      if (lib.frameRate() != 25.0) ++badResults;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return 0;
  });
  auto housekeeping = std::async(std::launch::async, [&] {
    while (!stop) {
      t.closeIfStalled();
      std::this_thread::sleep_for(milliseconds(20));
    }
    return 0;
  });
  auto control = std::async(std::launch::async, [&] {
    for (int i = 0; i < 120; ++i) {
      int32_t r = 0;
      switch (i % 5) {
        case 0:
          r = t.seek((i * 37) % 120, 0);
          break;
        case 1:
          r = t.seek((i * 13) % 200, 1);
          break;
        case 2:
          r = t.seekChapter(i % 4);
          break;
        case 3:
          r = t.reSeekAudio();
          break;
        default:
          r = t.seek(0, 0);
          break;
      }
      if (r < 0 || r > total) ++badResults;
      std::this_thread::sleep_for(milliseconds(3));
    }
    return 0;
  });
  Within(control, seconds(120), "the control thread");
  stop = true;
  Within(video, seconds(30), "the video thread");
  Within(audio, seconds(30), "the audio thread");
  Within(ui, seconds(30), "the UI thread");
  Within(housekeeping, seconds(30), "the housekeeping thread");
  EXPECT_EQ(badFrames, 0);
  EXPECT_EQ(badResults, 0);
  EXPECT_GT(frames, 0);
  EXPECT_EQ(t.close(), 1);
  // The next source opens and plays from its start.
  ASSERT_NE(lib.Open(dir.File("a.ogm")), nullptr);
  std::vector<uint8_t> buf(1 << 16);
  EXPECT_EQ(t.nextVideoFrame(buf.data(), 0), static_cast<int32_t>(ogmtest::FrameSize(o, 0)));
  EXPECT_EQ(t.close(), 1);
}

// A player stops by calling Close while its video, audio and control
// threads still pull: the calls in progress end, and every call that starts
// after Close returned answers as with nothing open. Many rounds, at
// varying moments of the playback.
TEST(HostileThreads, CloseFromAnyThreadDuringPlayback) {
  HostLibrary lib;
  ASSERT_NE(lib.handle, nullptr);
  const ReaderFunctions& t = lib.t;
  ogmtest::TempDir dir("hostile-close");
  ASSERT_TRUE(ogmtest::WriteBytes(dir.File("a.ogm"), ogmtest::MakeSimpleOgm(Options(150)).bytes));
  for (int round = 0; round < 24; ++round) {
    ASSERT_NE(lib.Open(dir.File("a.ogm"), round % 2), nullptr);
    std::atomic<bool> closed{false}, stop{false};
    std::atomic<int> calls{0}, answeredAsOpen{0};
    // Runs call until stopped; a call that starts after the close must
    // return the entry's failure value.
    auto pull = [&](std::function<int32_t()> call, int32_t failure) {
      return std::async(std::launch::async, [&, call, failure] {
        while (!stop) {
          const bool after = closed;
          const int32_t r = call();
          ++calls;
          if (after && r != failure) ++answeredAsOpen;
          if (r == failure) std::this_thread::yield();
        }
        return 0;
      });
    };
    std::vector<uint8_t> frame(1 << 16), audio(4000);
    auto video = pull([&] { return t.nextVideoFrame(frame.data(), 0); }, -1);
    auto sound = pull([&] { return t.readAudio(audio.data(), 4000); }, 0);
    int step = 0;
    auto control = pull([&] { return t.seek((++step * 37) % 100, 0); }, 0);
    const int closeAfter = 1 + (round * 7) % 60;
    while (calls < closeAfter) std::this_thread::yield();
    EXPECT_EQ(t.close(), 1);
    closed = true;
    const int later = calls + 30;
    while (calls < later) std::this_thread::yield();
    stop = true;
    Within(video, seconds(30), "the video thread");
    Within(sound, seconds(30), "the audio thread");
    Within(control, seconds(30), "the control thread");
    EXPECT_EQ(answeredAsOpen, 0) << "round " << round;
  }
  // The library is usable afterwards.
  ASSERT_NE(lib.Open(dir.File("a.ogm")), nullptr);
  std::vector<uint8_t> buf(1 << 16);
  EXPECT_EQ(t.nextVideoFrame(buf.data(), 0),
            static_cast<int32_t>(ogmtest::FrameSize(Options(150), 0)));
  EXPECT_EQ(t.close(), 1);
}

// A network read that blocks: CloseIfStalled (table slot 10) from another
// thread makes the blocked thread return at once, not after the plug-in's
// time-out.
TEST(HostileThreads, CloseIfStalledReleasesAThreadBlockedInAnHttpRead) {
  HostLibrary lib;
  ASSERT_NE(lib.handle, nullptr);
  const ReaderFunctions& t = lib.t;
  const ogmtest::SimpleOgmOptions o = Options(500);
  const ogmtest::Bytes file = ogmtest::MakeSimpleOgm(o).bytes;
  Script script;
  script.body.assign(file.begin(), file.end());
  script.stallAfter = file.size() / 3;  // then the connection stays open, silent
  ScriptedServer server(script);
  ASSERT_NE(lib.Open(server.Url()), nullptr);

  std::atomic<int> frames{0};
  std::atomic<int64_t> lastFrameMs{0};
  const auto start = Clock::now();
  auto sinceStart = [&] {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
  };
  auto video = std::async(std::launch::async, [&] {
    std::vector<uint8_t> buf(1 << 16);
    int32_t n;
    while ((n = t.nextVideoFrame(buf.data(), 0)) >= 0) {
      if (ogmtest::WrittenFrameIndex(o, buf.data(), n) < 0) return -100;
      ++frames;
      lastFrameMs = sinceStart();
    }
    return n;
  });
  // The reader is stalled once no frame has come for a second.
  while (sinceStart() < 20000 && (frames == 0 || sinceStart() - lastFrameMs < 1000))
    std::this_thread::sleep_for(milliseconds(50));
  ASSERT_GT(frames, 0);
  ASSERT_LT(frames, 500) << "the server should have stalled the transfer";
  ASSERT_EQ(video.wait_for(milliseconds(0)), std::future_status::timeout)
      << "the reader did not block";

  const int64_t closeAt = sinceStart();
  t.closeIfStalled();
  EXPECT_EQ(Within(video, seconds(30), "the blocked video thread"), -1);
  const int64_t released = sinceStart() - closeAt;
  // The stalled close waits 500 ms for the lock; the read then ends at once
  // (the plug-in's own time-out is 15 s or more).
  EXPECT_LT(released, 5000);
  std::printf("blocked read released %lld ms after CloseIfStalled (%d frames before the stall)\n",
              static_cast<long long>(released), frames.load());

  uint8_t buf[64];
  EXPECT_EQ(t.nextVideoFrame(buf, 0), -1);
  EXPECT_EQ(t.readAudio(buf, 64), 0);
  // The next open (a server that does not stall) works.
  Script good;
  good.body.assign(file.begin(), file.end());
  ScriptedServer goodServer(good);
  ASSERT_NE(lib.Open(goodServer.Url()), nullptr);
  std::vector<uint8_t> frame(1 << 16);
  int count = 0;
  while (t.nextVideoFrame(frame.data(), 0) >= 0) ++count;
  EXPECT_EQ(count, 500);
  EXPECT_EQ(t.close(), 1);
}

// The same for an open that hangs: the server stops sending inside the
// stream headers, and CloseIfStalled from another thread ends the open
// (0, nothing left open) instead of the host waiting out the time-out.
TEST(HostileThreads, CloseIfStalledEndsAnOpenThatHangsInAnHttpRead) {
  HostLibrary lib;
  ASSERT_NE(lib.handle, nullptr);
  const ReaderFunctions& t = lib.t;
  const ogmtest::Bytes file = ogmtest::MakeSimpleOgm(Options(50)).bytes;
  Script script;
  script.body.assign(file.begin(), file.end());
  script.stallAfter = 300;  // inside the first pages
  ScriptedServer server(script);
  auto open = std::async(std::launch::async, [&] { return lib.Open(server.Url()) != nullptr; });
  std::this_thread::sleep_for(seconds(1));
  ASSERT_EQ(open.wait_for(milliseconds(0)), std::future_status::timeout) << "the open did not hang";
  const auto closeAt = Clock::now();
  t.closeIfStalled();
  EXPECT_FALSE(Within(open, seconds(30), "the hanging open"));
  const auto released = std::chrono::duration_cast<milliseconds>(Clock::now() - closeAt).count();
  EXPECT_LT(released, 5000);
  std::printf("hanging open ended %lld ms after CloseIfStalled\n",
              static_cast<long long>(released));
  uint8_t buf[64];
  EXPECT_EQ(t.nextVideoFrame(buf, 0), -1);
  Script good;
  good.body.assign(file.begin(), file.end());
  ScriptedServer goodServer(good);
  EXPECT_NE(lib.Open(goodServer.Url()), nullptr);
  EXPECT_EQ(t.close(), 1);
}

}  // namespace
