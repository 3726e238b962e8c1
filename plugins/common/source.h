// One open source behind the four plug-in entries. The host never overlaps
// calls on a source, except that Abort may come from another thread while a
// Read blocks; a source therefore keeps everything but its aborted flag to
// the reading thread, and Wake only does what is safe from any thread.
#ifndef OGMDECAPS_PLUGINS_COMMON_SOURCE_H
#define OGMDECAPS_PLUGINS_COMMON_SOURCE_H

#include <atomic>
#include <cstdint>

class Source {
 public:
  virtual ~Source() = default;

  // Length in bytes, fixed when the source is opened.
  virtual int64_t Length() const = 0;
  virtual int64_t Position() const = 0;

  // Reads up to count bytes (count > 0) at the position and advances it.
  // Returns 0..count; 0 at the end, on failure or once aborted.
  virtual int32_t Read(void* buffer, int32_t count) = 0;

  // Moves to offset (0 <= offset <= Length()). False when the source cannot.
  virtual bool SeekTo(int64_t offset) = 0;

  // Any thread: makes a blocked or later Read return 0 promptly.
  void Abort() {
    aborted_.store(true);
    Wake();
  }
  bool Aborted() const { return aborted_.load(); }

 protected:
  // Any thread: interrupts a wait inside Read. Nothing to do for sources
  // whose reads never wait on anything but the local disk.
  virtual void Wake() {}

 private:
  std::atomic<bool> aborted_{false};
};

#endif
