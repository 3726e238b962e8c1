// An http:// or https:// resource as a source. Reads stream from one open
// transfer; a seek drops it and the next read starts a ranged request from
// the new position. The transfer runs on libcurl's multi interface in the
// reading thread itself, so there is no worker thread to stop: a read waits
// in curl_multi_poll, which a close on another thread interrupts through
// curl_multi_wakeup.
//
// Faults handled:
// - A transfer that ends before the data does (dropped connection, a server
//   that sends shorter ranges) is resumed from the position with a Range
//   request, up to kMaxStartsPerRead transfers for one read, with a short
//   back-off between attempts.
// - A read that receives no byte within the time-out returns 0 and drops the
//   transfer (stalled or vanished server); the next read tries again.
// - A server that ignores Range (200 instead of 206) makes the source
//   sequential: seeks outside the received data are refused, and a resume
//   re-reads from the start and discards what was already delivered.
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
#include "plugins/http/http_head.h"

class HttpSource final : public Source {
 public:
  // Starts the transfer and waits (at most timeoutMs) for the response
  // head. readAhead bounds the received bytes held for the reader. nullptr
  // when the server cannot be reached, answers with an error, or gives no
  // length.
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

  bool Start(int64_t from);
  void Drop();
  template <class Ready>
  Wait Pump(Ready ready, Clock::time_point deadline);
  bool Pause(Clock::duration span);
  void AcceptHead();
  size_t Held() const { return held_.size() - heldFrom_; }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);

  const std::string url_;
  const size_t readAhead_;
  const std::chrono::milliseconds timeout_;
  CURLM* multi_ = nullptr;

  int64_t length_ = -1;   // -1 until the first head is accepted
  bool ranged_ = false;   // the server answers Range requests with 206
  bool broken_ = false;   // the server's answers no longer fit the source
  int64_t position_ = 0;  // next byte the reader gets

  // Received bytes not yet read: held_[heldFrom_..] are the bytes from
  // position_ on.
  std::vector<char> held_;
  size_t heldFrom_ = 0;

  // The current transfer, if easy_ is set.
  CURL* easy_ = nullptr;
  HttpHead head_;
  Head headState_ = Head::kPending;
  int64_t transferFrom_ = 0;  // the offset its request asked for
  int64_t skip_ = 0;          // bytes to discard before transferFrom_
  int64_t received_ = 0;      // offset of the next byte it delivers
  bool paused_ = false;
  bool done_ = false;
};

#endif
