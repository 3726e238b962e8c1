// Video frames come out whole, in order, whatever the read sizes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "reader_fixture.h"

using ogmtest::Bytes;

namespace {

class VideoTest : public ReaderTest, public ::testing::WithParamInterface<int32_t> {};

// Reads every frame; each must equal what the writer stored for it.
void ExpectAllFrames(const ogmtest::SimpleOgmOptions& o, StreamInfo* info) {
  static std::vector<uint8_t> frame(1 << 20);
  for (int i = 0; i < o.frames; ++i) {
    const Bytes expected = ogmtest::FramePayload(o, i);
    const int32_t n = NextVideoFrameEntry(frame.data());
    ASSERT_EQ(n, static_cast<int32_t>(expected.size())) << "frame " << i;
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), frame.begin())) << "frame " << i;
    ASSERT_EQ(info->currentFrame, i);
  }
  EXPECT_EQ(NextVideoFrameEntry(frame.data()), -1);
  EXPECT_EQ(NextVideoFrameEntry(frame.data()), -1);  // and again
}

TEST_P(VideoTest, EveryFrameWholeAndInOrder) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 120;
  o.gop = 25;
  o.largeFrames = {3, 60};  // more than the 48000-byte held frame
  o.emptyFrames = {10, 11};
  o.audio = ogmtest::AudioKind::kRaw;  // audio pages in between go to their slot
  ogmtest::MemoryInputConfig config;
  config.maxBytesPerRead = GetParam();
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes, config), 1);
  ExpectAllFrames(o, info_);
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, VideoTest, ::testing::Values(4096, 1, 1000));

TEST_F(ReaderTest, SeveralFramesPerPageAndGranuleAtTheEnd) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 60;
  o.framesPerPage = 7;
  o.granuleIsEnd = false;
  ASSERT_EQ(OpenBytes(ogmtest::MakeSimpleOgm(o).bytes), 1);
  ExpectAllFrames(o, info_);
}

TEST_F(ReaderTest, GappedPageSkipsItsFramesOnly) {
  ogmtest::SimpleOgmOptions o;
  o.frames = 80;
  o.framesPerPage = 4;
  ogmtest::SimpleOgm f = ogmtest::MakeSimpleOgm(o);
  const auto pages = ogmtest::ListPages(f.bytes);
  // Drop a page in the middle: the frames on it are lost, the rest arrive.
  const size_t drop = pages.size() / 2;
  ASSERT_EQ(OpenBytes(ogmtest::DropPage(f.bytes, drop)), 1);
  static std::vector<uint8_t> frame(1 << 20);
  int got = 0;
  int32_t n;
  std::vector<uint32_t> indices;
  while ((n = NextVideoFrameEntry(frame.data())) >= 0) {
    ASSERT_GE(n, 4);
    uint32_t index;
    std::memcpy(&index, frame.data(), 4);
    indices.push_back(index);
    ++got;
  }
  EXPECT_GE(got, o.frames - 8);
  EXPECT_LT(got, o.frames);
  for (size_t i = 1; i < indices.size(); ++i) EXPECT_GT(indices[i], indices[i - 1]);
}

}  // namespace
