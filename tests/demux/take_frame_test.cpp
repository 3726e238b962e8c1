// Packet framing: header byte layouts, granule reconstruction, gaps, header
// packets and damaged packets; and the rounding of time conversion.
#include "demux/take_frame.h"

#include <gtest/gtest.h>

#include <climits>

#include "demux/mul_div_round.h"
#include "input/result.h"
#include "ogm_writer.h"

using ogmtest::Bytes;

namespace {

class TakeFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StreamSlotInit(slot_, 0), kDone);
    header_.timeUnit = 400000;
    header_.samplesPerUnit = 1;
    header_.defaultLength = 1;
  }
  void TearDown() override { StreamSlotClear(slot_); }

  // Submits one page holding packets, with the page granule given.
  void Page(const std::vector<Bytes>& packets, int64_t granule, bool eos = false) {
    ogmtest::PageFields spec;
    spec.serial = 0;
    spec.granule = granule;
    spec.sequence = sequence_++;
    spec.bos = spec.sequence == 0;
    spec.eos = eos;
    spec.packets = packets;
    Bytes page = ogmtest::BuildPage(spec);
    ogg_page og;
    og.header = page.data();
    og.header_len = 27 + page[26];
    og.body = page.data() + og.header_len;
    og.body_len = static_cast<long>(page.size()) - og.header_len;
    ASSERT_EQ(ogg_stream_pagein(&slot_.streamState, &og), 0);
  }

  StreamSlot slot_;
  StreamHeader header_;
  uint32_t sequence_ = 0;
};

TEST(PacketLayoutTest, LengthBytesFromHeaderByte) {
  struct {
    uint8_t b;
    int32_t n;
  } cases[] = {{0x08, 0}, {0x40, 1}, {0x80, 2}, {0xC0, 3},
               {0x02, 4}, {0x42, 5}, {0xC2, 7}, {0x3D, 0}};
  for (auto c : cases) EXPECT_EQ(LengthBytesOf(c.b), c.n) << int(c.b);
  StreamHeader h;
  h.defaultLength = 9;
  const uint8_t p[] = {0xC2, 0x03, 0x00, 0x00, 0x01, 0xAA, 0xBB, 0xCC};
  EXPECT_EQ(PacketDuration(h, p, 0), 9);
  EXPECT_EQ(PacketDuration(h, p, 1), 3);
  // Only the low four length bytes count.
  EXPECT_EQ(PacketDuration(h, p, 7), 0x01000003);
}

TEST_F(TakeFrameTest, StripsHeaderAndLengthBytes) {
  Page({ogmtest::DataPacket(0x08, 0, 0, {'a', 'b'}), ogmtest::DataPacket(0x40, 1, 3, {'c'}),
        ogmtest::DataPacket(0xC2, 7, 5, {'d', 'e', 'f'})},
       20);
  Frame f;
  // Right after init only the last packet on the page carries a granule
  // (20); the ones before it are timed back from it by their durations.
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.size, 2);
  EXPECT_EQ(f.payload[0], 'a');
  EXPECT_EQ(f.keyframe, 1);
  EXPECT_EQ(slot_.lastGranule, 20 - 3 - 1);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.size, 1);
  EXPECT_EQ(f.payload[0], 'c');
  EXPECT_EQ(slot_.lastDuration, 3);
  EXPECT_EQ(slot_.lastGranule, 17);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.size, 3);
  EXPECT_EQ(f.payload[0], 'd');
  EXPECT_EQ(slot_.lastDuration, 5);
  EXPECT_EQ(f.time, 20 * 400000);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), kNoPacket);
}

TEST_F(TakeFrameTest, NoTimeWhenNothingLaterHasOne) {
  // The page's granule is too small for the durations before it, and the
  // next page has none: the first packets stay untimed and never count as
  // keyframes.
  const Bytes key = ogmtest::FramePacket(true, {'k'});
  Page({key, ogmtest::DataPacket(0x40, 1, 9, {'x'}), key}, 4);
  Frame f;
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_NO_GRANULE);
  EXPECT_EQ(f.keyframe, 0);
  EXPECT_LT(f.time, 0);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_NO_GRANULE);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(slot_.lastGranule, 4);
  Page({key, key}, -1);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);  // continues forward
  EXPECT_EQ(slot_.lastGranule, 5);
}

TEST_F(TakeFrameTest, RebuildsGranulesAfterAReference) {
  const Bytes key = ogmtest::FramePacket(true, {'k'});
  const Bytes p = ogmtest::FramePacket(false, {'p'});
  Page({p, key, p}, 12);
  Page({p, p, p}, -1);
  Frame f;
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(slot_.lastGranule, 10);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.keyframe, 1);  // found although not last on its page
  EXPECT_EQ(f.time, 11 * 400000);
  for (int64_t g : {12, 13, 14, 15}) {
    ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
    EXPECT_EQ(slot_.lastGranule, g);
    EXPECT_EQ(f.keyframe, 0);
  }
}

TEST_F(TakeFrameTest, HeaderPacketRestartsTimingAtZero) {
  Page({ogmtest::DirectVideoHeader("XVID", 400000, 8, 8)}, 0);
  Page({ogmtest::CommentPacket("v", {}), ogmtest::FramePacket(true, {'a'}),
        ogmtest::FramePacket(false, {'b'})},
       -1);
  Frame f;
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_HEADER_PACKET);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_HEADER_PACKET);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(slot_.lastGranule, 0);
  EXPECT_EQ(f.time, 0);
  EXPECT_EQ(f.keyframe, 1);
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(slot_.lastGranule, 1);
}

// A stream that does not start at 0: the first packets after the headers
// are timed back from their page's granule, not from the headers' 0.
TEST_F(TakeFrameTest, FirstPacketsTimedBackFromTheirPage) {
  Page({ogmtest::DirectVideoHeader("XVID", 400000, 8, 8)}, 0);
  Page({ogmtest::CommentPacket("v", {})}, 0);
  Page({ogmtest::FramePacket(true, {'a'}), ogmtest::FramePacket(false, {'b'}),
        ogmtest::FramePacket(false, {'c'})},
       1002);
  Page({ogmtest::FramePacket(false, {'d'})}, -1);
  Frame f;
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_HEADER_PACKET);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_HEADER_PACKET);
  for (int64_t g : {1000, 1001, 1002, 1003}) {
    ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket) << g;
    EXPECT_EQ(slot_.lastGranule, g);
    EXPECT_EQ(f.time, g * 400000);
  }
}

TEST_F(TakeFrameTest, GapBreaksTheChainOnce) {
  const Bytes p = ogmtest::FramePacket(false, {'p'});
  Page({p}, 5);
  sequence_++;  // a page is lost
  Page({p, p}, -1);
  Frame f;
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), kGap);
  // After the gap the packet is not consecutive: no granule can be rebuilt,
  // and the one after it continues from -1 (still no usable time).
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_NO_GRANULE);
  EXPECT_EQ(slot_.lastGranule, -1);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_NO_GRANULE);
}

TEST_F(TakeFrameTest, RefusesPacketsShorterThanTheirLengthField) {
  const Bytes p = ogmtest::FramePacket(false, {'p'});
  Page({p, Bytes{}, Bytes{0xC0, 0x01}, Bytes{0x08}, p}, 9);
  Frame f;
  f.size = -7;
  // The empty packet after it stops the look for a later granule.
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_NO_GRANULE);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_BAD_PACKET);  // empty
  EXPECT_EQ(TakeFrame(slot_, header_, &f), DECAPS_ERR_BAD_PACKET);  // 3 length bytes, 1 there
  // An empty frame (header byte only) is a frame of size 0, timed back from
  // the last packet.
  EXPECT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.size, 0);
  EXPECT_EQ(slot_.lastGranule, 8);
  EXPECT_EQ(TakeFrame(slot_, header_, &f), kPacket);
}

TEST_F(TakeFrameTest, EndOfStreamFlag) {
  Page({ogmtest::FramePacket(true, {'x'})}, 0, true);
  Frame f;
  ASSERT_EQ(TakeFrame(slot_, header_, &f), kPacket);
  EXPECT_EQ(f.endOfStream, 1);
}

TEST(MulDivRoundTest, RoundsAndNeverTraps) {
  struct {
    int64_t a, c, v, expected;
  } rows[] = {
      {10000000, 1, 44100, 227},
      {400000, 25, 1, 10000000},
      {1, 2, 4, 0},  // exact half rounds down
      {3, 1, 4, 1},
      {1, 3, 4, 1},
      {400000, -1, 1, -400000},
      {10000000, -1, 3, -3333333},  // negative products truncate
      {0, 123, 7, 0},
      {5, 9, 0, 0},  // no divisor: no time rather than a trap
      {INT64_MAX, 1, 1, INT64_MAX},
      {INT64_MAX, 2, 1, INT64_MAX},  // saturates instead of wrapping
      {INT64_MAX, -2, 1, INT64_MIN},
      {INT64_MIN, 1, -1, INT64_MAX},
      {-1, 1, 1, -1},
  };
  for (auto r : rows)
    EXPECT_EQ(MulDivRound(r.a, r.c, r.v), r.expected) << r.a << " " << r.c << " " << r.v;
}

TEST(TruncateTest, SaturatesDoubles) {
  EXPECT_EQ(TruncateToInt32(499.5), 499);
  EXPECT_EQ(TruncateToInt32(-1.9), -1);
  EXPECT_EQ(TruncateToInt32(1e12), INT32_MAX);
  EXPECT_EQ(TruncateToInt32(-1e12), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(0.0 / 0.0), 0);
}

}  // namespace
