// Every video frame comes out as the source AVI holds it, in order.
#include <tuple>

#include "host.h"
#include "md5.h"

namespace integ {
namespace {

using Param = std::tuple<AudioKind, int32_t>;  // audio kind, useCache

class PeerFrames : public ::testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    const std::string missing = PeerToolsMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
};

TEST_P(PeerFrames, EveryFrameEqualsTheSourceAviFrameThenEnd) {
  const auto [kind, useCache] = GetParam();
  const PeerFile& peer = Peer(kind);
  ASSERT_FALSE(peer.path.empty());
  const auto& source = Video().frames;

  Session session;
  ASSERT_TRUE(session.Open(peer.path, useCache));
  const std::vector<DeliveredFrame> got = ReadAllFrames(session.info(), source.size() + 10);
  ASSERT_EQ(got.size(), source.size());
  int wrong = 0;
  for (size_t i = 0; i < got.size() && wrong < 5; ++i) {
    const bool same =
        got[i].size == static_cast<int32_t>(source[i].size) && got[i].md5 == source[i].md5;
    EXPECT_TRUE(same) << "frame " << i << ": " << got[i].size << " bytes md5 " << got[i].md5
                      << ", source " << source[i].size << " bytes md5 " << source[i].md5;
    EXPECT_EQ(got[i].currentFrame, static_cast<int32_t>(i)) << "currentFrame after frame " << i;
    wrong += same ? 0 : 1;
  }
  // The end stays the end.
  std::vector<uint8_t> buf = FrameBuffer();
  EXPECT_EQ(AVIDecaps_NextVideoFrame(buf.data(), 0), -1);
  EXPECT_EQ(AVIDecaps_NextVideoFrame(buf.data(), 0), -1);
  EXPECT_EQ(session.info().currentFrame, session.info().frameCount - 1);
  EXPECT_DOUBLE_EQ(AVIDecaps_GetProgress(),
                   100.0 * (session.info().frameCount - 1) / session.info().frameCount);
}

INSTANTIATE_TEST_SUITE_P(Peers, PeerFrames,
                         ::testing::Combine(::testing::Values(AudioKind::kNone, AudioKind::kMp3,
                                                              AudioKind::kAc3, AudioKind::kVorbis),
                                            ::testing::Values(0, 1)),
                         [](const ::testing::TestParamInfo<Param>& p) {
                           return std::string(KindName(std::get<0>(p.param))) +
                                  (std::get<1>(p.param) ? "_cached" : "_plain");
                         });

}  // namespace
}  // namespace integ
