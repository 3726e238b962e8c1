#include "output_files.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
// After <windows.h>:
#include <wchar.h>

#include "platform/charset.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

// Fixed storage: the signal handler may read it at any moment.
constexpr int kMaxFiles = 2;
constexpr size_t kMaxPath = 4096;
char gTemp[kMaxFiles][kMaxPath];
char gFinal[kMaxFiles][kMaxPath];
#ifdef _WIN32
// The names are UTF-8; Windows takes them as UTF-16 (its narrow calls read
// the ANSI code page, which cannot spell most names).
wchar_t gTempWide[kMaxFiles][kMaxPath];
wchar_t gFinalWide[kMaxFiles][kMaxPath];

std::wstring Wide(const std::string& path) {
  const std::u16string units = Utf8ToUtf16(path);
  return std::wstring(units.begin(), units.end());
}
#endif
volatile sig_atomic_t gCount = 0;

void RemoveTemp(int i) {
#ifdef _WIN32
  _wunlink(gTempWide[i]);
#else
  unlink(gTemp[i]);  // async-signal-safe
#endif
}

void RemoveAll() {
  for (int i = 0; i < gCount; ++i)
    if (gTemp[i][0] != 0) RemoveTemp(i);
}

extern "C" void OnSignal(int signal) {
  RemoveAll();
  _exit(128 + signal);
}

#ifdef _WIN32
const int kSignals[] = {SIGINT, SIGTERM};
#else
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];
bool gCaught[kSignalCount];  // which of them this run handles (an ignored one stays so)

#ifdef _WIN32
// Windows has no inode numbers in stat: a file is its volume and file index.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE h =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return ok;
}
#endif

// Moves the finished file i into place, over an older one of that name.
int Rename(int i) {
#ifdef _WIN32
  if (MoveFileExW(gTempWide[i], gFinalWide[i], MOVEFILE_REPLACE_EXISTING)) return 0;
  errno = EACCES;
  return -1;
#else
  return std::rename(gTemp[i], gFinal[i]);
#endif
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
#ifdef _WIN32
  BY_HANDLE_FILE_INFORMATION ia, ib;
  return FileIdentity(a, &ia) && FileIdentity(b, &ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
#else
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
#endif
}

OutputFiles::OutputFiles() {
  gCount = 0;
#ifdef _WIN32
  for (int i = 0; i < kSignalCount; ++i) {
    const auto old = signal(kSignals[i], OnSignal);
    gCaught[i] = old != SIG_IGN;
    if (!gCaught[i]) signal(kSignals[i], SIG_IGN);
  }
#else
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction old = {};
    sigaction(kSignals[i], nullptr, &old);
    gCaught[i] = old.sa_handler != SIG_IGN;
    if (gCaught[i]) sigaction(kSignals[i], &action, nullptr);
  }
#endif
}

OutputFiles::~OutputFiles() {
  Discard();
  for (int i = 0; i < kSignalCount; ++i)
    if (gCaught[i]) signal(kSignals[i], SIG_DFL);
}

std::string OutputFiles::Add(const std::string& finalPath) {
  const std::string temp = finalPath + ".part" + std::to_string(getpid());
  if (gCount >= kMaxFiles || temp.size() >= kMaxPath) return std::string();
  const int i = gCount;
#ifdef _WIN32
  // No longer than the UTF-8 name: a UTF-16 name has at most as many units.
  const std::wstring tempWide = Wide(temp), finalWide = Wide(finalPath);
  wmemcpy(gFinalWide[i], finalWide.c_str(), finalWide.size() + 1);
  wmemcpy(gTempWide[i], tempWide.c_str(), tempWide.size() + 1);
#endif
  std::memcpy(gFinal[i], finalPath.c_str(), finalPath.size() + 1);
  std::memcpy(gTemp[i], temp.c_str(), temp.size() + 1);
  gCount = i + 1;
  return temp;
}

bool OutputFiles::Keep(std::string* error) {
  bool ok = true;
  for (int i = 0; i < gCount; ++i) {
    if (gTemp[i][0] == 0) continue;
    if (Rename(i) != 0) {
      *error = std::string(gFinal[i]) + ": " + std::strerror(errno);
      RemoveTemp(i);
      ok = false;
    }
    gTemp[i][0] = 0;
  }
  return ok;
}

std::FILE* OpenOutput(const std::string& path) {
#ifdef _WIN32
  return _wfopen(Wide(path).c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

void OutputFiles::Discard() {
  RemoveAll();
  for (int i = 0; i < gCount; ++i) gTemp[i][0] = 0;
}

}  // namespace cli
