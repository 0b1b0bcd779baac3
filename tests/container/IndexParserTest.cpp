#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "ContainerTestUtil.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_IndexParser.h"

namespace ospry {
namespace {

using writer::TContainerWriter;
using writer::TFileOutput;

// Writes one container with the given content to a file and loads its index.
class IndexFixture : public ::testing::Test {
protected:
  template <typename Fill>
  const TIndexParser& Load(bool shortEntries, Fill fill) {
    const std::string path = dir_.File("clip.bin");
    {
      TFileOutput out;
      EXPECT_TRUE(out.Create(path));
      TContainerWriter w(out, shortEntries);
      fill(w);
      EXPECT_TRUE(w.Finish());
      EXPECT_TRUE(out.Close());
    }
    EXPECT_TRUE(file_.Open(path));
    TClipReader reader(file_, file_.Size(), false);
    EXPECT_TRUE(reader.Valid()) << reader.Error();
    index_ = reader.TakeIndex();
    // gtest reports an escaping exception as the test's failure.
    if (!index_) throw std::runtime_error("container without index");
    return *index_;
  }
  test::TTempDir dir_;
  TReadFile file_;
  std::unique_ptr<TIndexParser> index_;
};

TEST_F(IndexFixture, FindFrameBisectsAndWalksBackToAKeyFrameOnAnExactHit) {
  const auto& index = Load(false, [](TContainerWriter& w) {
    const std::uint8_t types[] = {1, 3, 3, 1};
    for (int i = 0; i < 4; ++i) w.AddFrame(2, types[i], i + 1.0, "x");
  });
  struct Case {
    std::int32_t lo, hi;
    double time;
    std::int32_t expected;
  } cases[] = {
      {0, 4, 3.0, 0},   // hits frame 2 at once, walks back to the key frame 0
      {0, 4, 3.5, 2},   // between stamps: the frame before
      {0, 4, 0.5, 0},   // before the first frame
      {0, 4, 9.0, 3},   // after the last frame
      {0, 4, 4.0, 3},   // exact hit on a key frame
      {0, 5, 3.0, -1},  // range past the table
      {-1, 4, 3.0, -1},
      {3, 1, 3.0, -1},  // reversed range
  };
  for (const auto& c : cases)
    EXPECT_EQ(index.FindFrame(c.lo, c.hi, c.time), c.expected) << c.lo << ".." << c.hi << " at " << c.time;
}

TEST_F(IndexFixture, FindFrameWithoutKeyFrameBeforeAnExactHitGivesMinusOne) {
  const auto& index = Load(false, [](TContainerWriter& w) {
    for (int i = 0; i < 4; ++i) w.AddFrame(2, 3, i + 1.0, "x");
  });
  EXPECT_EQ(index.FindFrame(0, 4, 3.0), -1);
}

TEST_F(IndexFixture, ClipAtFindsTheClipOrTheOneBeforeAGap) {
  const auto& index = Load(false, [](TContainerWriter& w) {
    w.AddFrame(2, 1, 10.0, "a");
    w.AddFrame(2, 3, 15.0, "b");
    w.AddFrame(2, 1, 30.0, "c");
    w.AddFrame(2, 3, 35.0, "d");
    w.AddClipOver(0, 2, 20.0);
    w.AddClipOver(2, 2, 40.0);
  });
  const std::pair<double, std::int32_t> cases[] = {{15, 0}, {25, 0}, {35, 1}, {5, 0}, {45, 1}, {30, 1}, {20, 0}};
  for (const auto& [time, clip] : cases) EXPECT_EQ(index.ClipAt(time), clip) << "at " << time;
  EXPECT_EQ(index.FirstFrameOfClipAt(35.0), 2);
  EXPECT_EQ(index.FirstFrameOfClipAt(12.0), 0);
  EXPECT_EQ(index.FirstClipStart(), 10.0);
  EXPECT_EQ(index.LastClipEnd(), 40.0);
}

TEST_F(IndexFixture, EmptyTables) {
  const auto& index = Load(false, [](TContainerWriter&) {});
  EXPECT_EQ(index.ClipAt(5.0), -1);
  EXPECT_EQ(index.FirstFrameOfClipAt(5.0), -1);
  EXPECT_EQ(index.FirstClipStart(), kNoTime);
  EXPECT_EQ(index.LastClipEnd(), kNoTime);
  EXPECT_EQ(index.LastFrameIndex(), -1);
  EXPECT_EQ(index.LastClipIndex(), -1);
  EXPECT_EQ(index.FindFrame(0, 0, 1.0), 0);
}

TEST_F(IndexFixture, ShortEntriesWidenTheirOffsetsWithSign) {
  const auto& index = Load(true, [](TContainerWriter& w) {
    w.AddFrameEntry({2, 1, 10, 1.0, 0x7FFFFFFF});
    w.AddFrameEntry({2, 3, 10, 2.0, 0x80000000LL});  // the top bit of 32
    w.AddFrame(2, 3, 3.0, "abc");
  });
  ASSERT_EQ(index.FrameCount(), 3);
  EXPECT_TRUE(index.ShortEntries());
  EXPECT_EQ(index.Frame(0).Offset, 2147483647);
  EXPECT_EQ(index.Frame(1).Offset, -2147483648LL);
  EXPECT_EQ(index.Frame(2).Offset, 0);
  EXPECT_EQ(index.Frame(2).DataSize, 3);
  EXPECT_EQ(index.Frame(2).Stamp, 3.0);
}

// Each header entry's data is read from its own place: a kind named twice
// keeps the later entry's bytes, kinds above 21 stay out of the tables, and
// a size of 0 leaves the kind without data.
TEST_F(IndexFixture, HeaderEntriesReadTheirOwnBytes) {
  const auto& index = Load(false, [](TContainerWriter& w) {
    w.AddHeader(2, "first");
    w.AddHeader(5, "");
    w.AddHeader(30, "not a kind");
    w.AddHeader(2, "second!!");
    w.AddHeader(7, "seven");
  });
  ASSERT_EQ(index.HeaderCount(), 5);
  EXPECT_EQ(index.HeaderEntry(2).StreamKind, 30);
  std::string data;
  EXPECT_TRUE(index.GetHeaderData(2, data));
  EXPECT_EQ(data, "second!!");
  EXPECT_TRUE(index.GetHeaderData(7, data));
  EXPECT_EQ(data, "seven");
  EXPECT_FALSE(index.GetHeaderData(5, data));
  EXPECT_TRUE(data.empty());
  THeaderEntry entry;
  EXPECT_TRUE(index.GetHeaderEntry(5, entry));
  EXPECT_EQ(entry.Size, 0);
  EXPECT_TRUE(index.GetHeaderEntry(2, entry));
  EXPECT_EQ(entry.Size, 8);
  EXPECT_FALSE(index.GetHeaderEntry(30, entry));
  EXPECT_FALSE(index.GetHeaderData(30, data));
  EXPECT_FALSE(index.GetHeaderEntry(3, entry));
}

TEST_F(IndexFixture, RecordsRoundTrip) {
  TDvrInfo info = test::SampleInfo("Channel name longer than twenty");
  const auto& index = Load(false, [&](TContainerWriter& w) {
    w.AddFrame(4, 1, 5.5, "payload");
    w.AddClip({1, 2, 3, 4, 5.0, 6.0, 7, 8});
    w.AddDvrInfo(info);
  });
  const TClipEntry& clip = index.Clip(0);
  EXPECT_EQ(clip.FrameCount, 1);
  EXPECT_EQ(clip.Count2, 2);
  EXPECT_EQ(clip.Count3, 3);
  EXPECT_EQ(clip.Start, 5.0);
  EXPECT_EQ(clip.End, 6.0);
  EXPECT_EQ(clip.ClipNumber, 7);
  const TDvrInfo& read = index.DvrInfo(0);
  EXPECT_EQ(read.DvrName, info.DvrName);
  EXPECT_EQ(read.ChannelName, "Channel name longer ");  // cut to its 20-character field
  EXPECT_EQ(read.UserName, info.UserName);
  EXPECT_EQ(read.HostName, info.HostName);
  EXPECT_EQ(read.StartTime, info.StartTime);
  EXPECT_EQ(read.EndTime, info.EndTime);
  EXPECT_EQ(index.Frame(0).StreamKind, 4);
}

// Bytes past a text's length carry no meaning; a length beyond the field is
// cut to the field.
TEST(IndexRecords, LengthPrefixedTextsIgnoreBytesPastTheirLength) {
  std::uint8_t record[kDvrInfoBytes];
  std::memset(record, 'Z', sizeof record);
  record[0] = 3;
  std::memcpy(record + 1, "abc", 3);
  record[102] = 200;  // channel name field holds only 20 characters
  const TDvrInfo info = DecodeDvrInfo(record);
  EXPECT_EQ(info.DvrName, "abc");
  EXPECT_EQ(info.ChannelName, std::string(20, 'Z'));
}

}  // namespace
}  // namespace ospry
