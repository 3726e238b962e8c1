// The host's own units, without the reader: MD5, UTF-16, frame rates,
// keyframe detection, argument parsing, and the AVI and WAV writers read
// back by ffprobe/ffmpeg.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi_writer.h"
#include "cli_args.h"
#include "keyframes.h"
#include "md5.h"
#include "mini_json.h"
#include "stream_facts.h"
#include "tool_harness.h"
#include "wav_writer.h"

namespace {

using namespace cli;
using tooltest::Samples;

TEST(Md5, Rfc1321TestSuite) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"}};
  for (const auto& [text, digest] : vectors)
    EXPECT_EQ(Md5::Hex(text, std::string(text).size()), digest) << text;
}

TEST(Md5, PiecewiseFeedingAndPaddingBoundaries) {
  // Lengths around the 56/64-byte padding edges, fed whole and in uneven
  // pieces, must agree; a million 'a' is the long known vector.
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i * 7 + 3);
  for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
    const std::string whole = Md5::Hex(data.data(), len);
    Md5 md5;
    for (size_t at = 0, step = 1; at < len; at += step, step = step % 13 + 1)
      md5.Update(data.data() + at, std::min(step, len - at));
    EXPECT_EQ(md5.HexDigest(), whole) << len;
  }
  const std::string million(1000000, 'a');
  EXPECT_EQ(Md5::Hex(million.data(), million.size()), "7707d6ae4e027c70eea2a935c2296f21");
  Md5 reused;
  reused.Update("abc", 3);
  reused.HexDigest();
  reused.Reset();
  reused.Update("abc", 3);
  EXPECT_EQ(reused.HexDigest(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(FrameRate, RationalsFromTheOgmTimeUnit) {
  auto rate = [](double fps) {
    const Rational r = FrameRateRational(fps);
    return std::to_string(r.num) + "/" + std::to_string(r.den);
  };
  // framesPerSecond is 10000000 / unit for the unit the OGM stores.
  EXPECT_EQ(rate(10000000.0 / 400000), "25/1");
  EXPECT_EQ(rate(10000000.0 / 333667), "30000/1001");
  EXPECT_EQ(rate(10000000.0 / 417083), "24000/1001");
  EXPECT_EQ(rate(10000000.0 / 166833), "60000/1001");
  EXPECT_EQ(rate(10000000.0 / 800000), "25/2");
  EXPECT_EQ(rate(10000000.0 / 400001), "10000000/400001");
  EXPECT_EQ(rate(10000000.0 / 1000000), "10/1");
  EXPECT_EQ(rate(0), "0/1");
}

TEST(FrameRate, ClockTimes) {
  EXPECT_EQ(ClockTime(0), "00:00:00.000");
  EXPECT_EQ(ClockTime(3661.5), "01:01:01.500");
  EXPECT_EQ(ClockTime(59.9996), "00:01:00.000");
  EXPECT_EQ(ClockTime(-3), "00:00:00.000");
  EXPECT_EQ(ClockTime(360000), "100:00:00.000");
}

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
  return std::vector<uint8_t>(b.begin(), b.end());
}

TEST(Keyframes, Mpeg4VopCodingType) {
  const auto I = Bytes({0, 0, 1, 0xB6, 0x10, 0x55});
  const auto P = Bytes({0, 0, 1, 0xB6, 0x50, 0x55});
  const auto B = Bytes({0, 0, 1, 0xB6, 0x90, 0x55});
  const auto S = Bytes({0, 0, 1, 0xB6, 0xD0, 0x55});
  EXPECT_EQ(ClassifyMpeg4Frame(I.data(), I.size()), Mpeg4Frame::kIntra);
  EXPECT_EQ(ClassifyMpeg4Frame(P.data(), P.size()), Mpeg4Frame::kPredicted);
  EXPECT_EQ(ClassifyMpeg4Frame(B.data(), B.size()), Mpeg4Frame::kPredicted);
  EXPECT_EQ(ClassifyMpeg4Frame(S.data(), S.size()), Mpeg4Frame::kPredicted);
  // VOS, VO and VOL headers ahead of the VOP do not decide; the VOP does.
  const auto headedP = Bytes({0,    0, 1, 0xB0, 0xF5, 0,    0,    1, 0xB5, 0x09, 0,    0,   1,
                              0x00, 0, 0, 1,    0x20, 0x08, 0xC8, 0, 0,    1,    0xB6, 0x40});
  EXPECT_EQ(ClassifyMpeg4Frame(headedP.data(), headedP.size()), Mpeg4Frame::kPredicted);
  const auto headersOnly = Bytes({0, 0, 1, 0xB0, 0xF5, 0, 0, 1, 0x20, 0x08, 0xC8});
  EXPECT_EQ(ClassifyMpeg4Frame(headersOnly.data(), headersOnly.size()), Mpeg4Frame::kHeadersOnly);
  // Nothing to go by: empty, no start code, a VOP code cut off, user data alone.
  const auto cut = Bytes({0x12, 0, 0, 1, 0xB6});
  const auto userData = Bytes({0, 0, 1, 0xB2, 'D', 'i', 'v', 'X'});
  const auto noise = Bytes({1, 2, 3, 4, 5, 6});
  EXPECT_EQ(ClassifyMpeg4Frame(nullptr, 0), Mpeg4Frame::kUnknown);
  EXPECT_EQ(ClassifyMpeg4Frame(cut.data(), cut.size()), Mpeg4Frame::kUnknown);
  EXPECT_EQ(ClassifyMpeg4Frame(userData.data(), userData.size()), Mpeg4Frame::kUnknown);
  EXPECT_EQ(ClassifyMpeg4Frame(noise.data(), noise.size()), Mpeg4Frame::kUnknown);

  const KeyframeDetector xvid("xvid");
  EXPECT_TRUE(xvid.understood());
  EXPECT_TRUE(xvid.IsKeyframe(I.data(), I.size()));
  EXPECT_TRUE(xvid.IsKeyframe(headersOnly.data(), headersOnly.size()));
  EXPECT_FALSE(xvid.IsKeyframe(P.data(), P.size()));
  EXPECT_FALSE(xvid.IsKeyframe(noise.data(), 0));
  const KeyframeDetector other("MJPG");
  EXPECT_FALSE(other.understood());
  EXPECT_TRUE(other.IsKeyframe(P.data(), P.size()));
}

TEST(Args, FormsAndMistakes) {
  const std::vector<OptionSpec> specs = {{"--json", false}, {"-v", true}, {"--frames", true}};
  ParsedArgs a;
  std::string error;
  ASSERT_TRUE(
      a.Parse({"-v", "out.avi", "in.ogm", "--frames=3", "--json", "--cache"}, specs, &error))
      << error;
  EXPECT_EQ(a.source(), "in.ogm");
  EXPECT_EQ(a.Value("-v"), "out.avi");
  EXPECT_EQ(a.Value("--frames"), "3");
  EXPECT_TRUE(a.Has("--json"));
  EXPECT_TRUE(a.Has("--cache"));
  EXPECT_FALSE(a.Has("--library"));
  // "-" alone is a source name (stdin is not supported, the reader says so).
  EXPECT_TRUE(a.Parse({"-"}, specs, &error));
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"in.ogm", "--nope"},
                                             {"in.ogm", "-v"},
                                             {"in.ogm", "--json=1"},
                                             {"in.ogm", "--json", "--json"},
                                             {"a.ogm", "b.ogm"},
                                             {"--json"}}) {
    EXPECT_FALSE(a.Parse(bad, specs, &error)) << bad.back();
    EXPECT_FALSE(error.empty());
  }
  long long n = 0;
  double d = 0;
  EXPECT_TRUE(ParseInt("42", 0, 100, &n));
  EXPECT_EQ(n, 42);
  EXPECT_FALSE(ParseInt("101", 0, 100, &n));
  EXPECT_FALSE(ParseInt("4x", 0, 100, &n));
  EXPECT_FALSE(ParseInt("", 0, 100, &n));
  EXPECT_FALSE(ParseInt("99999999999999999999", 0, INT64_MAX, &n));
  EXPECT_TRUE(ParseDouble("2.5", 0, 10, &d));
  EXPECT_FALSE(ParseDouble("nan", 0, 10, &d));
}

TEST(MiniJson, AcceptsJsonAndRefusesTheRest) {
  tooltest::JsonValue v;
  std::string error;
  ASSERT_TRUE(tooltest::ParseJson(R"({"a": [1, -2.5e3, true, null], "b": "x\"\u00fc\ud83c\udfac"})",
                                  &v, &error));
  EXPECT_EQ(v["a"].items.size(), 4u);
  EXPECT_EQ(v["a"].items[1].number, -2500);
  EXPECT_EQ(v["b"].text, "x\"\xC3\xBC\xF0\x9F\x8E\xAC");
  for (const char* bad : {"{\"a\": 1,}", "{\"a\" 1}", "[01]", "\"tab\there\"", "{\"a\":1}{",
                          "{\"a\":1,\"a\":2}", "nul", "\"\\ud800\""})
    EXPECT_FALSE(tooltest::ParseJson(bad, &v, &error)) << bad;
}

// --- writers, read back by the peer tools -----------------------------------

TEST(AviWriter, FileReadsBackWithFramesFlagsAndRate) {
  REQUIRE_PEER_TOOLS();
  const std::string out = Samples::Get().OutputDir("aviwriter") + "/w.avi";
  AviWriter avi;
  AviVideoFormat format;
  format.width = 64;
  format.height = 48;
  format.rate = {30000, 1001};
  std::string error;
  ASSERT_TRUE(avi.Open(out, format, AviWriter::kDefaultLimit, &error)) << error;
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) {
    // Odd and even sizes (chunks are padded), one empty frame.
    std::vector<uint8_t> frame(i == 4 ? 0 : 100 + i * 37, static_cast<uint8_t>(i));
    ASSERT_EQ(avi.AddFrame(frame.data(), frame.size(), i % 3 == 0), AviWriter::Added::kOk);
  }
  ASSERT_TRUE(avi.Finish(&error)) << error;
  EXPECT_EQ(tooltest::ProbeField(out, "video", "codec_tag_string"), "XVID");
  EXPECT_EQ(tooltest::ProbeField(out, "video", "r_frame_rate"), "30000/1001");
  EXPECT_EQ(tooltest::ProbeField(out, "video", "width"), "64");
  const std::vector<std::string> flags = tooltest::VideoPacketFlags(out);
  std::vector<std::string> want;
  for (int i = 0; i < 10; ++i)
    if (i != 4) want.push_back(i % 3 == 0 ? "K__" : "___");
  // ffmpeg does not hand out the empty chunk; the others keep their flags.
  ASSERT_EQ(flags.size(), want.size());
  for (size_t i = 0; i < flags.size(); ++i)
    EXPECT_EQ(flags[i].substr(0, 1), want[i].substr(0, 1)) << i;
}

TEST(AviWriter, RefusesFramesPastTheLimitAndStaysValid) {
  REQUIRE_PEER_TOOLS();
  const std::string out = Samples::Get().OutputDir("avilimit") + "/w.avi";
  AviWriter avi;
  std::string error;
  ASSERT_TRUE(avi.Open(out, AviVideoFormat{}, 8192, &error)) << error;
  std::vector<uint8_t> frame(1000, 0x5A);
  int added = 0;
  AviWriter::Added r;
  while ((r = avi.AddFrame(frame.data(), frame.size(), true)) == AviWriter::Added::kOk) ++added;
  EXPECT_EQ(r, AviWriter::Added::kFull);
  ASSERT_TRUE(avi.Finish(&error)) << error;
  EXPECT_GT(added, 3);
  EXPECT_LE(tooltest::ReadFile(out).size(), 8192u);
  EXPECT_EQ(tooltest::VideoPacketFlags(out).size(), static_cast<size_t>(added));
}

TEST(WavWriter, HeaderAndOddDataPadding) {
  REQUIRE_PEER_TOOLS();
  const std::string out = Samples::Get().OutputDir("wav") + "/w.wav";
  WavWriter wav;
  std::string error;
  ASSERT_TRUE(wav.Open(out, {1, 8000, 8}, &error)) << error;
  std::vector<uint8_t> pcm(8001, 0x80);
  ASSERT_EQ(wav.Write(pcm.data(), pcm.size()), WavWriter::Added::kOk);
  ASSERT_TRUE(wav.Finish(&error)) << error;
  const std::string bytes = tooltest::ReadFile(out);
  EXPECT_EQ(bytes.size(), 44u + 8002u);  // padded to even
  EXPECT_EQ(tooltest::ProbeField(out, "audio", "codec_name"), "pcm_u8");
  EXPECT_EQ(tooltest::ProbeField(out, "audio", "sample_rate"), "8000");
  EXPECT_NEAR(std::stod(tooltest::ProbeField(out, "audio", "duration")), 1.000125, 1e-4);
  WavWriter bad;
  EXPECT_FALSE(bad.Open(out, {2, 44100, 12}, &error));
}

}  // namespace
