#include "memory_input.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ogmtest {

namespace {

struct State {
  std::mutex mutex;
  std::condition_variable closed;
  std::vector<uint8_t> data;
  MemoryInputConfig config;
  MemoryInputCounters counters;
  int64_t configs = 0;  // changes of config, which end a blocked read's wait
};

State& S() {
  static State state;
  return state;
}

[[noreturn]] void ReaderBug(const char* what, int32_t value) {
  std::fprintf(stderr, "memory input: %s (%d): reader bug\n", what, value);
  std::abort();
}

}  // namespace

void MemoryInputReset(std::vector<uint8_t> data, const MemoryInputConfig& config) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.data = std::move(data);
  s.config = config;
  s.counters = MemoryInputCounters{};
}

void MemoryInputConfigure(const MemoryInputConfig& config) {
  State& s = S();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    s.config = config;
    ++s.configs;
  }
  s.closed.notify_all();
}

MemoryInputCounters MemoryInputStats() {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.counters;
}

int32_t MemoryInputOpen(const char16_t* /*name*/, int32_t a, int32_t b, int32_t c, int32_t d) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  MemoryInputCounters& k = s.counters;
  ++k.opens;
  k.lastOpenArgs[0] = a;
  k.lastOpenArgs[1] = b;
  k.lastOpenArgs[2] = c;
  k.lastOpenArgs[3] = d;
  if (!s.config.openSucceeds) return 0;
  const auto length = static_cast<int32_t>(s.data.size());
  if (length <= 0) return 0;
  k.open = true;
  k.position = 0;
  return length;
}

int32_t MemoryInputRead(void* buffer, int32_t count) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mutex);
  MemoryInputCounters& k = s.counters;
  ++k.reads;
  if (s.config.readBlockMs > 0 && k.open) {
    const int64_t closesBefore = k.closes;
    const int64_t configsBefore = s.configs;
    s.closed.wait_for(lock, std::chrono::milliseconds(s.config.readBlockMs), [&] {
      return (s.config.closeInterrupts && k.closes != closesBefore) || s.configs != configsBefore;
    });
  }
  if (!k.open) {
    return 0;
  }
  int64_t end = static_cast<int64_t>(s.data.size());
  if (s.config.endAtOffset >= 0 && s.config.endAtOffset < end) end = s.config.endAtOffset;
  int64_t n = count < 0 ? 0 : count;
  if (s.config.maxBytesPerRead > 0 && n > s.config.maxBytesPerRead) n = s.config.maxBytesPerRead;
  if (k.position + n > end) n = end > k.position ? end - k.position : 0;
  if (s.config.endAfterBytesRead >= 0 && k.bytesRead + n > s.config.endAfterBytesRead)
    n = s.config.endAfterBytesRead > k.bytesRead ? s.config.endAfterBytesRead - k.bytesRead : 0;
  if (n > 0) std::memcpy(buffer, s.data.data() + k.position, static_cast<size_t>(n));
  k.position += n;
  k.bytesRead += n;
  return static_cast<int32_t>(n);
}

int32_t MemoryInputSeek(int32_t offset, int32_t origin) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (offset < 0) ReaderBug("negative seek offset", offset);
  if (origin != 0) ReaderBug("seek origin other than 0", origin);
  MemoryInputCounters& k = s.counters;
  ++k.seeks;
  k.lastSeekOffset = offset;
  if (static_cast<size_t>(offset) > s.data.size() || !s.config.seekable) {
    return 0;
  }
  k.position = offset;
  return 1;
}

int32_t MemoryInputClose() {
  State& s = S();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.counters.closes;
    s.counters.open = false;
  }
  s.closed.notify_all();
  return 1;
}

InputSource MemoryInput() {
  InputSource in;
  in.library = nullptr;
  in.open = &MemoryInputOpen;
  in.read = &MemoryInputRead;
  in.seek = &MemoryInputSeek;
  in.close = &MemoryInputClose;
  return in;
}

}  // namespace ogmtest
