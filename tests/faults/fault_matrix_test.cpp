// The fault matrix: every kind of input fault (RavelFault.so) against open,
// sequential reading and every kind of seek. Each cell must return within
// the watchdog's bound, answer with what the header promises, deliver only
// genuine frames and audio, and leave the reader able to open the next
// source. The observed table is printed; LeakSanitizer checks the ASan run.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "input/input_source.h"
#include "peer_files.h"
#include "ravel_fault.h"
#include "reader/entries.h"
#include "simple_ogm.h"
#include "state/reader_state.h"

namespace {

using ogmtest::Bytes;

constexpr int kFrames = 250;
constexpr int kWatchdogSeconds = 30;
constexpr int32_t kAudioRequest = 4000;

ogmtest::SimpleOgmOptions FileOptions(int frames) {
  ogmtest::SimpleOgmOptions o;
  o.frames = frames;
  o.gop = 25;
  o.audio = ogmtest::AudioKind::kRaw;
  o.chapters = {{0, "Start"}, {4000, "Middle"}, {8000, "End"}};
  return o;
}

// Table rows: the fault and what the cells may show.
enum class Reading { kAll, kPrefix, kOtherFile };
enum class Seeking { kAsBaseline, kGenuine, kGenuineOrEnd };
struct Row {
  const char* name;
  RavelFaultPlan plan;
  int32_t open;  // expected open result
  Reading reading;
  Seeking seeking;
  bool closeIfStalled;  // a host thread calls CloseIfStalled during each cell
};

class FaultMatrix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new ogmtest::TempDir("faults");
    file_ = new ogmtest::SimpleOgm(ogmtest::MakeSimpleOgm(FileOptions(kFrames)));
    other_ = new ogmtest::SimpleOgm(ogmtest::MakeSimpleOgm(FileOptions(100)));
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("a.ogm"), file_->bytes));
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("other.ogm"), other_->bytes));
    Bytes junk(file_->bytes.size());
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 7 + 3);
    ASSERT_TRUE(ogmtest::WriteBytes(dir_->File("junk.bin"), junk));
    // The test's own handle keeps the plug-in (and its fault plan) loaded
    // while the reader loads and unloads it per source.
    plugin_ = dlopen("RavelFault.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin_, nullptr) << dlerror();
    configure_ = reinterpret_cast<RavelFaultConfigureFn>(dlsym(plugin_, "RavelFaultConfigure"));
    stats_ = reinterpret_cast<RavelFaultStatsFn>(dlsym(plugin_, "RavelFaultStats"));
    ASSERT_TRUE(configure_ && stats_);
  }
  static void TearDownTestSuite() {
    CloseEntry();
    if (plugin_) dlclose(plugin_);
    delete other_;
    delete file_;
    delete dir_;
  }

  // Opens path through the fault plug-in, bound as the reader binds any.
  static int32_t Open(const std::string& path, StreamInfo** info) {
    InputSource input;
    if (BindInput(input, u"RavelFault.dll") != 1) return -100;
    std::u16string name(path.begin(), path.end());
    void* result = nullptr;
    const int32_t r = OpenWithInput(input, name.c_str(), 0, &result);
    *info = static_cast<StreamInfo*>(result);
    return r;
  }

  static ogmtest::TempDir* dir_;
  static ogmtest::SimpleOgm* file_;
  static ogmtest::SimpleOgm* other_;
  static void* plugin_;
  static RavelFaultConfigureFn configure_;
  static RavelFaultStatsFn stats_;
};
ogmtest::TempDir* FaultMatrix::dir_ = nullptr;
ogmtest::SimpleOgm* FaultMatrix::file_ = nullptr;
ogmtest::SimpleOgm* FaultMatrix::other_ = nullptr;
void* FaultMatrix::plugin_ = nullptr;
RavelFaultConfigureFn FaultMatrix::configure_ = nullptr;
RavelFaultStatsFn FaultMatrix::stats_ = nullptr;

// What one cell did, as text for the table, and whether it kept the rules.
struct Cell {
  std::string text;
  std::string broken;    // empty: every check held
  bool onTarget = true;  // a seek that landed where the fault-free run lands
};

// Runs fn on its own thread; aborts the whole run when it does not return
// within the bound (a hang cannot be recovered from inside the process).
Cell WithWatchdog(const std::string& label, const std::function<Cell()>& fn, bool closeIfStalled) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  Cell cell;
  std::thread worker([&] {
    Cell c = fn();
    std::lock_guard<std::mutex> lock(m);
    cell = std::move(c);
    done = true;
    cv.notify_all();
  });
  std::atomic<bool> stop{false};
  std::thread host;
  if (closeIfStalled) {
    // A player's housekeeping thread: it asks the reader to give up on a
    // read that has held it for half a second.
    host = std::thread([&] {
      while (!stop) {
        CloseIfStalledEntry();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  {
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(kWatchdogSeconds), [&] { return done; })) {
      std::fprintf(stderr, "fault matrix: %s did not return within %d s\n", label.c_str(),
                   kWatchdogSeconds);
      std::abort();
    }
  }
  worker.join();
  stop = true;
  if (host.joinable()) host.join();
  return cell;
}

// --- the operations (columns) -------------------------------------------

struct Context {
  const ogmtest::SimpleOgm* file;  // the file whose frames may come out
  ogmtest::SimpleOgmOptions options;
  StreamInfo* info;
};

Cell ReadVideo(const Context& c) {
  std::vector<uint8_t> buf(1 << 20);
  int count = 0;
  int32_t r;
  Cell cell;
  while ((r = NextVideoFrameEntry(buf.data())) >= 0) {
    if (ogmtest::WrittenFrameIndex(c.options, buf.data(), r) != count) {
      cell.broken = "frame " + std::to_string(count) + " is not the file's";
      break;
    }
    ++count;
  }
  cell.text = count == c.options.frames ? "all " + std::to_string(count)
                                        : std::to_string(r) + " after " + std::to_string(count);
  return cell;
}

Cell ReadAudio(const Context& c) {
  std::vector<uint8_t> buf(kAudioRequest);
  uint64_t offset = 0;
  int32_t r;
  Cell cell;
  while ((r = ReadAudioEntry(buf.data(), kAudioRequest)) > 0) {
    if (Bytes(buf.begin(), buf.begin() + r) != ogmtest::RawAudio(offset, r)) {
      cell.broken = "audio at " + std::to_string(offset) + " is not the file's";
      break;
    }
    offset += r;
    if (r < kAudioRequest) break;  // the stream's tail
  }
  const bool all = offset == c.file->rawAudioBytes;
  cell.text =
      all ? "all audio" : std::to_string(r) + " after " + std::to_string(offset / 1000) + " kB";
  return cell;
}

Cell ReadBoth(const Context& c) {
  std::vector<uint8_t> frame(1 << 20), audio(kAudioRequest);
  int frames = 0;
  uint64_t offset = 0;
  bool videoEnded = false, audioEnded = false;
  Cell cell;
  while (!(videoEnded && audioEnded) && cell.broken.empty()) {
    if (!videoEnded) {
      const int32_t r = NextVideoFrameEntry(frame.data());
      if (r < 0) {
        videoEnded = true;
      } else if (ogmtest::WrittenFrameIndex(c.options, frame.data(), r) != frames++) {
        cell.broken = "frame " + std::to_string(frames - 1) + " is not the file's";
      }
    }
    // Audio kept up to half a second ahead of the video, as a player does.
    while (!audioEnded && (videoEnded || offset < (frames / 25.0 + 0.5) * 16000)) {
      if (ReadAudioEntry(audio.data(), kAudioRequest) != kAudioRequest) {
        audioEnded = true;
      } else if (Bytes(audio.begin(), audio.end()) != ogmtest::RawAudio(offset, audio.size())) {
        cell.broken = "audio at " + std::to_string(offset) + " is not the file's";
        break;
      } else {
        offset += kAudioRequest;
      }
    }
  }
  cell.text = std::to_string(frames) + " fr + " + std::to_string(offset / 1000) + " kB";
  return cell;
}

// After a seek (or re-seek): the result, then the next frame must be a
// keyframe of the file and the next audio must start on one of its packets
// close to that frame's time.
Cell AfterSeek(const Context& c, int32_t result, bool expectKeyframe) {
  Cell cell;
  const int64_t total = c.info->totalAudioBytes;
  if (result < 0 || result > total)
    cell.broken = "result " + std::to_string(result) + " outside 0.." + std::to_string(total);
  std::vector<uint8_t> frame(1 << 20), audio(1000);
  const int32_t n = NextVideoFrameEntry(frame.data());
  cell.text = "r=" + std::to_string(result / 1000) + "k";
  if (n < 0) {
    cell.text += " end";
    return cell;
  }
  const int index = ogmtest::WrittenFrameIndex(c.options, frame.data(), n);
  if (index < 0 || (expectKeyframe && !ogmtest::IsKeyframe(c.options, index))) {
    cell.broken = "the frame after the seek is not a keyframe of the file";
    return cell;
  }
  cell.text += " K" + std::to_string(index);
  if (ReadAudioEntry(audio.data(), 1000) != 1000) {
    cell.text += " a:0";
    return cell;
  }
  const double frameSeconds = index / 25.0;
  for (const ogmtest::AudioPacketRecord& p : c.file->audioPackets) {
    if (Bytes(audio.begin(), audio.end()) != ogmtest::RawAudio(p.byteOffset, audio.size()))
      continue;
    const double packetSeconds = static_cast<double>(p.startSample) / c.options.audioRate;
    // The audio may start up to a frame or a packet away from the keyframe.
    if (packetSeconds < frameSeconds - 0.1 || packetSeconds > frameSeconds + 0.1)
      cell.broken = "audio at " + std::to_string(packetSeconds) + " s, video at " +
                    std::to_string(frameSeconds) + " s";
    cell.text += " a:ok";
    return cell;
  }
  cell.broken = "audio after the seek does not start on a packet of the file";
  return cell;
}

struct Column {
  const char* name;
  bool isSeek;
  std::function<Cell(const Context&)> run;
};

std::vector<Column> Columns() {
  auto seek = [](int32_t position, int32_t byFrame) {
    return [=](const Context& c) { return AfterSeek(c, SeekEntry(position, byFrame), true); };
  };
  auto chapter = [](int32_t index) {
    return [=](const Context& c) { return AfterSeek(c, SeekChapterEntry(index), true); };
  };
  return {
      {"video", false, ReadVideo},
      {"audio", false, ReadAudio},
      {"both", false, ReadBoth},
      {"seek 50%", true, seek(50, 0)},
      {"seek 150%", true, seek(150, 0)},
      {"frame 130", true, seek(130, 1)},
      {"frame 9999", true, seek(9999, 1)},
      {"chapter 1", true, chapter(1)},
      {"chapter 7", true, chapter(7)},
      {"re-seek audio", true,
       [](const Context& c) {
         std::vector<uint8_t> frame(1 << 20);
         for (int i = 0; i < 60; ++i) NextVideoFrameEntry(frame.data());
         Cell cell = AfterSeek(c, ReSeekAudioEntry(), false);
         return cell;
       }},
  };
}

TEST_F(FaultMatrix, EveryFaultAgainstEveryOperation) {
  const int64_t size = static_cast<int64_t>(file_->bytes.size());
  const int64_t mid = size * 2 / 5;
  static std::string other, junk;
  other = dir_->File("other.ogm");
  junk = dir_->File("junk.bin");
  const std::vector<Row> rows = {
      {"none", {kFaultNone, 0, 0, nullptr}, 1, Reading::kAll, Seeking::kAsBaseline, false},
      {"short reads (1..7 B)",
       {kFaultShortReads, 0, 7, nullptr},
       1,
       Reading::kAll,
       Seeking::kAsBaseline,
       false},
      {"reads fail past 40%",
       {kFaultFailAfter, mid, 2, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       false},
      {"one read fails at 40%",
       {kFaultFailOnce, mid, 2, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       false},
      {"seek refused",
       {kFaultSeekRefused, 0, 0, nullptr},
       1,
       Reading::kAll,
       Seeking::kGenuine,
       false},
      {"seek lands at half",
       {kFaultSeekElsewhere, 0, 0, nullptr},
       1,
       Reading::kAll,
       Seeking::kGenuine,
       false},
      {"ends at 50%",
       {kFaultEndsEarly, size / 2, 0, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       false},
      {"other file on reopen",
       {kFaultChangedOnReopen, 0, 0, other.c_str()},
       1,
       Reading::kOtherFile,
       Seeking::kGenuineOrEnd,
       false},
      {"junk on reopen",
       {kFaultChangedOnReopen, 0, 0, junk.c_str()},
       0,
       Reading::kAll,
       Seeking::kGenuine,
       false},
      {"reopen refused",
       {kFaultReopenRefused, 0, 0, nullptr},
       0,
       Reading::kAll,
       Seeking::kGenuine,
       false},
      {"reads claim +1 B past 40%",
       {kFaultOverclaim, mid, 1, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       false},
      {"reads return -5 past 40%",
       {kFaultOverclaim, mid, -5, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       false},
      {"reads block past 40% until closed",
       {kFaultBlockAfter, mid, 2, nullptr},
       1,
       Reading::kPrefix,
       Seeking::kGenuineOrEnd,
       true},
  };
  const std::vector<Column> columns = Columns();
  std::map<size_t, std::string> baseline;  // row "none", per column

  std::string table = "| fault | open |";
  for (const Column& col : columns) table += std::string(" ") + col.name + " |";
  table += "\n|---|---|";
  for (size_t i = 0; i < columns.size(); ++i) table += "---|";
  table += "\n";

  for (const Row& row : rows) {
    table += std::string("| ") + row.name + " |";
    bool first = true;
    for (size_t ci = 0; ci < columns.size(); ++ci) {
      const Column& col = columns[ci];
      const std::string label = std::string(row.name) + " x " + col.name;
      SCOPED_TRACE(label);
      configure_(&row.plan);
      const bool otherFile = row.reading == Reading::kOtherFile;
      Context c{otherFile ? other_ : file_, FileOptions(otherFile ? 100 : kFrames), nullptr};
      int32_t opened = -1;
      const Cell cell = WithWatchdog(
          label,
          [&] {
            opened = Open(dir_->File("a.ogm"), &c.info);
            Cell out;
            if (opened != 1) {
              // Nothing may be left open: every entry answers as such.
              uint8_t b[16];
              if (NextVideoFrameEntry(b) != -1 || ReadAudioEntry(b, 16) != 0 ||
                  SeekEntry(50, 0) != 0)
                out.broken = "entries answer as if open after a failed open";
              out.text = "-";
              return out;
            }
            return col.run(c);
          },
          row.closeIfStalled);
      CloseEntry();
      if (first) table += " " + std::to_string(opened) + " |";
      first = false;
      EXPECT_EQ(opened, row.open);
      EXPECT_EQ(cell.broken, "");
      table += " " + cell.text + " |";

      if (opened == 1) {
        // The expectations of the row.
        if (row.seeking == Seeking::kAsBaseline || !col.isSeek) {
          if (baseline.count(ci) == 0) baseline[ci] = cell.text;
          if (row.reading == Reading::kAll || col.isSeek) {
            EXPECT_EQ(cell.text, baseline[ci]);
          } else if (row.reading == Reading::kPrefix && !row.closeIfStalled) {
            EXPECT_NE(cell.text, baseline[ci]) << "the fault should have cut the reading short";
            // A read that fails before the source's length is told apart
            // from its end.
            if (ci < 2) {
              EXPECT_EQ(cell.text.rfind("-3 after", 0), 0u) << cell.text;
            }
          } else if (row.reading == Reading::kOtherFile && ci == 0) {
            EXPECT_EQ(cell.text, "all 100");
          }
        } else if (row.seeking == Seeking::kGenuine) {
          EXPECT_EQ(cell.text.find(" end"), std::string::npos) << cell.text;
        }
      }
      // The plug-in's source is closed, and the next open of a sound source
      // works and starts at frame 0.
      RavelFaultCounters k{};
      stats_(&k);
      EXPECT_EQ(k.open, 0);
      const RavelFaultPlan none = {kFaultNone, 0, 0, nullptr};
      configure_(&none);
      StreamInfo* info = nullptr;
      ASSERT_EQ(Open(dir_->File("a.ogm"), &info), 1);
      std::vector<uint8_t> frame(1 << 16);
      const int32_t n = NextVideoFrameEntry(frame.data());
      EXPECT_EQ(ogmtest::WrittenFrameIndex(FileOptions(kFrames), frame.data(), n), 0);
      CloseEntry();
    }
    table += "\n";
  }
  std::printf("%s", table.c_str());
}

}  // namespace
