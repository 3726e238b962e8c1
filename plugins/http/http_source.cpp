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

// Request sizes, after what the reader reads: the open reads the stream
// headers (a few pages, more when a large first video frame comes before
// the Vorbis setup page); a seek reads from a second before the target to
// the next keyframe and some seconds on for the audio. Later seeks size
// their requests from the earlier ones.
constexpr int64_t kOpenRange = int64_t{64} << 10;
constexpr int64_t kSeekRange = int64_t{512} << 10;
constexpr int64_t kMinRange = int64_t{32} << 10;
constexpr int64_t kMaxRange = int64_t{8} << 20;
// A read that starts this close to the end (the duration scan) reads to it.
constexpr int64_t kTailRange = int64_t{256} << 10;
// A run this long (and longer than any run after a seek) is playback: its
// next range is asked for before the reader needs it.
constexpr int64_t kPlaybackRun = int64_t{2} << 20;
// A transfer with at most this much still to come is received to its end
// rather than abandoned, so its connection serves the next request.
constexpr int64_t kFinishRest = int64_t{128} << 10;
// Rounds of taking in what has arrived before a new request (each takes at
// most a libcurl buffer).
constexpr int kMaxDrains = 64;
constexpr int64_t kDrainEvery = int64_t{256} << 10;
// A read this far past what the transfer has delivered waits for it.
constexpr int64_t kWaitGap = int64_t{64} << 10;
constexpr size_t kMaxSegments = 8;
constexpr int64_t kTrimSlack = int64_t{256} << 10;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

HttpSource::HttpSource(std::string url, size_t readAhead, int timeoutMs)
    : url_(std::move(url)), readAhead_(readAhead), timeout_(timeoutMs) {}

HttpSource::~HttpSource() {
  Drop();
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

std::shared_ptr<HttpSource> HttpSource::Open(const std::string& url, size_t readAhead,
                                             int timeoutMs) {
  if (url.empty()) return nullptr;
  InitCurlOnce();
  std::shared_ptr<HttpSource> source(new HttpSource(url, readAhead, timeoutMs));
  if (!source->Setup() || !source->Start(0)) return nullptr;
  HttpSource* self = source.get();
  source->Pump([self] { return self->headState_ != Head::kPending; },
               Clock::now() + source->timeout_);
  if (source->headState_ != Head::kGood) return nullptr;
  // Later requests go where redirects led, without asking again.
  char* effective = nullptr;
  if (curl_easy_getinfo(source->easy_, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
      effective != nullptr)
    source->url_ = effective;
  return source;
}

void HttpSource::Wake() { curl_multi_wakeup(multi_); }

bool HttpSource::Setup() {
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  if (multi_ == nullptr || easy_ == nullptr) return false;
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
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &HttpSource::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &HttpSource::OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  return true;
}

// The longest of the last runs after a seek and a sixteenth more: seeks on
// one file read about the same, give or take a few pages.
int64_t HttpSource::Predicted() const {
  const int64_t longest = std::max({pastRuns_[0], pastRuns_[1], pastRuns_[2]});
  return longest + longest / 16;
}

// Where a request from `from` ends (exclusive); see the header for why.
int64_t HttpSource::RequestEnd(int64_t from) const {
  if (length_ < 0) return from + kOpenRange;
  if (!ranged_) return length_;
  const int64_t read = from - run_.from;
  const int64_t predicted = Predicted();
  int64_t size;
  if (read <= 0)
    size = predicted > 0 ? predicted : kSeekRange;
  else if (run_.requested == 0 && predicted > read)
    size = predicted - read;  // the run began in held bytes
  else if (predicted > 0 && read < predicted + predicted / 4)
    size = predicted / 4;  // a seek that reads a little more than the last ones
  else
    size = 2 * read;  // playback, or a seek that reads far more
  size = std::clamp(size, kMinRange, kMaxRange);
  int64_t end = from + size;
  if (length_ - end < kMinRange || length_ - from <= kTailRange) end = length_;
  for (const HeldBytes& s : segments_)
    if (s.From() > from && s.From() < end && s.Size() > 0) end = s.From();
  return std::min(end, length_);
}

bool HttpSource::Start(int64_t from) {
  Drop();
  const int64_t end = RequestEnd(from);
  // Always ask for a range, also at open: a 206 answer is the proof that
  // seeks can become ranged requests; a 200 answer is a server that
  // ignores ranges (then the request stands for the whole resource).
  const std::string range =
      std::to_string(from) + "-" + (ranged_ || length_ < 0 ? std::to_string(end - 1) : "");
  curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy_, CURLOPT_RANGE, range.c_str());
  head_ = HttpHead();
  headState_ = Head::kPending;
  transferFrom_ = received_ = from;
  transferEnd_ = end;
  skip_ = 0;
  paused_ = done_ = false;
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return false;
  active_ = true;
  if (length_ >= 0) run_.requested += end - from;
  // The transfer appends to the held bytes that end where it starts, else
  // to new ones; the oldest go when there are too many.
  auto joins = std::find_if(segments_.begin(), segments_.end(),
                            [from](const HeldBytes& s) { return s.End() == from; });
  if (joins != segments_.end()) {
    std::rotate(joins, joins + 1, segments_.end());
  } else {
    if (segments_.size() == kMaxSegments) segments_.erase(segments_.begin());
    segments_.emplace_back(from);
  }
  return true;
}

// Ends the transfer. One that has ended leaves its connection to libcurl's
// cache for the next request; one still running closes it.
void HttpSource::Drop() {
  if (!active_) return;
  curl_multi_remove_handle(multi_, easy_);
  active_ = false;
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

// Takes in what has arrived, without waiting for more.
void HttpSource::Drain() {
  for (int i = 0; i < kMaxDrains && Running(); ++i) {
    const int64_t before = received_;
    int running = 0;
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued))
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) done_ = true;
    if (received_ == before) return;
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
  // What the answer brings: the range it names, or everything.
  transferEnd_ = ranged ? std::min(head_.RangeLast() + 1, total) : total;
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
  if (source->Ahead() >= static_cast<int64_t>(source->readAhead_)) {
    source->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  size_t skip = static_cast<size_t>(std::min<int64_t>(source->skip_, bytes));
  source->skip_ -= skip;
  // Bytes past the length the source reported are not part of it.
  const size_t take =
      static_cast<size_t>(std::min<int64_t>(bytes - skip, source->length_ - source->received_));
  source->segments_.back().Append(data + skip, take);
  source->received_ += take;
  return bytes;
}

const HeldBytes* HttpSource::Holding(int64_t offset) const {
  for (const HeldBytes& s : segments_)
    if (s.Holds(offset)) return &s;
  return nullptr;
}

// The running transfer brings offset soon: it is next, or a little later in
// the range asked for.
bool HttpSource::Heading(int64_t offset) const {
  if (!Running() || headState_ == Head::kBad) return false;
  if (headState_ == Head::kPending) return offset == received_;
  if (!ranged_) return offset >= received_;
  return offset >= received_ && offset < transferEnd_ && offset - received_ <= kWaitGap;
}

// Bytes the transfer has delivered that the reader has not reached yet, in
// the bytes it is reading; a reader elsewhere holds no transfer back.
int64_t HttpSource::Ahead() const {
  if (segments_.empty()) return 0;
  const HeldBytes& live = segments_.back();
  return position_ >= live.From() && position_ <= live.End() ? live.End() - position_ : 0;
}

// Keeps at most readAhead bytes behind the position in the bytes being read
// (dropping them in steps of kTrimSlack), and within readAhead the other
// held bytes. A server without ranges keeps nothing behind: a new transfer
// starts over from the start anyway.
void HttpSource::Trim() {
  const auto behind = static_cast<int64_t>(ranged_ ? readAhead_ : 0);
  for (HeldBytes& s : segments_) {
    if (position_ < s.From() || position_ > s.End()) continue;
    const int64_t extra = position_ - s.From() - behind;
    if (extra >= kTrimSlack) s.DropFront(extra);
  }
  int64_t others = 0;
  for (size_t i = segments_.size(); i-- > 1;) {
    const HeldBytes& s = segments_[i - 1];
    if (position_ >= s.From() && position_ <= s.End()) continue;
    others += s.Size();
    if (!ranged_ || others > static_cast<int64_t>(readAhead_))
      segments_.erase(segments_.begin() + static_cast<std::ptrdiff_t>(i - 1));
  }
}

// The reader left its run: a run that followed a seek and stopped before the
// end tells how much the next seek will read.
void HttpSource::EndRun() {
  const int64_t read = position_ - run_.from;
  if (run_.fromSeek && read > 0 && position_ < length_) {
    pastRuns_[2] = pastRuns_[1];
    pastRuns_[1] = pastRuns_[0];
    pastRuns_[0] = std::min(read, kMaxRange);
  }
}

// In playback, asks for the next range as soon as the last one is in, so the
// bytes keep coming while the reader works through what is held.
void HttpSource::RequestAhead() {
  if (!ranged_ || broken_ || Running() || received_ >= length_ || segments_.empty()) return;
  const HeldBytes& live = segments_.back();
  if (live.End() != received_ || position_ < live.From() || position_ > received_) return;
  const int64_t run = position_ - run_.from;
  if (run < std::max(kPlaybackRun, Predicted())) return;
  if (Ahead() >= static_cast<int64_t>(readAhead_)) return;
  if (active_ && headState_ == Head::kBad) return;
  if (Start(received_)) {
    int running = 0;
    curl_multi_perform(multi_, &running);  // sends the request now
  }
}

int32_t HttpSource::Read(void* buffer, int32_t count) {
  if (broken_ || position_ >= length_) return 0;
  const auto deadline = Clock::now() + timeout_;
  int starts = 0;
  for (;;) {
    if (Aborted()) return 0;
    if (const HeldBytes* s = Holding(position_)) {
      auto* out = static_cast<char*>(buffer);
      size_t n = 0;
      while (n < static_cast<size_t>(count) && s->Holds(position_)) {
        const size_t got = s->Copy(position_, out + n, static_cast<size_t>(count) - n);
        n += got;
        position_ += static_cast<int64_t>(got);
      }
      Trim();
      // While the reader works through held bytes, what has arrived is taken
      // in now and then, so the end of a range is seen (and the next one asked
      // for) long before the held bytes run out.
      if (Running() && !paused_ && position_ >= drainAt_) {
        drainAt_ = position_ + kDrainEvery;
        Drain();
      }
      RequestAhead();
      return static_cast<int32_t>(n);
    }
    if (Heading(position_)) {
      if (paused_) {
        paused_ = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);  // may deliver the kept chunk at once
        continue;
      }
      // A server without ranges: bytes up to the position are dropped as
      // they arrive.
      if (!ranged_ && headState_ == Head::kGood && position_ > received_) {
        skip_ += position_ - received_;
        received_ = position_;
        segments_.back() = HeldBytes(position_);
      }
      const Wait wait =
          Pump([this] { return Holding(position_) != nullptr || paused_ || !Heading(position_); },
               deadline);
      if (wait == Wait::kAborted) return 0;
      if (wait == Wait::kTimedOut) {
        Drop();
        return 0;
      }
      continue;
    }
    // A new request from the position. What the running transfer has
    // brought is taken first; if little is left to come, it is received to
    // its end so the connection carries the new request.
    if (active_ && headState_ == Head::kBad) broken_ = true;
    if (Running() && ranged_ && headState_ == Head::kGood) {
      if (paused_) {
        paused_ = false;
        curl_easy_pause(easy_, CURLPAUSE_CONT);
      }
      Drain();
      if (Running() && transferEnd_ - received_ <= kFinishRest) {
        const Wait wait = Pump([] { return false; }, deadline);
        if (wait == Wait::kAborted) return 0;
        if (wait == Wait::kTimedOut) {
          Drop();
          return 0;
        }
      }
      if (Holding(position_) != nullptr || Heading(position_)) continue;
    }
    Drop();
    if (broken_ || starts == kMaxStartsPerRead) return 0;
    if (starts > 0 && !Pause(kFirstBackOff * (1 << (starts - 1)))) return 0;
    if (Clock::now() >= deadline) return 0;
    ++starts;
    if (!ranged_) segments_.clear();
    if (!Start(position_)) return 0;
  }
}

bool HttpSource::SeekTo(int64_t offset) {
  if (offset == position_) return true;
  if (broken_ && Holding(offset) == nullptr) return false;
  // A server without ranges: only what lies ahead stays, as a backward seek
  // re-reads from the start (bytes behind would only hide that).
  if (!ranged_) {
    for (HeldBytes& s : segments_)
      if (position_ >= s.From() && position_ <= s.End()) s.DropFront(position_ - s.From());
  }
  if (offset == leftAt_) {
    run_ = left_;
    std::copy(leftPastRuns_, leftPastRuns_ + 3, pastRuns_);
    leftAt_ = -1;
  } else {
    left_ = run_;
    leftAt_ = position_;
    std::copy(pastRuns_, pastRuns_ + 3, leftPastRuns_);
    EndRun();
    run_ = Run{offset, offset > 0, 0};
  }
  position_ = offset;
  Trim();
  return true;
}
