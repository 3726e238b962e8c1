// ogm_bench_chapters: puts a chapter every N seconds into an OGM file's video
// comments (serial 0), for the chapter-seek figures.
//
//   ogm_bench_chapters --every SECONDS --length SECONDS IN.ogm OUT.ogm
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ogg_edit.h"
#include "ogm_writer.h"

int main(int argc, char** argv) {
  double every = 60, length = 0;
  const char* in = nullptr;
  const char* out = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--every" && i + 1 < argc)
      every = std::atof(argv[++i]);
    else if (a == "--length" && i + 1 < argc)
      length = std::atof(argv[++i]);
    else if (!in)
      in = argv[i];
    else if (!out)
      out = argv[i];
  }
  if (!in || !out || every <= 0 || length <= 0) {
    std::fprintf(stderr,
                 "usage: ogm_bench_chapters --every SECONDS --length SECONDS IN.ogm OUT.ogm\n");
    return 2;
  }
  const ogmtest::Bytes file = ogmtest::ReadBytes(in);
  if (file.empty()) {
    std::perror(in);
    return 1;
  }
  std::vector<ogmtest::Chapter> chapters;
  for (int n = 0; n * every < length; ++n)
    chapters.push_back(
        {static_cast<int64_t>(n * every * 1000), "Chapter " + std::to_string(n + 1)});
  const ogmtest::Bytes edited = ogmtest::SetChapters(file, chapters, 0);
  if (edited.empty() || !ogmtest::WriteBytes(out, edited)) {
    std::fprintf(stderr, "ogm_bench_chapters: could not write %s\n", out);
    return 1;
  }
  std::printf("%s: %zu chapters\n", out, chapters.size());
  return 0;
}
