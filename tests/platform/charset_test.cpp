// Text conversion and the small string routines, with one behaviour on every
// platform.
#include "platform/charset.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Ansi(const std::string& text, size_t units) {
  std::u16string out(units, u'#');
  const size_t n = AnsiToUtf16(text.data(), text.size(), out.data(), units);
  EXPECT_EQ(out[n], 0) << "terminated";
  return out.substr(0, n);
}

TEST(CharsetTest, ChapterNamesFromUtf8OrWindows1252) {
  struct {
    const char* name;
    std::string in;
    size_t units;
    std::u16string out;
  } cases[] = {
      {"ascii", "Intro", 50, u"Intro"},
      {"utf-8", "Caf\xc3\xa9 \xe2\x82\xac", 50, u"Caf\u00e9 \u20ac"},
      {"utf-8 outside the BMP", "a\xf0\x9f\x8e\xac", 50, u"a\U0001F3AC"},
      {"windows-1252", "Caf\xe9 \x80\x92\x99", 50, u"Caf\u00e9 \u20ac\u2019\u2122"},
      {"overlong utf-8 is not utf-8", "\xc0\xaf", 50, u"\u00c0\u00af"},
      {"cut to the room left", "abcdef", 4, u"abc"},
      {"a pair that does not fit is dropped whole", "ab\xf0\x9f\x8e\xac", 4, u"ab"},
      {"empty", "", 50, u""},
  };
  for (const auto& c : cases) EXPECT_EQ(Ansi(c.in, c.units), c.out) << c.name;
  char16_t one[1] = {u'x'};
  EXPECT_EQ(AnsiToUtf16("abc", 3, one, 1), 0u);
  EXPECT_EQ(one[0], 0);
}

TEST(CharsetTest, Utf16RoundTripsAndSearch) {
  const std::u16string text = u"/m\u00fcsic/\U0001F3AC.ogm";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text.c_str())), text);
  EXPECT_EQ(Utf16ToUtf8(nullptr), "");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(Utf16ToUtf8(lone),
            "a\xef\xbf\xbd"
            "b");
  EXPECT_TRUE(Utf16Contains(u"http://x", u"://"));
  EXPECT_TRUE(Utf16Contains(u"c:\\a://b", u"://"));
  EXPECT_FALSE(Utf16Contains(u"c:\\a:/b", u"://"));
  EXPECT_FALSE(Utf16Contains(u":/", u"://"));
  EXPECT_FALSE(Utf16Contains(nullptr, u"x"));
}

TEST(CharsetTest, CaseInsensitivePrefixAndDecimal) {
  EXPECT_EQ(CompareNoCase("chapter01=", "CHAPTER", 7), 0);
  EXPECT_NE(CompareNoCase("CHAPTEX", "CHAPTER", 7), 0);
  EXPECT_NE(CompareNoCase("CHAP", "CHAPTER", 7), 0);  // shorter text never matches
  EXPECT_EQ(CompareNoCase("abc", "ABD", 2), 0);
  struct {
    const char* in;
    int32_t out;
  } numbers[] = {{"12", 12},
                 {" 7", 7},
                 {"-3", -3},
                 {"+4x", 4},
                 {"", 0},
                 {"x1", 0},
                 {"09", 9},
                 {"99999999999", INT32_MAX},
                 {"-99999999999", INT32_MIN}};
  for (auto n : numbers) EXPECT_EQ(DecimalToInt(n.in), n.out) << n.in;
}

}  // namespace

TEST(CharsetTest, Utf8AndUtf16BothWaysWithMalformedText) {
  const std::string text =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC \xF0\x9F\x8E\xAC";  // Grüße € 🎬
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Gr\u00FC\u00DFe \u20AC \U0001F3AC");
  EXPECT_EQ(Utf16ToUtf8(wide.c_str(), 50), text);
  // Stops at the unit limit and at a zero unit.
  EXPECT_EQ(Utf16ToUtf8(u"abcdef", 3), "abc");
  const char16_t zero[] = {u'a', 0, u'b'};
  EXPECT_EQ(Utf16ToUtf8(zero, 3), "a");
  // Unpaired surrogates, and a pair cut by the limit.
  const char16_t lone[] = {0xD800, u'x', 0xDC00, 0};
  EXPECT_EQ(Utf16ToUtf8(lone, 4), "\xEF\xBF\xBDx\xEF\xBF\xBD");
  const char16_t pair[] = {0xD83C, 0xDFAC};
  EXPECT_EQ(Utf16ToUtf8(pair, 1), "\xEF\xBF\xBD");
  // Malformed UTF-8: stray continuation, overlong form, encoded surrogate.
  EXPECT_EQ(Utf8ToUtf16("a\x80"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), u"\uFFFD");
}
