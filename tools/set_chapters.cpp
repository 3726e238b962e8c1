// ogm_set_chapters: writes a copy of an OGM file whose video comment packet
// carries the given chapters (CHAPTERxx / CHAPTERxxNAME comments); used by
// scripts/demo to give an ogmmerge sample chapters.
//
//   ogm_set_chapters IN.ogm OUT.ogm HH:MM:SS.mmm=NAME ...
#include <cstdio>
#include <string>
#include <vector>

#include "ogg_edit.h"
#include "ogm_writer.h"

int main(int argc, char** argv) {
  using namespace ogmtest;
  if (argc < 4) {
    std::fprintf(stderr, "usage: ogm_set_chapters IN.ogm OUT.ogm HH:MM:SS.mmm=NAME ...\n");
    return 2;
  }
  std::vector<Chapter> chapters;
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    int h = 0, m = 0, s = 0, ms = 0;
    const size_t eq = arg.find('=');
    if (eq == std::string::npos || std::sscanf(arg.c_str(), "%d:%d:%d.%d", &h, &m, &s, &ms) != 4) {
      std::fprintf(stderr, "ogm_set_chapters: '%s' is not HH:MM:SS.mmm=NAME\n", argv[i]);
      return 2;
    }
    chapters.push_back({((h * 60LL + m) * 60 + s) * 1000 + ms, arg.substr(eq + 1)});
  }
  const Bytes in = ReadBytes(argv[1]);
  if (in.empty()) {
    std::fprintf(stderr, "ogm_set_chapters: cannot read %s\n", argv[1]);
    return 1;
  }
  const Bytes out = SetChapters(in, chapters, 0);
  if (out.empty() || !WriteBytes(argv[2], out)) {
    std::fprintf(stderr, "ogm_set_chapters: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
