#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ContainerTestUtil.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {
namespace {

using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMultiClipWriter;

class ClipSplitterFile : public ::testing::Test {
protected:
  // Writes clipCount containers of 3 frames each and the multi-clip tables.
  void Write(int clipCount, std::uint8_t mode, bool withSection = false) {
    ends_.clear();
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    out.Write("launcher image in front");
    TMultiClipWriter multi(out);
    for (int i = 0; i < clipCount; ++i) {
      TContainerWriter w(out, i % 2 == 1);
      test::WriteSampleClip(w, 3, 3, 4, test::At(10, i, 0));
      ASSERT_TRUE(w.Finish());
      ends_.push_back(out.Position());
      multi.AddClip(test::SampleInfo("Camera " + std::to_string(i)), out.Position());
    }
    if (withSection) multi.AddSection(2, "VPlay.dll", "shared library");
    multi.SetMode(mode);
    multi.SetDescription("Two cameras");
    ASSERT_TRUE(multi.Finish());
    ASSERT_TRUE(out.Close());
  }
  void Patch(std::int64_t fromEnd, const std::string& bytes) {
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path_, content));
    content.replace(content.size() - static_cast<std::size_t>(fromEnd), bytes.size(), bytes);
    ASSERT_TRUE(WriteWholeFile(path_, content.data(), static_cast<std::int64_t>(content.size())));
  }
  static std::string I32(std::int32_t v) {
    std::string s(4, '\0');
    le::PutI32(reinterpret_cast<std::uint8_t*>(s.data()), v);
    return s;
  }
  test::TTempDir dir_;
  std::string path_ = dir_.File("multi.bin");
  std::vector<std::int64_t> ends_;
};

TEST_F(ClipSplitterFile, ReadsClipsInSyncMode) {
  Write(2, kModeSyncPlay);
  TClipSplitter splitter(path_, false);
  ASSERT_TRUE(splitter.Valid()) << splitter.Error();
  EXPECT_EQ(splitter.FileName(), path_);
  EXPECT_EQ(splitter.Mode(), kModeSyncPlay);
  EXPECT_EQ(MultiClipModeName(splitter.Mode()), "Sync play");
  EXPECT_EQ(splitter.Description(), "Two cameras");
  ASSERT_EQ(splitter.ClipCount(), 2);
  for (int i = 0; i < 2; ++i) {
    const auto& clip = splitter.Clips()[static_cast<std::size_t>(i)];
    EXPECT_EQ(clip.EndPosition, ends_[static_cast<std::size_t>(i)]);
    EXPECT_EQ(clip.Info.ChannelName, "Camera " + std::to_string(i));
    TClipReader reader(splitter.File(), clip.EndPosition, false);
    ASSERT_TRUE(reader.Valid()) << reader.Error();
    EXPECT_EQ(reader.ShortEntries(), i == 1);
    TFrameCheck check;
    EXPECT_TRUE(VerifyIndexFrames(splitter.File(), *reader.Index(), check));
  }
  std::uint32_t crc = 0;
  ASSERT_TRUE(TCrc::CalcFile(path_, 4, 0, crc));
  EXPECT_EQ(crc, splitter.FileChecksum());
}

TEST_F(ClipSplitterFile, ModesAndZeroClips) {
  const std::pair<std::uint8_t, const char*> modes[] = {{0, "Play list"}, {7, "Unknown"}};
  for (const auto& [mode, name] : modes) {
    Write(0, mode);
    TClipSplitter splitter(path_, false);
    ASSERT_TRUE(splitter.Valid()) << splitter.Error();
    EXPECT_EQ(splitter.ClipCount(), 0);
    EXPECT_EQ(splitter.Mode(), mode);
    EXPECT_EQ(MultiClipModeName(mode), name);
  }
}

TEST_F(ClipSplitterFile, SingleContainerOrMissingFileIsNotMultiClip) {
  {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    TContainerWriter w(out, false);
    test::WriteSampleClip(w, 3, 3);
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(out.Close());
  }
  EXPECT_FALSE(TClipSplitter(path_, false).Valid());
  EXPECT_FALSE(TClipSplitter(dir_.File("missing"), false).Valid());
}

// The magic field is at 14 bytes from the end: a length byte, then the text;
// the bytes past the text carry no meaning.
TEST_F(ClipSplitterFile, MagicMustBeExactlyQuern) {
  struct Case {
    std::string field;
    bool valid;
  } cases[] = {
      {std::string("\x05QUERN\xAA\xBB\xCC\xDD", 10), true},
      {std::string("\x06QUERNX\xBB\xCC\xDD", 10), false},
      {std::string("\x05QUERM\0\0\0\0", 10), false},
      {std::string("\x04QUERN\0\0\0\0", 10), false},
  };
  for (const auto& c : cases) {
    Write(1, 0);
    Patch(14, c.field);
    EXPECT_EQ(TClipSplitter(path_, false).Valid(), c.valid) << c.field.substr(1, 5);
  }
}

// From the end, with two clips: trailer 275 (clip count at 275), the last clip
// entry 499 (its end position at 283), the first entry 723, the section header
// 735, the section's descriptor 791 (its size at 739).
TEST_F(ClipSplitterFile, TablesThatDoNotFitMakeTheFileInvalid) {
  struct Case {
    const char* what;
    std::int64_t fromEnd;
    std::string bytes;
  } cases[] = {
      {"negative clip count", 275, I32(-1)},
      {"clip count beyond the file", 275, I32(0x7FFFFFFF)},
      {"clip count slightly beyond the file", 275, I32(40)},
      {"end position past the clip area", 283, std::string(8, '\x7F')},
      {"negative end position", 283, std::string(8, '\xFF')},
      {"section larger than the file", 739, I32(1 << 30)},
      {"negative section size", 739, I32(-2)},
  };
  for (const auto& c : cases) {
    Write(2, 0, true);
    ASSERT_TRUE(TClipSplitter(path_, false).Valid()) << c.what;
    Patch(c.fromEnd, c.bytes);
    TClipSplitter splitter(path_, false);
    EXPECT_FALSE(splitter.Valid()) << c.what;
    EXPECT_EQ(splitter.ClipCount(), 0) << c.what;
  }
}

TEST_F(ClipSplitterFile, SectionsAreExtractedOrKept) {
  Write(1, 0, true);
  TClipSplitter kept(path_, false);
  ASSERT_TRUE(kept.Valid()) << kept.Error();
  ASSERT_EQ(kept.Sections().size(), 1u);
  EXPECT_EQ(kept.Sections()[0].Name, "VPlay.dll");
  EXPECT_EQ(kept.SectionData(), std::vector<std::string>{"shared library"});
  TClipSplitter extracted(path_, true, dir_.Path());
  ASSERT_TRUE(extracted.Valid());
  std::string content;
  ASSERT_TRUE(ReadWholeFile(dir_.File("VPlay.dll"), content));
  EXPECT_EQ(content, "shared library");
}

}  // namespace
}  // namespace ospry
