// The host's failure cases, in one table: it never overwrites its source or
// an output it did not finish, leaves nothing behind when it fails or is
// stopped, and reports every failure (a read cut short, a write that did
// not reach its file or stdout) by its exit code.
#include <dirent.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "http_servers.h"
#include "ogm_writer.h"
#include "simple_ogm.h"
#include "tool_harness.h"

namespace {

using ogmtest::Bytes;
using tooltest::CommandResult;

// The names in dir, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

TEST(HostFailures, NeverDestroysAndAlwaysTells) {
  ogmtest::TempDir dir("host-failures");
  ogmtest::SimpleOgmOptions o;
  o.frames = 150;
  o.audio = ogmtest::AudioKind::kRaw;
  const Bytes ogm = ogmtest::MakeSimpleOgm(o).bytes;
  const Bytes old = {'o', 'l', 'd'};
  // Served by a server that sends nothing past a third of the way in (to
  // any request: the plug-in keeps what earlier answers brought).
  Script script;
  script.body.assign(ogm.begin(), ogm.end());
  script.stallAt = ogm.size() / 3;
  ScriptedServer stalling(script);
  const std::string tool = Quote(OGMDECAPS_CLI_PATH);
  const std::string url = Quote(stalling.Url());

  struct Case {
    const char* name;
    std::string shell;  // run in dir
    int exitCode;
    std::vector<std::string> files;  // what dir holds afterwards
    const char* said;                // on stderr (or stdout for help)
  } cases[] = {
      {"-v names the source", tool + " demux src.avi -v src.avi", 2, {"old.avi"}, "is the source"},
      {"-a names the source",
       tool + " demux src.mp3 -a ./src.mp3",
       2,
       {"old.avi"},
       "is the source"},
      {"a failed -a keeps the earlier -v file",
       tool + " demux src.avi -v old.avi -a missing/a.mp3",
       1,
       {"old.avi"},
       "missing/a.mp3"},
      {"info to a full stdout", tool + " info src.avi >/dev/full", 1, {"old.avi"}, "stdout"},
      {"info --json to a full stdout",
       tool + " info src.avi --json >/dev/full",
       1,
       {"old.avi"},
       "stdout"},
      {"play to a full stdout", tool + " play src.avi >/dev/full", 1, {"old.avi"}, "stdout"},
      {"framemd5 to a full stdout", tool + " framemd5 src.avi >/dev/full", 1, {"old.avi"}, ""},
      {"a file named help is a source",
       "cp src.avi help && " + tool + " info help && rm help",
       0,
       {"old.avi"},
       ""},
      {"--timeout below the range", tool + " info src.avi --timeout 50", 2, {"old.avi"}, "100"},
      {"--timeout above the range",
       tool + " info src.avi --timeout 30001",
       2,
       {"old.avi"},
       "30000"},
      {"framemd5 of a stalled server",
       tool + " framemd5 " + url + " --timeout 1000 >/dev/null",
       1,
       {"old.avi"},
       "failed before its end"},
      {"demux of a stalled server keeps what came",
       tool + " demux " + url + " --timeout 1000 -v out.avi",
       1,
       {"old.avi", "out.avi"},
       "failed before its end"},
      {"demux stopped by a signal leaves nothing",
       tool + " demux " + url + " --timeout 30000 -v old.avi -a out.mp3 & sleep 1; kill $!; " +
           "wait $!; exit $(( $? == 143 ? 1 : 0 ))",
       1,
       {"old.avi"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(ogmtest::WriteBytes(dir.File("src.avi"), ogm));
    ASSERT_TRUE(ogmtest::WriteBytes(dir.File("src.mp3"), ogm));
    ASSERT_TRUE(ogmtest::WriteBytes(dir.File("old.avi"), old));
    const CommandResult r =
        ogmtest::RunCommand({"/bin/sh", "-c", "cd " + Quote(dir.path()) + " && " + c.shell});
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_NE((r.err + r.out).find(c.said), std::string::npos) << r.err;
    EXPECT_TRUE(ogmtest::ReadBytes(dir.File("src.avi")) == ogm);
    EXPECT_TRUE(ogmtest::ReadBytes(dir.File("src.mp3")) == ogm);
    std::vector<std::string> expected = c.files;
    expected.insert(expected.end(), {"src.avi", "src.mp3"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(dir.path()), expected);
    if (ogmtest::ReadBytes(dir.File("old.avi")) != old) {
      ADD_FAILURE() << "old.avi was overwritten";
    }
    // A kept AVI is a whole one: RIFF size = file size - 8, with an index.
    const Bytes out = ogmtest::ReadBytes(dir.File("out.avi"));
    if (!out.empty()) {
      const uint32_t riff = out[4] | out[5] << 8 | out[6] << 16 | uint32_t(out[7]) << 24;
      EXPECT_EQ(riff + 8, out.size());
      EXPECT_NE(std::string(out.begin(), out.end()).find("idx1"), std::string::npos);
    }
    std::remove(dir.File("out.avi").c_str());
  }
}

}  // namespace
