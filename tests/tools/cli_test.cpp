// The command line itself: usage errors exit 2 with a message on stderr,
// a source or library that does not open exits 1, and the library is found
// by option, environment or beside the executable.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tool_harness.h"

namespace {

using namespace tooltest;

TEST(Cli, UsageErrorsExitTwo) {
  const std::string any = "/nonexistent/any.ogm";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"transcode", any},
      {"info"},
      {"info", any, "--bogus"},
      {"info", any, "--timeout", "soon"},
      {"seek", any},
      {"seek", any, "--frame", "3", "--percent", "4"},
      {"seek", any, "--percent", "101"},
      {"seek", any, "--frame", "-1"},
      {"seek", any, "--chapter", "0"},
      {"seek", any, "--frame", "3", "--frames", "x"},
      {"play", any, "--seek-every", "0"},
      {"demux", any},
      {"framemd5", any, "extra.ogm"},
  };
  for (const auto& args : cases) {
    const CommandResult r = Tool(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 2) << shown;
    EXPECT_FALSE(r.err.empty()) << shown;
    EXPECT_TRUE(r.out.empty()) << shown;
  }
  const CommandResult help = Tool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* word : {"info", "play", "demux", "framemd5", "seek", "--library", "exit status"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST(Cli, SourcesThatDoNotOpenExitOne) {
  const CommandResult missing = Tool({"info", "/nonexistent/file.ogm"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("cannot open /nonexistent/file.ogm"), std::string::npos)
      << missing.err;
  // A file that is not Ogg Media: the test's own binary.
  for (const char* command : {"info", "play", "framemd5"}) {
    const CommandResult r = Tool({command, OGMDECAPS_CLI_PATH});
    EXPECT_EQ(r.exitCode, 1) << command;
    EXPECT_TRUE(r.out.empty()) << command;
  }
}

TEST(Cli, LibraryFromOptionEnvironmentOrBesideTheProgram) {
  REQUIRE_PEER_TOOLS();
  const std::string& ogm = Samples::Get().VideoOgm();
  ASSERT_FALSE(ogm.empty());
  // Beside the program (../lib), with nothing set.
  unsetenv("OGMDECAPS_LIBRARY");
  EXPECT_EQ(Tool({"info", ogm}).exitCode, 0);
  // The option wins over the rest and may come before the command.
  const CommandResult bad = Tool({"--library", "/nonexistent/libogmdecaps.so", "info", ogm});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("/nonexistent/libogmdecaps.so"), std::string::npos) << bad.err;
  EXPECT_EQ(Tool({"info", ogm, "--library", OGMDECAPS_LIBRARY_PATH}).exitCode, 0);
  // Through the caching plug-in the source reads the same.
  const CommandResult cached = Tool({"info", ogm, "--cache"});
  EXPECT_EQ(cached.exitCode, 0) << cached.err;
  EXPECT_EQ(cached.out, Tool({"info", ogm}).out);
  // A library that is no reader: loads, but lacks the entries.
  const CommandResult notReader = Tool({"info", ogm, "--library", "libm.so.6"});
  EXPECT_EQ(notReader.exitCode, 1);
  EXPECT_NE(notReader.err.find("does not export AVIDecaps_Open"), std::string::npos)
      << notReader.err;
  // The environment, when no option is given.
  setenv("OGMDECAPS_LIBRARY", "/nonexistent/env/libogmdecaps.so", 1);
  const CommandResult env = Tool({"info", ogm});
  EXPECT_EQ(env.exitCode, 1);
  EXPECT_NE(env.err.find("/nonexistent/env/libogmdecaps.so"), std::string::npos) << env.err;
  EXPECT_EQ(Tool({"info", ogm, "--library", OGMDECAPS_LIBRARY_PATH}).exitCode, 0);
  setenv("OGMDECAPS_LIBRARY", OGMDECAPS_LIBRARY_PATH, 1);
  EXPECT_EQ(Tool({"info", ogm}).exitCode, 0);
  unsetenv("OGMDECAPS_LIBRARY");
}

}  // namespace
