#include "output_files.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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
volatile sig_atomic_t gCount = 0;

void RemoveAll() {
  for (int i = 0; i < gCount; ++i)
    if (gTemp[i][0] != 0) unlink(gTemp[i]);
}

extern "C" void OnSignal(int signal) {
  RemoveAll();  // unlink is async-signal-safe
  _exit(128 + signal);
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
bool gCaught[3];  // which of them this run handles (an ignored one stays so)

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

OutputFiles::OutputFiles() {
  gCount = 0;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    struct sigaction old = {};
    sigaction(kSignals[i], nullptr, &old);
    gCaught[i] = old.sa_handler != SIG_IGN;
    if (gCaught[i]) sigaction(kSignals[i], &action, nullptr);
  }
}

OutputFiles::~OutputFiles() {
  Discard();
  for (int i = 0; i < 3; ++i)
    if (gCaught[i]) signal(kSignals[i], SIG_DFL);
}

std::string OutputFiles::Add(const std::string& finalPath) {
  const std::string temp = finalPath + ".part" + std::to_string(getpid());
  if (gCount >= kMaxFiles || temp.size() >= kMaxPath) return std::string();
  const int i = gCount;
  std::memcpy(gFinal[i], finalPath.c_str(), finalPath.size() + 1);
  std::memcpy(gTemp[i], temp.c_str(), temp.size() + 1);
  gCount = i + 1;
  return temp;
}

bool OutputFiles::Keep(std::string* error) {
  bool ok = true;
  for (int i = 0; i < gCount; ++i) {
    if (gTemp[i][0] == 0) continue;
    if (std::rename(gTemp[i], gFinal[i]) != 0) {
      *error = std::string(gFinal[i]) + ": " + std::strerror(errno);
      unlink(gTemp[i]);
      ok = false;
    }
    gTemp[i][0] = 0;
  }
  return ok;
}

void OutputFiles::Discard() {
  RemoveAll();
  for (int i = 0; i < gCount; ++i) gTemp[i][0] = 0;
}

}  // namespace cli
