// The plug-ins' internal pieces: argument decoding, names, the response-head
// parser and the read-ahead window (against a fake file that counts reads).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "plugin_harness.h"
#include "plugins/common/open_args.h"
#include "plugins/common/read_ahead_cache.h"
#include "plugins/common/source_name.h"
#include "plugins/http/held_bytes.h"
#include "plugins/http/http_head.h"

TEST(OpenArgs, ClampsToSaneRanges) {
  struct Case {
    int32_t in;
    size_t readAhead;
    int timeout;
  } cases[] = {
      {-1, kDefaultReadAhead, kDefaultTimeoutMs}, {0, kDefaultReadAhead, kDefaultTimeoutMs},
      {1, kMinReadAhead, kMinTimeoutMs},          {4000000, 4000000, kMaxTimeoutMs},
      {1000000, 1000000, kMaxTimeoutMs},          {5000, kMinReadAhead, 5000},
      {INT32_MAX, kMaxReadAhead, kMaxTimeoutMs}};
  for (const Case& c : cases) {
    EXPECT_EQ(ReadAheadBytes(c.in), c.readAhead) << c.in;
    EXPECT_EQ(TimeoutMs(c.in), c.timeout) << c.in;
  }
}

TEST(SourceName, UrlEscapesWhatCannotStandRaw) {
  EXPECT_EQ(UrlFromName(u"http://h/a b/\u00e9t\u00e9.ogm?x=1"),
            "http://h/a%20b/%C3%A9t%C3%A9.ogm?x=1");
  EXPECT_EQ(PathFromName(u"/tmp/\u00e9"), "/tmp/\xC3\xA9");
  EXPECT_EQ(UrlFromName(nullptr), "");
}

TEST(HttpHead, ReadsTheFinalResponse) {
  struct Case {
    std::vector<const char*> lines;
    bool complete;
    int status;
    int64_t length, first, total;
  } cases[] = {
      {{"HTTP/1.1 206 Partial\r\n", "content-range: bytes 10-99/100\r\n", "Content-Length: 90\r\n",
        "\r\n"},
       true,
       206,
       90,
       10,
       100},
      {{"HTTP/1.1 200 OK\r\n", "Content-Length: 3000000000\r\n", "\r\n"},
       true,
       200,
       3000000000,
       -1,
       -1},
      {{"HTTP/1.1 206 P\r\n", "Content-Range: bytes 0-9/*\r\n", "\r\n"}, true, 206, -1, 0, -1},
      {{"HTTP/1.1 206 P\r\n", "Content-Range: bytes 9-0/10\r\n", "Content-Length: 12x\r\n", "\r\n"},
       true,
       206,
       -1,
       -1,
       -1},
      {{"HTTP/1.1 200 OK\r\n", "Content-Length: 99999999999999999999\r\n", "\r\n"},
       true,
       200,
       -1,
       -1,
       -1},
      // A followed redirect and an interim response do not end the head.
      {{"HTTP/1.1 302 Found\r\n", "Location: /b\r\n", "Content-Length: 5\r\n", "\r\n"},
       false,
       302,
       5,
       -1,
       -1},
      {{"HTTP/1.1 302 Found\r\n", "Location: /b\r\n", "\r\n", "HTTP/2 200\r\n",
        "content-length: 7\r\n", "\r\n"},
       true,
       200,
       7,
       -1,
       -1},
      {{"HTTP/1.1 100 Continue\r\n", "\r\n"}, false, 100, -1, -1, -1},
      {{"HTTP/1.1 404 Not Found\r\n", "\r\n"}, true, 404, -1, -1, -1},
  };
  for (const Case& c : cases) {
    HttpHead head;
    for (const char* line : c.lines) head.Line(line);
    SCOPED_TRACE(c.lines[1]);
    EXPECT_EQ(head.Complete(), c.complete);
    EXPECT_EQ(head.Status(), c.status);
    EXPECT_EQ(head.ContentLength(), c.length);
    EXPECT_EQ(head.RangeFirst(), c.first);
    EXPECT_EQ(head.RangeTotal(), c.total);
    // The rows with a range name 10-99 and 0-9.
    EXPECT_EQ(head.RangeLast(), c.first < 0 ? -1 : c.first == 10 ? 99 : 9);
  }
}

// Appends and drops across the 256 KB blocks: every byte still held reads
// back as appended.
TEST(HeldBytes, KeepsWhatWasAppendedAcrossBlocks) {
  const std::string data = RandomBytes(1 << 20, 3);
  struct Case {
    size_t piece;
    int64_t drop;  // from the front once everything is appended
  } cases[] = {{1, 0}, {4096, 262143}, {100000, 262144}, {1 << 20, 700000}, {65536, 1 << 20}};
  for (const Case& c : cases) {
    HeldBytes held(5000);
    for (size_t at = 0; at < data.size(); at += c.piece)
      held.Append(data.data() + at, std::min(c.piece, data.size() - at));
    held.DropFront(c.drop);
    ASSERT_EQ(held.From(), 5000 + c.drop);
    ASSERT_EQ(held.End(), 5000 + int64_t(data.size()));
    std::string back;
    char buffer[5000];
    for (int64_t at = held.From(); held.Holds(at);) {
      const size_t n = held.Copy(at, buffer, sizeof buffer);
      back.append(buffer, n);
      at += int64_t(n);
    }
    EXPECT_TRUE(back == data.substr(size_t(c.drop))) << c.piece << " " << c.drop;
    held.Append("xy", 2);
    EXPECT_TRUE(held.Holds(held.End() - 1));
  }
}

namespace {

class CountingFile : public RandomAccess {
 public:
  explicit CountingFile(std::string data) : data_(std::move(data)) {}
  int64_t ReadAt(int64_t offset, void* buffer, size_t size) override {
    ++reads;
    if (fail) return -1;
    if (offset >= static_cast<int64_t>(data_.size())) return 0;
    size = std::min(size, data_.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, data_.data() + offset, size);
    return static_cast<int64_t>(size);
  }
  int reads = 0;
  bool fail = false;

 private:
  std::string data_;
};

}  // namespace

TEST(ReadAheadCache, ReadsInsideTheWindowCostNoFileRead) {
  const std::string data = RandomBytes(1 << 20, 7);
  CountingFile file(data);
  const size_t window = 256 << 10;
  ReadAheadCache cache(file, static_cast<int64_t>(data.size()), window);
  std::string got(100000, '\0');
  // offset, size, file reads expected so far, bytes expected
  struct Step {
    int64_t offset;
    size_t size;
    int reads;
    size_t bytes;
  } steps[] = {{0, 4096, 1, 4096},          {4096, 4096, 1, 4096},
               {200000, 50000, 1, 50000},   {100, 10, 1, 10},  // back inside
               {250000, 20000, 2, 20000},  // crosses the window's end: one refill
               {263000, 1, 2, 1},           {262143, 1, 3, 1},        // just before it: refill
               {900000, 100000, 4, 100000}, {1048000, 4096, 4, 576},  // clipped at the end
               {1 << 20, 4096, 4, 0},       {5000000, 10, 4, 0}};
  for (const Step& s : steps) {
    const int64_t n = cache.Read(s.offset, got.data(), s.size);
    ASSERT_EQ(n, static_cast<int64_t>(s.bytes)) << s.offset;
    if (s.bytes > 0) {
      EXPECT_EQ(got.substr(0, s.bytes), data.substr(s.offset, s.bytes)) << s.offset;
    }
    EXPECT_EQ(file.reads, s.reads) << s.offset;
  }
  // Larger than the window: straight from the file, window untouched.
  std::string big(window + 1, '\0');
  EXPECT_EQ(cache.Read(1, big.data(), big.size()), static_cast<int64_t>(big.size()));
  EXPECT_EQ(big, data.substr(1, big.size()));
  EXPECT_EQ(file.reads, 5);
  EXPECT_EQ(cache.Read(1048000, got.data(), 10), 10);
  EXPECT_EQ(file.reads, 5);
}

TEST(ReadAheadCache, FileErrorsReachTheCaller) {
  CountingFile file(RandomBytes(100000, 3));
  ReadAheadCache cache(file, 100000, 65536);
  char byte;
  file.fail = true;
  EXPECT_EQ(cache.Read(10, &byte, 1), -1);
  file.fail = false;
  EXPECT_EQ(cache.Read(10, &byte, 1), 1);
  // A file shorter than the length it had at open ends the data early.
  ReadAheadCache shrunk(file, 200000, 65536);
  EXPECT_EQ(shrunk.Read(150000, &byte, 1), -1);
}
