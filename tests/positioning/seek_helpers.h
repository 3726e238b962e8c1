// Checks shared by the seek tests.
#ifndef OGMDECAPS_TESTS_POSITIONING_SEEK_HELPERS_H
#define OGMDECAPS_TESTS_POSITIONING_SEEK_HELPERS_H

#include <algorithm>
#include <cstring>
#include <vector>

#include "reader_fixture.h"

// The next frame must be the keyframe numbered currentFrame, and the frames
// after it must follow in order.
inline void ExpectKeyframeThenOrder(const ogmtest::SimpleOgmOptions& o, int following) {
  static std::vector<uint8_t> frame(1 << 20);
  const int32_t at = gReader.info.currentFrame;
  ASSERT_GE(at, 0);
  ASSERT_LT(at, o.frames);
  EXPECT_TRUE(ogmtest::IsKeyframe(o, at)) << at;
  for (int i = at; i < at + following && i < o.frames; ++i) {
    const ogmtest::Bytes expected = ogmtest::FramePayload(o, i);
    const int32_t n = NextVideoFrameEntry(frame.data());
    ASSERT_EQ(n, static_cast<int32_t>(expected.size())) << "frame " << i;
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), frame.begin())) << "frame " << i;
    ASSERT_EQ(gReader.info.currentFrame, i);
  }
}

#endif
