// The response head of one HTTP transfer, fed line by line as libcurl
// delivers it. When libcurl follows a redirect it delivers every response's
// head; a new status line starts over, so the fields describe the last one.
#ifndef OGMDECAPS_PLUGINS_HTTP_HTTP_HEAD_H
#define OGMDECAPS_PLUGINS_HTTP_HTTP_HEAD_H

#include <cstdint>
#include <string_view>

class HttpHead {
 public:
  // One line with or without its CRLF.
  void Line(std::string_view line);

  // The blank line of a final response has been seen: not an interim 1xx
  // response and not a redirect that libcurl will follow.
  bool Complete() const { return complete_; }

  int Status() const { return status_; }
  // -1 when absent or malformed.
  int64_t ContentLength() const { return contentLength_; }
  // From "Content-Range: bytes first-last/total"; -1 when absent,
  // malformed, or (total only) given as "*".
  int64_t RangeFirst() const { return rangeFirst_; }
  int64_t RangeLast() const { return rangeLast_; }
  int64_t RangeTotal() const { return rangeTotal_; }

 private:
  void Reset();
  void Field(std::string_view name, std::string_view value);

  bool complete_ = false;
  bool location_ = false;
  int status_ = 0;
  int64_t contentLength_ = -1;
  int64_t rangeFirst_ = -1;
  int64_t rangeLast_ = -1;
  int64_t rangeTotal_ = -1;
};

#endif
