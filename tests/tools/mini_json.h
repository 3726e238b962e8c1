// A small strict JSON reader for checking the tool's --json output: it
// refuses anything that is not well-formed JSON.
#ifndef OGMDECAPS_TESTS_TOOLS_MINI_JSON_H
#define OGMDECAPS_TESTS_TOOLS_MINI_JSON_H

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tooltest {

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // UTF-8
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  // Member lookup; a shared null value when absent or not an object.
  const JsonValue& operator[](const std::string& key) const;
  bool Has(const std::string& key) const { return kind == kObject && members.count(key) != 0; }
};

// False (with the offset of the problem in *error) on malformed text.
bool ParseJson(const std::string& text, JsonValue* out, std::string* error);

}  // namespace tooltest

#endif
