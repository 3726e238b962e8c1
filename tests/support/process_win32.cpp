// RunCommand and TempDir on Windows: CreateProcessW with the output read
// through pipes, and a fresh folder under the temporary folder.
#include <windows.h>

#include <filesystem>
#include <random>
#include <thread>

#include "peer_files.h"
#include "platform/charset.h"

namespace ogmtest {

namespace {

// One argument quoted for CommandLineToArgvW and the C runtime's parser.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
    } else if (c == '"') {
      out.append(slashes + 1, '\\');
      slashes = 0;
    } else {
      slashes = 0;
    }
    out += c;
  }
  out.append(slashes, '\\');
  return out + "\"";
}

std::wstring Wide(const std::string& text) {
  const std::u16string u = Utf8ToUtf16(text);
  return std::wstring(u.begin(), u.end());
}

void Drain(HANDLE pipe, std::string* sink) {
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) sink->append(buf, n);
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  if (argv.empty() || argv[0].empty()) return result;
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + Quote(a);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = nul;
  start.hStdOutput = outWrite;
  start.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  std::wstring command = Wide(line);
  const BOOL started = CreateProcessW(Wide(argv[0]).c_str(), &command[0], nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &start, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (started) {
    std::thread err(Drain, errRead, &result.err);
    Drain(outRead, &result.out);
    err.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(outRead);
  CloseHandle(errRead);
  return result;
}

TempDir::TempDir(const std::string& tag) {
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) return;
  std::random_device seed;
  std::mt19937 pick(seed() ^ GetCurrentProcessId());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path dir = base / (tag + "-" + std::to_string(pick()));
    if (std::filesystem::create_directory(dir, ec) && !ec) {
      path_ = dir.generic_string();
      return;
    }
  }
}

TempDir::~TempDir() {
  if (path_.empty() || std::getenv("OGMTEST_KEEP_TEMP")) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace ogmtest
