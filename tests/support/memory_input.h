// An input source over bytes in memory, with the plug-in entry signatures,
// for unit tests of the reader's input side. Like a plug-in it serves one
// source at a time from static state. It counts what the reader asks of it
// and can be told to deliver short reads, stop early, refuse to open, or
// hold reads back until closed (for the stall handling).
//
// A negative seek offset or an origin other than 0 is a reader bug: the
// process aborts with a message on stderr.
#ifndef OGMDECAPS_TESTS_SUPPORT_MEMORY_INPUT_H
#define OGMDECAPS_TESTS_SUPPORT_MEMORY_INPUT_H

#include <cstdint>
#include <vector>

#include "input/input_source.h"

namespace ogmtest {

struct MemoryInputConfig {
  int32_t maxBytesPerRead = 0;  // > 0: no read returns more (1 = byte at a time)
  int64_t endAtOffset =
      -1;  // >= 0: reads return 0 from this offset on (open still reports the full length)
  int64_t endAfterBytesRead =
      -1;                    // >= 0: reads return 0 once this many bytes were delivered in total
  bool openSucceeds = true;  // false: open returns 0
  bool seekable = true;      // false: every seek is refused (a server without ranges)
  int32_t readBlockMs =
      0;  // > 0: each read first waits this long, and returns 0 at once when closed meanwhile
  bool closeInterrupts = true;  // false: a close does not end the wait (a new config does)
};

struct MemoryInputCounters {
  int64_t bytesRead = 0;
  int64_t reads = 0;
  int64_t seeks = 0;
  int64_t opens = 0;
  int64_t closes = 0;
  int64_t lastSeekOffset = -1;
  int64_t position = 0;  // current read position
  bool open = false;
  int32_t lastOpenArgs[4] = {0, 0, 0, 0};
};

// Installs data as the source's bytes; resets the counters and the config.
void MemoryInputReset(std::vector<uint8_t> data, const MemoryInputConfig& config = {});
// Changes the config, keeping data, position and counters; ends the wait of
// a blocked read.
void MemoryInputConfigure(const MemoryInputConfig& config);
MemoryInputCounters MemoryInputStats();

// The four entries (plug-in signatures).
int32_t MemoryInputOpen(const char16_t* name, int32_t a, int32_t b, int32_t c, int32_t d);
int32_t MemoryInputRead(void* buffer, int32_t count);
int32_t MemoryInputSeek(int32_t offset, int32_t origin);
int32_t MemoryInputClose();

// A binding record over the entries above (library stays nullptr).
InputSource MemoryInput();

}  // namespace ogmtest

#endif
