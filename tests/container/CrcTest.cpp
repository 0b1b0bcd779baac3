#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ContainerTestUtil.h"
#include "platform/Files.h"
#include "viewer/container/U_Crc.h"

namespace ospry {
namespace {

TEST(Crc, CheckValues) {
  EXPECT_EQ(TCrc::CalcString("123456789"), 0xCBF43926u);
  EXPECT_EQ(TCrc::CalcString(""), 0u);
  EXPECT_EQ(CrcBytewise("123456789", 9), 0xCBF43926u);
}

// The fast path must give the bytewise definition's result for every length
// and alignment, fed whole or in pieces.
TEST(Crc, MatchesBytewiseDefinitionOnRandomBuffers) {
  std::mt19937 random(12345);
  std::vector<std::uint8_t> buffer(70000);
  for (auto& b : buffer) b = static_cast<std::uint8_t>(random());
  for (std::size_t offset : {0u, 1u, 3u, 7u, 13u}) {
    for (std::size_t length : {0u, 1u, 2u, 3u, 15u, 16u, 17u, 63u, 64u, 255u, 4097u, 65537u}) {
      const std::uint8_t* p = buffer.data() + offset;
      const std::uint32_t expected = CrcBytewise(p, length);
      EXPECT_EQ(TCrc::CalcBuffer(p, length), expected) << "offset " << offset << " length " << length;
      TCrc pieces;
      const std::size_t cut = length / 3;
      pieces.Update(p, cut);
      pieces.Update(p + cut, length - cut);
      EXPECT_EQ(pieces.Value(), expected) << "offset " << offset << " length " << length;
    }
  }
}

class CrcFile : public ::testing::Test {
protected:
  void SetUp() override {
    content_ = test::FrameBytes(3, 3 * 1024 * 1024 + 11);  // several read blocks, odd tail
    path_ = dir_.File("data.bin");
    ASSERT_TRUE(WriteWholeFile(path_, content_.data(), static_cast<std::int64_t>(content_.size())));
  }
  test::TTempDir dir_;
  std::string content_;
  std::string path_;
};

TEST_F(CrcFile, CoversTheRangeFromStartToSizeLessSkipEnd) {
  struct Case {
    std::int64_t skipEnd, start;
  } cases[] = {{0, 0}, {4, 0}, {4, 1000}, {0, 3 * 1024 * 1024}};
  for (const auto& c : cases) {
    std::uint32_t crc = 0;
    ASSERT_TRUE(TCrc::CalcFile(path_, c.skipEnd, c.start, crc));
    const auto size = static_cast<std::int64_t>(content_.size());
    EXPECT_EQ(crc, CrcBytewise(content_.data() + c.start, static_cast<std::size_t>(size - c.skipEnd - c.start)))
        << "skipEnd " << c.skipEnd << " start " << c.start;
  }
}

TEST_F(CrcFile, StartPastTheEndGivesTheEmptyChecksumWithoutWaiting) {
  std::uint32_t crc = 123;
  ASSERT_TRUE(TCrc::CalcFile(path_, 4, static_cast<std::int64_t>(content_.size()) + 100, crc));
  EXPECT_EQ(crc, 0u);
}

TEST_F(CrcFile, UnreadableFileOrBadArgumentsFail) {
  std::uint32_t crc = 77;
  EXPECT_FALSE(TCrc::CalcFile(dir_.File("missing.bin"), 4, 0, crc));
  EXPECT_FALSE(TCrc::CalcFile(dir_.Path(), 4, 0, crc));  // a folder
  EXPECT_FALSE(TCrc::CalcFile(path_, -1, 0, crc));
  EXPECT_FALSE(TCrc::CalcFile(path_, 4, -1, crc));
  EXPECT_EQ(crc, 77u);
}

TEST_F(CrcFile, ReportsProgressUpToTheTotal) {
  std::int64_t lastDone = 0, lastTotal = 0;
  std::uint32_t crc = 0;
  ASSERT_TRUE(TCrc::CalcFile(path_, 4, 0, crc, [&](std::int64_t done, std::int64_t total) {
    EXPECT_GT(done, lastDone);
    lastDone = done;
    lastTotal = total;
  }));
  EXPECT_EQ(lastDone, static_cast<std::int64_t>(content_.size()) - 4);
  EXPECT_EQ(lastTotal, lastDone);
}

}  // namespace
}  // namespace ospry
