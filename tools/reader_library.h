// Loads the reader library the way a player does: dlopen, the exported
// entries by name, and the function table from InitializeReader.
#ifndef OGMDECAPS_TOOLS_READER_LIBRARY_H
#define OGMDECAPS_TOOLS_READER_LIBRARY_H

#include <ogmdecaps/ogmdecaps.h>

#include <string>
#include <vector>

namespace cli {

struct ReaderApi {
  AVIDecaps_OpenFn open = nullptr;
  AVIDecaps_NextVideoFrameFn nextVideoFrame = nullptr;
  AVIDecaps_ReadAudioFn readAudio = nullptr;
  double (*frameRate)(void) = nullptr;
  AVIDecaps_SeekFn seek = nullptr;
  AVIDecaps_VoidFn reSeekAudio = nullptr;
  AVIDecaps_ProgressFn getProgress = nullptr;
  AVIDecaps_VoidFn close = nullptr;
  // From InitializeReader: seekChapter (slot 8) and closeIfStalled (slot 10)
  // are reached only through it.
  ReaderFunctions table{};
};

// Where the library is looked for, first match wins: the --library option,
// $OGMDECAPS_LIBRARY, then beside the executable ($ORIGIN/../lib and the
// install's library folder), then the dynamic loader's own search.
std::vector<std::string> LibraryCandidates(const std::string& option);

// Folder of the running executable ("" when unknown).
std::string ExecutableDir();

class ReaderLibrary {
 public:
  // The library stays loaded for the life of the process: its plug-ins and
  // lock live in it, and a host never unloads a reader it is using.
  bool Load(const std::string& option, std::string* error);
  const ReaderApi& api() const { return api_; }
  const std::string& path() const { return path_; }

 private:
  ReaderApi api_;
  std::string path_;
};

// One open source. Closes it on destruction.
class OpenSource {
 public:
  explicit OpenSource(const ReaderApi& api) : api_(api) {}
  ~OpenSource();
  OpenSource(const OpenSource&) = delete;
  OpenSource& operator=(const OpenSource&) = delete;

  // name: a path or URL in UTF-8. openArg is handed to the plug-in when the
  // reader reopens the source (network time-out in ms; 0 = default).
  bool Open(const std::string& name, bool useCache, int openArg);
  void Close();
  // The reader's live record (currentFrame changes as frames are taken).
  const StreamInfo& info() const { return *info_; }
  const ReaderApi& api() const { return api_; }

 private:
  const ReaderApi& api_;
  const StreamInfo* info_ = nullptr;
  bool open_ = false;
};

}  // namespace cli

#endif
