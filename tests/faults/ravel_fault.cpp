// The fault-injecting plug-in (see ravel_fault.h). One source at a time,
// like the shipped plug-ins; the whole file is read into memory at open.
#include "ravel_fault.h"

#include <ogmdecaps/ogmdecaps.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct State {
  std::mutex mutex;
  std::condition_variable closed;
  RavelFaultPlan plan = {kFaultNone, 0, 0, nullptr};
  std::string otherPath;
  RavelFaultCounters counters = {};
  std::vector<uint8_t> data;
  int64_t position = 0;
  int64_t readSinceOpen = 0;
  bool failedOnce = false;
};

State& S() {
  static State state;
  return state;
}

std::string ToUtf8(const char16_t* name) {
  std::string out;
  for (; name != nullptr && *name != 0; ++name) {
    const char32_t c = *name;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::vector<uint8_t> Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void RavelFaultConfigure(const RavelFaultPlan* plan) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.plan = plan != nullptr ? *plan : RavelFaultPlan{kFaultNone, 0, 0, nullptr};
  s.otherPath = s.plan.otherPath != nullptr ? s.plan.otherPath : "";
  s.plan.otherPath = nullptr;
  s.counters = RavelFaultCounters{};
  s.failedOnce = false;
}

__attribute__((visibility("default"))) void RavelFaultStats(RavelFaultCounters* out) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  *out = s.counters;
}

__attribute__((visibility("default"))) int32_t RavelOpen(const char16_t* name, int32_t, int32_t,
                                                         int32_t, int32_t) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  const int64_t number = ++s.counters.opens;
  s.data.clear();
  s.counters.open = 0;
  if (s.plan.kind == kFaultReopenRefused && number >= 2) return 0;
  const bool other = s.plan.kind == kFaultChangedOnReopen && number >= 2;
  s.data = Load(other ? s.otherPath : ToUtf8(name));
  if (s.data.empty() || s.data.size() > INT32_MAX) return 0;
  s.position = 0;
  s.readSinceOpen = 0;
  s.counters.open = 1;
  return static_cast<int32_t>(s.data.size());
}

__attribute__((visibility("default"))) int32_t RavelRead(void* buffer, int32_t count) {
  State& s = S();
  std::unique_lock<std::mutex> lock(s.mutex);
  ++s.counters.reads;
  const RavelFaultPlan& p = s.plan;
  const bool fromThisOpen = s.counters.opens >= p.param;
  if (p.kind == kFaultBlockAfter && fromThisOpen && s.position >= p.at && s.counters.open) {
    ++s.counters.blockedReads;
    const int64_t closes = s.counters.closes;
    // A hard stop keeps a broken reader from hanging the test for ever.
    s.closed.wait_for(lock, std::chrono::seconds(120), [&] { return s.counters.closes != closes; });
  }
  if (!s.counters.open || count <= 0) return 0;
  if (p.kind == kFaultFailAfter && fromThisOpen && s.position >= p.at) return 0;
  if (p.kind == kFaultFailOnce && s.counters.opens == p.param && !s.failedOnce &&
      s.readSinceOpen >= p.at) {
    s.failedOnce = true;
    return 0;
  }
  int64_t end = static_cast<int64_t>(s.data.size());
  if (p.kind == kFaultEndsEarly && p.at < end) end = p.at;
  int64_t n = count;
  if (p.kind == kFaultShortReads && p.param > 0) n = 1 + s.counters.reads % p.param;
  if (n > count) n = count;
  if (s.position + n > end) n = end > s.position ? end - s.position : 0;
  if (n > 0) std::memcpy(buffer, s.data.data() + s.position, static_cast<size_t>(n));
  s.position += n;
  s.readSinceOpen += n;
  if (p.kind == kFaultOverclaim && s.position - n >= p.at)
    return p.param < 0 ? p.param : count + p.param;
  return static_cast<int32_t>(n);
}

__attribute__((visibility("default"))) int32_t RavelSeek(int32_t offset, int32_t origin) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.counters.seeks;
  if (!s.counters.open) return 0;
  const int64_t size = static_cast<int64_t>(s.data.size());
  int64_t target = origin == 0 ? offset : origin == 1 ? s.position + offset : size + offset;
  if (origin < 0 || origin > 2 || target < 0 || target > size) return 0;
  if (s.plan.kind == kFaultSeekRefused) return 0;
  if (s.plan.kind == kFaultSeekElsewhere) target /= 2;
  s.position = target;
  return 1;
}

__attribute__((visibility("default"))) int32_t RavelClose(void) {
  State& s = S();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.counters.closes;
    s.counters.open = 0;
    s.data.clear();
    s.data.shrink_to_fit();
  }
  s.closed.notify_all();
  return 1;
}

}  // extern "C"
