// RavelHTTP against nginx (http and https) and against a scripted server
// that drops, stalls, ignores ranges or announces what cannot be served.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <random>

#include "http_servers.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// What a server logged from entry `from` on: requests, body bytes sent, and
// whether every request asked for a bounded range on one connection.
struct Traffic {
  int requests = 0;
  int64_t sent = 0;
  bool bounded = true;
  bool oneConnection = true;
};

Traffic TrafficSince(const Nginx& server, size_t from) {
  const std::vector<ogmtest::ServedRequest> log = server.Requests();
  Traffic t;
  for (size_t i = from; i < log.size(); ++i) {
    ++t.requests;
    t.sent += log[i].bytes;
    t.bounded &= log[i].range.size() > 6 && std::isdigit(uint8_t(log[i].range.back()));
    t.oneConnection &= log[i].connection == log[from].connection;
  }
  return t;
}

class HttpPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data = new std::string(RandomBytes(6 << 20, 21));
    http = new Nginx("", false);
    https = new Nginx("", true);
    http->Put("data.bin", *data);
    https->Put("data.bin", *data);
    setenv("CURL_CA_BUNDLE", https->ca_file().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete http;
    delete https;
    delete data;
  }
  void TearDown() override { plugin.close(); }

  static inline std::string* data;
  static inline Nginx* http;
  static inline Nginx* https;
  Plugin plugin{"RavelHTTP"};
};

// A whole read: bounded ranges that grow, on one connection, sending the
// file once.
TEST_F(HttpPlugin, NginxFullReadEqualsTheFile) {
  for (Nginx* server : {http, https}) {
    const size_t from = server->Requests().size();
    ASSERT_EQ(plugin.Open(server->Url("data.bin"), 4000000, 1000000), int32_t(data->size()));
    EXPECT_TRUE(plugin.ReadAll() == *data) << server->Url("data.bin");
    plugin.close();
    const Traffic t = TrafficSince(*server, from);
    EXPECT_TRUE(t.bounded && t.oneConnection);
    EXPECT_EQ(t.sent, int64_t(data->size()));
    EXPECT_LE(t.requests, 10);
  }
}

// The reader's pattern: the open, the duration scan at the end, the start
// again, then seeks each followed by about the same run of reads, some of
// them back to where it read before. The server sends little more than is
// read, in at most two requests a seek, on one connection.
TEST_F(HttpPlugin, NginxSendsWhatSeeksRead) {
  const int32_t size = int32_t(data->size());
  struct Step {
    int32_t offset, count;
    int maxRequests;
  } steps[] = {{size - 100000, 100000, 1}, {0, 60000, 0},        {3000000, 290000, 2},
               {1000000, 300000, 1},       {4500000, 310000, 2}, {2000000, 280000, 1},
               {5200000, 300000, 1},       {1100000, 100000, 0}, {1300000, 300000, 1},
               {300000, 305000, 1},        {3900000, 300000, 1}};
  for (Nginx* server : {http, https}) {
    const size_t from = server->Requests().size();
    ASSERT_EQ(plugin.Open(server->Url("data.bin")), size);
    int64_t read = 0;
    for (const Step& step : steps) {
      const size_t before = server->Requests().size();
      ASSERT_EQ(plugin.ReadAt(step.offset, step.count), data->substr(step.offset, step.count));
      read += step.count;
      EXPECT_LE(int(server->Requests().size() - before), step.maxRequests) << step.offset;
    }
    plugin.close();
    const Traffic t = TrafficSince(*server, from);
    EXPECT_TRUE(t.bounded && t.oneConnection);
    EXPECT_LE(double(t.sent), 1.2 * double(read)) << server->Url("data.bin");
  }
}

// Playback that steps back to read something again and returns: the steps
// back into held bytes ask for nothing, and after each return playback goes
// on with its long ranges (1 MB and more, or to the end).
TEST_F(HttpPlugin, NginxReturnsAfterReadingAgainKeepPlaybackRanges) {
  ASSERT_EQ(plugin.Open(http->Url("data.bin")), int32_t(data->size()));
  ASSERT_TRUE(plugin.ReadAt(0, 2500000) == data->substr(0, 2500000));
  const size_t before = http->Requests().size();
  for (int32_t at = 2500000; at < 6000000; at += 250000) {
    ASSERT_EQ(plugin.ReadAt(at - 300000, 50000), data->substr(at - 300000, 50000));
    ASSERT_TRUE(plugin.ReadAt(at, 250000) == data->substr(at, 250000)) << at;
  }
  plugin.close();
  const std::vector<ogmtest::ServedRequest> log = http->Requests();
  for (size_t i = before; i < log.size(); ++i) {
    const int64_t first = std::atoll(log[i].range.c_str() + 6);
    const int64_t last = std::atoll(log[i].range.c_str() + log[i].range.find('-') + 1);
    EXPECT_TRUE(last - first + 1 >= 1000000 || last + 1 == int64_t(data->size())) << log[i].range;
  }
}

TEST_F(HttpPlugin, NginxSeeksReadTheRightBytes) {
  for (Nginx* server : {http, https}) {
    ASSERT_EQ(plugin.Open(server->Url("data.bin")), int32_t(data->size()));
    std::mt19937 random(9);
    for (int i = 0; i < 60; ++i) {
      const int32_t offset = int32_t(random() % data->size());
      const int32_t count = int32_t(random() % 30000 + 1);
      ASSERT_TRUE(plugin.ReadAt(offset, count) == data->substr(offset, count)) << offset;
    }
  }
}

// A self-signed server is refused unless the host names its certificate
// (CURL_CA_BUNDLE, as the fixture does).
TEST_F(HttpPlugin, HttpsTrustsOnlyWhatTheHostNames) {
  const std::string bundle = getenv("CURL_CA_BUNDLE");
  unsetenv("CURL_CA_BUNDLE");
  EXPECT_EQ(plugin.Open(https->Url("data.bin"), -1, 5000), 0);
  setenv("CURL_CA_BUNDLE", bundle.c_str(), 1);
  EXPECT_EQ(plugin.Open(https->Url("data.bin"), -1, 5000), int32_t(data->size()));
}

TEST_F(HttpPlugin, FollowsRedirects) {
  for (Nginx* server : {http, https}) {
    ASSERT_EQ(plugin.Open(server->Url("moved.bin")), int32_t(data->size()));
    EXPECT_EQ(plugin.ReadAt(12345, 100), data->substr(12345, 100));
  }
}

TEST_F(HttpPlugin, RefusesMissingAndForeignResources) {
  for (const std::string& url : {http->Url("missing.bin"), std::string("ftp://127.0.0.1/x"),
                                 std::string("http://127.0.0.1:1/")}) {
    EXPECT_EQ(plugin.Open(url, -1, 2000), 0) << url;
  }
}

TEST(ScriptedHttp, ResumesAfterDroppedConnections) {
  const std::string body = RandomBytes(1 << 20, 4);
  // Without ranges a resume starts over and discards what was read, so it
  // only gets further once a connection survives.
  struct Case {
    bool ranges;
    size_t dropAfter;
    int drops, requests;
  } cases[] = {{true, 150000, INT32_MAX, 7}, {false, 300000, 2, 3}};
  for (const Case& c : cases) {
    Script script;
    script.body = body;
    script.ranges = c.ranges;
    script.dropAfter = c.dropAfter;
    script.drops = c.drops;
    ScriptedServer server(script);
    Plugin plugin("RavelHTTP");
    ASSERT_EQ(plugin.Open(server.Url(), 65536, 5000), int32_t(body.size()));
    EXPECT_TRUE(plugin.ReadAll() == body) << "ranges " << c.ranges;
    EXPECT_EQ(server.requests(), c.requests);
    plugin.close();
  }
}

TEST(ScriptedHttp, StalledServerTimesOut) {
  Script script;
  script.body = RandomBytes(1 << 20, 5);
  script.stallAfter = 100000;
  ScriptedServer server(script);
  Plugin plugin("RavelHTTP");
  ASSERT_EQ(plugin.Open(server.Url(), -1, 300), 1 << 20);
  const auto start = Clock::now();
  EXPECT_TRUE(plugin.ReadAll() == script.body.substr(0, 100000));
  EXPECT_LT(SecondsSince(start), 10.0);
  plugin.close();
}

TEST(ScriptedHttp, VanishedServerEndsReads) {
  Script script;
  script.body = RandomBytes(8 << 20, 6);
  auto server = std::make_unique<ScriptedServer>(script);
  Plugin plugin("RavelHTTP");
  ASSERT_EQ(plugin.Open(server->Url(), 65536, 2000), 8 << 20);
  server.reset();
  const auto start = Clock::now();
  const std::string got = plugin.ReadAll();
  EXPECT_LT(got.size(), script.body.size());
  EXPECT_TRUE(got == script.body.substr(0, got.size()));
  EXPECT_LT(SecondsSince(start), 10.0);
  plugin.close();
}

// Forward seeks read on and drop; backward ones start over from the start
// and drop: every seek lands where it was asked to.
TEST(ScriptedHttp, WithoutRangesSeeksReachTheOffset) {
  Script script;
  script.body = RandomBytes(1 << 20, 7);
  script.ranges = false;
  ScriptedServer server(script);
  Plugin plugin("RavelHTTP");
  ASSERT_EQ(plugin.Open(server.Url(), 65536, 5000), 1 << 20);
  EXPECT_EQ(plugin.ReadAt(0, 1000), script.body.substr(0, 1000));
  for (int32_t offset : {300000, 700000, 500, 1000000, (1 << 20) - 1, 0})
    EXPECT_EQ(plugin.ReadAt(offset, 1000), script.body.substr(offset, 1000)) << offset;
  EXPECT_EQ(plugin.seek(1000, 0), 1);
  EXPECT_TRUE(plugin.ReadAll() == script.body.substr(1000));
  // Forward seeks go on with the running transfer: the open and the two
  // backward seeks made one request each.
  EXPECT_EQ(server.requests(), 3);
  plugin.close();
}

TEST(ScriptedHttp, RefusesWhatCannotBeServed) {
  struct Case {
    const char* what;
    int64_t claim;
    bool ranges;
    int status;
    bool length;
    bool stall;
  } cases[] = {{"3 GB ranged", 3000000000, true, 0, true, false},
               {"3 GB whole", 3000000000, false, 0, true, false},
               {"404", -1, true, 404, true, false},
               {"no length", -1, false, 0, false, false},
               {"empty", 0, false, 0, true, false},
               {"no answer", -1, true, 0, true, true}};
  for (const Case& c : cases) {
    Script script;
    script.body = RandomBytes(100000, 8);
    script.claimLength = c.claim;
    script.ranges = c.ranges;
    script.status = c.status;
    script.announceLength = c.length;
    script.stallBeforeHead = c.stall;
    ScriptedServer server(script);
    Plugin plugin("RavelHTTP");
    const auto start = Clock::now();
    EXPECT_EQ(plugin.Open(server.Url(), -1, 300), 0) << c.what;
    EXPECT_LT(SecondsSince(start), 5.0) << c.what;
  }
}

}  // namespace
