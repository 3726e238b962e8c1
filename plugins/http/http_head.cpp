#include "plugins/http/http_head.h"

#include <cctype>
#include <limits>

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Leading decimal digits of text (at least one) as a non-negative number;
// -1 when there are none or they overflow. The rest is left in text.
int64_t TakeNumber(std::string_view& text) {
  int64_t value = 0;
  size_t i = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const int digit = text[i] - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return -1;
    value = value * 10 + digit;
  }
  if (i == 0) return -1;
  text.remove_prefix(i);
  return value;
}

bool TakeChar(std::string_view& text, char ch) {
  if (text.empty() || text.front() != ch) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

void HttpHead::Reset() { *this = HttpHead(); }

void HttpHead::Line(std::string_view line) {
  line = Trim(line);
  if (line.substr(0, 5) == "HTTP/") {
    Reset();
    const size_t space = line.find(' ');
    if (space == std::string_view::npos) return;
    std::string_view code = line.substr(space + 1);
    const int64_t status = TakeNumber(code);
    status_ = (status >= 100 && status <= 999) ? static_cast<int>(status) : 0;
    return;
  }
  if (line.empty()) {
    const bool interim = status_ < 200;
    const bool followed = status_ >= 300 && status_ < 400 && location_;
    complete_ = !interim && !followed;
    return;
  }
  const size_t colon = line.find(':');
  if (colon != std::string_view::npos)
    Field(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
}

void HttpHead::Field(std::string_view name, std::string_view value) {
  if (SameNoCase(name, "Location")) {
    location_ = true;
  } else if (SameNoCase(name, "Content-Length")) {
    contentLength_ = TakeNumber(value);
    if (!value.empty()) contentLength_ = -1;
  } else if (SameNoCase(name, "Content-Range")) {
    rangeFirst_ = rangeLast_ = rangeTotal_ = -1;
    if (!SameNoCase(value.substr(0, 6), "bytes ")) return;
    value = Trim(value.substr(6));
    const int64_t first = TakeNumber(value);
    if (first < 0 || !TakeChar(value, '-')) return;
    const int64_t last = TakeNumber(value);
    if (last < first || !TakeChar(value, '/')) return;
    rangeFirst_ = first;
    rangeLast_ = last;
    if (value == "*") return;
    const int64_t total = TakeNumber(value);
    if (value.empty() && total > last) rangeTotal_ = total;
  }
}
