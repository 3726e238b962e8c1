// An http:// or https:// resource as a source, read through bounded range
// requests ("Range: bytes=N-M") on one reused connection. The transfers run
// on libcurl's multi interface in the reading thread itself, so there is no
// worker thread to stop: a read waits in curl_multi_poll, which a close on
// another thread interrupts through curl_multi_wakeup.
//
// What is asked for: each request covers what the reader is expected to
// read from where it reads, so an abandoned request wastes little.
// - The open asks for the first kOpenRange bytes; the reader's duration
//   scan near the end asks for the tail to the end, and its return to the
//   start finds the first bytes still held.
// - After a seek, the first request is as long as the longest of the last
//   few reads that followed a seek (the reader reads about the same after
//   each), or kSeekRange before there is one. A read that goes on past it
//   asks for twice what it has read so far, up to kMaxRange, so sequential
//   playback soon runs on long ranges; once it is clearly playback, the
//   next range is asked for as soon as the last one has arrived.
// - Received bytes stay held, within a budget, also behind the position: a
//   seek back into them, or back to where the reader was, costs nothing.
//   A request stops where held bytes begin.
// - A request is only abandoned (which closes its connection) when much of
//   it is still to come; a short rest is received so the connection serves
//   the next request.
//
// Faults handled:
// - A transfer that ends before the data does (dropped connection, a server
//   that sends shorter ranges) is resumed from the position, up to
//   kMaxStartsPerRead transfers for one read, with a short back-off.
// - A read that receives no byte within the time-out returns 0 and drops the
//   transfer (stalled or vanished server); the next read tries again.
// - A server that ignores Range (200 instead of 206) makes the source
//   sequential: one transfer to the end, forward seeks read on and drop,
//   backward ones re-read from the start and drop what comes before.
// - A server whose answer does not fit (an error status, another length, a
//   range starting elsewhere) ends the source: later reads return 0.
#ifndef OGMDECAPS_PLUGINS_HTTP_HTTP_SOURCE_H
#define OGMDECAPS_PLUGINS_HTTP_HTTP_SOURCE_H

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "plugins/common/source.h"
#include "plugins/http/held_bytes.h"
#include "plugins/http/http_head.h"

class HttpSource final : public Source {
 public:
  // Starts the first request and waits (at most timeoutMs) for the
  // response head. readAhead bounds the received bytes held ahead of the
  // reader (and, as much again, behind it). nullptr when the server cannot
  // be reached, answers with an error, or gives no length.
  static std::shared_ptr<HttpSource> Open(const std::string& url, size_t readAhead, int timeoutMs);
  ~HttpSource() override;
  HttpSource(const HttpSource&) = delete;
  HttpSource& operator=(const HttpSource&) = delete;

  int64_t Length() const override { return length_; }
  int64_t Position() const override { return position_; }
  int32_t Read(void* buffer, int32_t count) override;
  bool SeekTo(int64_t offset) override;

 protected:
  void Wake() override;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Head { kPending, kGood, kBad };
  enum class Wait { kReady, kEnded, kTimedOut, kAborted };

  HttpSource(std::string url, size_t readAhead, int timeoutMs);

  bool Setup();
  bool Start(int64_t from);
  int64_t RequestEnd(int64_t from) const;
  void Finish();
  void Drop();
  void Drain();
  bool Running() const { return active_ && !done_; }
  template <class Ready>
  Wait Pump(Ready ready, Clock::time_point deadline);
  bool Pause(Clock::duration span);
  void AcceptHead();
  const HeldBytes* Holding(int64_t offset) const;
  bool Heading(int64_t offset) const;
  int64_t Ahead() const;
  void Trim();
  void EndRun();
  void RequestAhead();

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);

  std::string url_;  // after the first answer, where its redirects led
  const size_t readAhead_;
  const std::chrono::milliseconds timeout_;
  CURLM* multi_ = nullptr;

  int64_t length_ = -1;   // -1 until the first head is accepted
  bool ranged_ = false;   // the server answers Range requests with 206
  bool broken_ = false;   // the server's answers no longer fit the source
  int64_t position_ = 0;  // next byte the reader gets

  // Held bytes; the transfer appends to the last one. Few and disjoint.
  std::vector<HeldBytes> segments_;

  // A sequential run of reads: where it started, whether a seek away from
  // the start began it, and how many bytes its requests asked for.
  struct Run {
    int64_t from = 0;
    bool fromSeek = false;
    int64_t requested = 0;
  };
  Run run_;
  // The run the last seek left, where it left it (-1: none) and the past
  // runs as they were then: a seek back there (the reader returning after
  // reading something again) resumes that run as if it had not been left.
  Run left_;
  int64_t leftAt_ = -1;
  // Lengths of the last runs that followed a seek (0: none yet).
  int64_t pastRuns_[3] = {0, 0, 0};
  int64_t leftPastRuns_[3] = {0, 0, 0};
  int64_t Predicted() const;

  // The transfer: one easy handle, added to the multi handle while active_,
  // so libcurl keeps its connection for the next request.
  CURL* easy_ = nullptr;
  bool active_ = false;
  HttpHead head_;
  Head headState_ = Head::kPending;
  int64_t transferFrom_ = 0;  // the offset its request asked for
  int64_t transferEnd_ = 0;   // the offset after the last byte it brings
  int64_t skip_ = 0;          // bytes to discard before transferFrom_
  int64_t received_ = 0;      // offset of the next byte it delivers
  bool paused_ = false;
  bool done_ = false;
  int64_t drainAt_ = 0;  // the position of the next look at what has arrived
};

#endif
