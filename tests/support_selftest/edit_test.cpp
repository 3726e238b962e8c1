// Damage and re-paging: each edit changes what it claims and nothing else.
#include <gtest/gtest.h>

#include "ogg_edit.h"
#include "simple_ogm.h"

using namespace ogmtest;

namespace {

SimpleOgm Sample() {
  SimpleOgmOptions o;
  o.frames = 40;
  o.framesPerPage = 4;
  o.audio = AudioKind::kRaw;
  return MakeSimpleOgm(o);
}

size_t CountSerial(const std::vector<PacketInfo>& packets, int32_t serial) {
  size_t n = 0;
  for (const auto& p : packets) n += p.serial == serial;
  return n;
}

}  // namespace

TEST(Damage, JunkTruncationAndOverwriteKeepTheRestIntact) {
  const SimpleOgm f = Sample();
  const auto pages = ListPages(f.bytes);
  const auto packets = ReadPackets(f.bytes);

  const Bytes junk = PrependJunk(f.bytes, 1000);
  const auto junkPages = ListPages(junk);
  ASSERT_EQ(junkPages.size(), pages.size());
  EXPECT_EQ(junkPages[0].offset, 1000u);
  EXPECT_EQ(ReadPackets(junk).size(), packets.size());

  // Cut inside the last page: that page is gone, the others stay whole.
  const Bytes cut = Truncate(f.bytes, pages.back().offset + 10);
  EXPECT_EQ(ListPages(cut).size(), pages.size() - 1);

  const Bytes patched = Overwrite(f.bytes, 4, Bytes{0x7F});
  EXPECT_EQ(patched.size(), f.bytes.size());
  EXPECT_EQ(patched[4], 0x7F);
  EXPECT_FALSE(ListPages(patched)[0].crcOk);
}

TEST(Damage, DroppedAndCorruptedPagesLoseTheirPackets) {
  const SimpleOgm f = Sample();
  const auto pages = ListPages(f.bytes);
  size_t victim = 0;
  for (size_t i = 4; i < pages.size(); ++i)
    if (pages[i].serial == 0 && pages[i].packetsCompleted == 4) {
      victim = i;
      break;
    }
  ASSERT_NE(victim, 0u);
  const size_t videoPackets = CountSerial(ReadPackets(f.bytes), 0);

  const Bytes dropped = DropPage(f.bytes, victim);
  EXPECT_EQ(ListPages(dropped).size(), pages.size() - 1);
  EXPECT_EQ(CountSerial(ReadPackets(dropped), 0), videoPackets - 4);

  const Bytes corrupt = CorruptPageCrc(f.bytes, victim);
  const auto corruptPages = ListPages(corrupt);
  ASSERT_EQ(corruptPages.size(), pages.size());
  EXPECT_FALSE(corruptPages[victim].crcOk);
  EXPECT_TRUE(corruptPages[victim + 1].crcOk);
  EXPECT_EQ(CountSerial(ReadPackets(corrupt), 0), videoPackets - 4);
}

TEST(Damage, ForeignPagesAndSwappedPages) {
  const SimpleOgm f = Sample();
  const auto pages = ListPages(f.bytes);
  const Bytes foreign = InsertForeignPage(f.bytes, 5, 7, false);
  const auto fp = ListPages(foreign);
  ASSERT_EQ(fp.size(), pages.size() + 1);
  EXPECT_EQ(fp[5].serial, 7);
  EXPECT_TRUE(fp[5].crcOk);
  EXPECT_EQ(fp[6].offset - fp[5].offset, fp[5].size);

  const Bytes swapped = SwapPages(f.bytes, 0, 1);
  const auto sp = ListPages(swapped);
  EXPECT_EQ(sp[0].serial, 1);
  EXPECT_EQ(sp[1].serial, 0);
  EXPECT_EQ(swapped.size(), f.bytes.size());
}

TEST(Remux, WithoutEditsReproducesTheFile) {
  const SimpleOgm f = Sample();  // no packet spans pages
  EXPECT_EQ(Remux(f.bytes), f.bytes);
}

TEST(Remux, SetChaptersReplacesOnlyTheCommentPacket) {
  SimpleOgmOptions o;
  o.frames = 30;
  o.extraComments = {"TITLE=x", "CHAPTER01=00:00:09.000"};
  const SimpleOgm f = MakeSimpleOgm(o);
  const Bytes edited = SetChapters(f.bytes, {{0, "One"}, {1000, "Two"}});
  const auto before = ReadPackets(f.bytes);
  const auto after = ReadPackets(edited);
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == 1) continue;
    EXPECT_EQ(before[i].data, after[i].data) << i;
    EXPECT_EQ(before[i].granule, after[i].granule) << i;
  }
  std::string vendor;
  std::vector<std::string> comments;
  ASSERT_TRUE(ParseCommentPacket(after[1].data, &vendor, &comments));
  EXPECT_EQ(vendor, "ogmtools v1.5");
  EXPECT_EQ(comments,
            (std::vector<std::string>{"TITLE=x", "CHAPTER01=00:00:00.000", "CHAPTER01NAME=One",
                                      "CHAPTER02=00:00:01.000", "CHAPTER02NAME=Two"}));
}
