#include "mini_json.h"

#include <cctype>
#include <cstdlib>

namespace tooltest {

const JsonValue& JsonValue::operator[](const std::string& key) const {
  static const JsonValue kNullValue;
  if (kind != kObject) return kNullValue;
  const auto it = members.find(key);
  return it == members.end() ? kNullValue : it->second;
}

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Document(JsonValue* out) {
    if (!Value(out, 0)) return false;
    Space();
    return pos_ == s_.size() || Fail();
  }
  size_t pos() const { return pos_; }

 private:
  bool Fail() { return false; }
  void Space() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
      ++pos_;
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }

  bool Value(JsonValue* v, int depth) {
    if (depth > 64) return false;
    Space();
    if (pos_ >= s_.size()) return false;
    const char c = s_[pos_];
    if (c == '{') return Object(v, depth);
    if (c == '[') return Array(v, depth);
    if (c == '"') {
      v->kind = JsonValue::kString;
      return String(&v->text);
    }
    if (Literal("null")) return v->kind = JsonValue::kNull, true;
    if (Literal("true")) return v->kind = JsonValue::kBool, v->boolean = true, true;
    if (Literal("false")) return v->kind = JsonValue::kBool, v->boolean = false, true;
    return Number(v);
  }

  bool Number(JsonValue* v) {
    const size_t start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    const size_t digits = pos_;
    while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    if (pos_ == digits || (s_[digits] == '0' && pos_ - digits > 1)) return false;
    if (pos_ < s_.size() && s_[pos_] == '.') {
      const size_t frac = ++pos_;
      while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      if (pos_ == frac) return false;
    }
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < s_.size() && (s_[pos_] == '+' || s_[pos_] == '-')) ++pos_;
      const size_t exp = pos_;
      while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
      if (pos_ == exp) return false;
    }
    v->kind = JsonValue::kNumber;
    v->number = std::strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
    return true;
  }

  static void Utf8(std::string* out, unsigned c) {
    if (c < 0x80) {
      *out += static_cast<char>(c);
    } else if (c < 0x800) {
      *out += static_cast<char>(0xC0 | (c >> 6));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *out += static_cast<char>(0xE0 | (c >> 12));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (c >> 18));
      *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  bool Hex4(unsigned* out) {
    if (pos_ + 4 > s_.size()) return false;
    *out = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
      *out <<= 4;
      if (h >= '0' && h <= '9')
        *out |= static_cast<unsigned>(h - '0');
      else if (h >= 'a' && h <= 'f')
        *out |= static_cast<unsigned>(h - 'a' + 10);
      else if (h >= 'A' && h <= 'F')
        *out |= static_cast<unsigned>(h - 'A' + 10);
      else
        return false;
    }
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // opening quote
    out->clear();
    while (pos_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;  // control characters must be escaped
      if (c != '\\') {
        *out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case '"':
          *out += '"';
          break;
        case '\\':
          *out += '\\';
          break;
        case '/':
          *out += '/';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'n':
          *out += '\n';
          break;
        case 'r':
          *out += '\r';
          break;
        case 't':
          *out += '\t';
          break;
        case 'u': {
          unsigned u;
          if (!Hex4(&u)) return false;
          if (u >= 0xD800 && u <= 0xDBFF) {
            unsigned low;
            if (!Literal("\\u") || !Hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
          }
          Utf8(out, u);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool Array(JsonValue* v, int depth) {
    ++pos_;
    v->kind = JsonValue::kArray;
    Space();
    if (pos_ < s_.size() && s_[pos_] == ']') return ++pos_, true;
    for (;;) {
      v->items.emplace_back();
      if (!Value(&v->items.back(), depth + 1)) return false;
      Space();
      if (pos_ >= s_.size()) return false;
      if (s_[pos_] == ']') return ++pos_, true;
      if (s_[pos_++] != ',') return false;
    }
  }

  bool Object(JsonValue* v, int depth) {
    ++pos_;
    v->kind = JsonValue::kObject;
    Space();
    if (pos_ < s_.size() && s_[pos_] == '}') return ++pos_, true;
    for (;;) {
      Space();
      std::string key;
      if (pos_ >= s_.size() || s_[pos_] != '"' || !String(&key)) return false;
      if (v->members.count(key) != 0) return false;  // duplicate keys are a fault here
      Space();
      if (pos_ >= s_.size() || s_[pos_++] != ':') return false;
      if (!Value(&v->members[key], depth + 1)) return false;
      Space();
      if (pos_ >= s_.size()) return false;
      if (s_[pos_] == '}') return ++pos_, true;
      if (s_[pos_++] != ',') return false;
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue* out, std::string* error) {
  Parser p(text);
  *out = JsonValue();
  if (p.Document(out)) return true;
  *error = "malformed JSON near offset " + std::to_string(p.pos());
  return false;
}

}  // namespace tooltest
