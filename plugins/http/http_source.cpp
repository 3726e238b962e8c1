#include "plugins/http/http_source.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include "plugins/http/tls_trust.h"
#endif

namespace {

// A read starts at most this many transfers (the first plus resumes)
// before it gives up.
constexpr int kMaxStartsPerRead = 4;
constexpr std::chrono::milliseconds kFirstBackOff{50};
// curl_multi_poll returns at least this often, so a deadline is noticed
// even if a wake-up were lost.
constexpr int kMaxPollMs = 250;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpSource::HttpSource(std::string url, size_t readAhead, int timeoutMs)
    : url_(std::move(url)), readAhead_(readAhead), timeout_(timeoutMs) {}

HttpSource::~HttpSource() {
  Drop();
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

std::shared_ptr<HttpSource> HttpSource::Open(const std::string& url, size_t readAhead,
                                             int timeoutMs) {
  if (url.empty()) return nullptr;
  InitCurlOnce();
  std::shared_ptr<HttpSource> source(new HttpSource(url, readAhead, timeoutMs));
  source->multi_ = curl_multi_init();
  if (source->multi_ == nullptr || !source->Start(0)) return nullptr;
  HttpSource* self = source.get();
  source->Pump([self] { return self->headState_ != Head::kPending; },
               Clock::now() + source->timeout_);
  if (source->headState_ != Head::kGood) return nullptr;
  return source;
}

void HttpSource::Wake() { curl_multi_wakeup(multi_); }

bool HttpSource::Start(int64_t from) {
  Drop();
  easy_ = curl_easy_init();
  if (easy_ == nullptr) return false;
  curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_.count()));
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, "ogmdecaps-RavelHTTP");
  curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE,
                   static_cast<long>(std::min<size_t>(readAhead_, CURL_MAX_READ_SIZE)));
  // Like the curl tool: a host can name its own CA bundle (for a private
  // server, or a test's self-signed one) without rebuilding.
  if (const char* bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0')
    curl_easy_setopt(easy_, CURLOPT_CAINFO, bundle);
  // Always ask for a range, also at open ("0-"): a 206 answer is the proof
  // that seeks can become ranged requests; a 200 answer is a server that
  // ignores ranges.
  const std::string range = std::to_string(from) + "-";
  curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str());
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HttpSource::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpSource::OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  head_ = HttpHead();
  headState_ = Head::kPending;
  transferFrom_ = received_ = from;
  skip_ = 0;
  paused_ = done_ = false;
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
    return false;
  }
  return true;
}

void HttpSource::Drop() {
  if (easy_ == nullptr) return;
  curl_multi_remove_handle(multi_, easy_);
  curl_easy_cleanup(easy_);
  easy_ = nullptr;
}

template <class Ready>
HttpSource::Wait HttpSource::Pump(Ready ready, Clock::time_point deadline) {
  for (;;) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued))
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) done_ = true;
    if (Aborted()) return Wait::kAborted;
    if (ready()) return Wait::kReady;
    if (done_) return Wait::kEnded;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return Wait::kTimedOut;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::min<int64_t>(left, kMaxPollMs)),
                    nullptr);
  }
}

bool HttpSource::Pause(Clock::duration span) {
  const auto until = Clock::now() + span;
  while (!Aborted()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return true;
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(left), nullptr);
  }
  return false;
}

void HttpSource::AcceptHead() {
  int64_t total = -1;
  bool ranged = false;
  if (head_.Status() == 206 && head_.RangeFirst() == transferFrom_) {
    total = head_.RangeTotal();
    ranged = true;
  } else if (head_.Status() == 200) {
    total = head_.ContentLength();
    skip_ = transferFrom_;
  }
  const bool fits = total > 0 && (length_ < 0 || total == length_);
  headState_ = fits ? Head::kGood : Head::kBad;
  if (!fits) return;
  if (length_ < 0) {
    length_ = total;
    ranged_ = ranged;
  } else if (!ranged) {
    ranged_ = false;
  }
}

size_t HttpSource::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* source = static_cast<HttpSource*>(self);
  const size_t bytes = size * count;
  if (source->Aborted()) return 0;
#ifdef _WIN32
  // Each answer's status line: the connection (perhaps a new one, after a
  // redirect) is up, and its server must be one the system trusts.
  if (bytes >= 5 && std::string_view(data, 5) == "HTTP/" && !TlsServerTrusted(source->easy_))
    return 0;
#endif
  source->head_.Line(std::string_view(data, bytes));
  if (source->headState_ == Head::kPending && source->head_.Complete()) source->AcceptHead();
  return bytes;
}

size_t HttpSource::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* source = static_cast<HttpSource*>(self);
  const size_t bytes = size * count;
  if (source->Aborted() || source->headState_ != Head::kGood) return 0;  // ends the transfer
  // libcurl keeps a refused chunk and delivers it again once unpaused, so
  // nothing may be consumed before this check.
  if (source->Held() >= source->readAhead_) {
    source->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  size_t skip = static_cast<size_t>(std::min<int64_t>(source->skip_, bytes));
  source->skip_ -= skip;
  // Bytes past the length the source reported are not part of it.
  const size_t take =
      static_cast<size_t>(std::min<int64_t>(bytes - skip, source->length_ - source->received_));
  if (source->heldFrom_ == source->held_.size()) {
    source->held_.clear();
    source->heldFrom_ = 0;
  }
  source->held_.insert(source->held_.end(), data + skip, data + skip + take);
  source->received_ += take;
  return bytes;
}

int32_t HttpSource::Read(void* buffer, int32_t count) {
  if (broken_ || position_ >= length_) return 0;
  const auto deadline = Clock::now() + timeout_;
  int starts = 0;
  while (Held() == 0) {
    if (Aborted()) return 0;
    if (easy_ != nullptr && paused_) {
      paused_ = false;
      curl_easy_pause(easy_, CURLPAUSE_CONT);  // may deliver the kept chunk at once
      continue;
    }
    if (easy_ == nullptr || done_) {
      if (easy_ != nullptr && headState_ == Head::kBad) broken_ = true;
      Drop();
      if (broken_ || starts == kMaxStartsPerRead) return 0;
      if (starts > 0 && !Pause(kFirstBackOff * (1 << (starts - 1)))) return 0;
      if (Clock::now() >= deadline) return 0;
      ++starts;
      if (!Start(position_)) return 0;
    }
    const Wait wait = Pump([this] { return Held() > 0 || paused_; }, deadline);
    if (wait == Wait::kAborted) return 0;
    if (wait == Wait::kTimedOut) {
      Drop();
      return 0;
    }
  }
  const size_t n = std::min<size_t>(static_cast<size_t>(count), Held());
  std::memcpy(buffer, held_.data() + heldFrom_, n);
  heldFrom_ += n;
  position_ += static_cast<int64_t>(n);
  return static_cast<int32_t>(n);
}

bool HttpSource::SeekTo(int64_t offset) {
  if (offset >= position_ && offset <= position_ + static_cast<int64_t>(Held())) {
    heldFrom_ += static_cast<size_t>(offset - position_);
    position_ = offset;
    return true;
  }
  if (broken_) return false;
  if (!ranged_ && easy_ != nullptr && !done_ && headState_ == Head::kGood && offset >= received_) {
    // A server that ignores Range: forward, the running transfer is read
    // on and the bytes up to the offset dropped as they arrive.
    held_.clear();
    heldFrom_ = 0;
    skip_ += offset - received_;
    received_ = position_ = offset;
    return true;
  }
  // A new transfer from the offset: a ranged request, or on a server that
  // ignores Range a transfer from the start whose bytes before the offset
  // are dropped (see AcceptHead).
  Drop();
  held_.clear();
  heldFrom_ = 0;
  position_ = offset;
  return true;
}
