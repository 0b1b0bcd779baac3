#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ContainerTestUtil.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {
namespace {

using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMemoryOutput;

// Little-endian bytes typed field by field from the record tables, to pin the
// writer to the format.
struct TBytes {
  std::string s;
  TBytes& U8(std::uint8_t v) { s.push_back(static_cast<char>(v)); return *this; }
  TBytes& I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return *this;
  }
  TBytes& I64(std::int64_t v) {
    for (int i = 0; i < 8; ++i) U8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i)));
    return *this;
  }
  TBytes& F64(double v) {
    std::int64_t bits;
    std::memcpy(&bits, &v, 8);
    return I64(bits);
  }
  TBytes& Raw(const std::string& text) { s += text; return *this; }
  TBytes& Zeros(int n) { s.append(static_cast<std::size_t>(n), '\0'); return *this; }
  // Length byte, characters, zeros to the field's width.
  TBytes& Text(int width, const std::string& text) {
    U8(static_cast<std::uint8_t>(text.size())).Raw(text);
    return Zeros(width - 1 - static_cast<int>(text.size()));
  }
  TBytes& Crc() { return I32(static_cast<std::int32_t>(CrcBytewise(s.data(), s.size()))); }
};

TEST(ContainerFormat, SmallestContainerIsExactlyTheTrailerOverAnEmptyIndex) {
  for (bool shortEntries : {false, true}) {
    TBytes expected;
    expected.Zeros(16).Zeros(12).I32(0).Raw(shortEntries ? "LUMENTAR" : "QUERN678").Crc();
    TMemoryOutput out;
    TContainerWriter w(out, shortEntries);
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(out.Bytes(), expected.s) << (shortEntries ? "LUMENTAR" : "QUERN678");
  }
}

TEST(ContainerFormat, WriterMatchesTheTablesByteForByte) {
  const double stamp = 46095.5, end = 46095.75;
  for (bool shortEntries : {false, true}) {
    TBytes expected;
    expected.Raw("PREFIX!");                           // other data in front: offsets are absolute
    expected.Raw("abc").I32(static_cast<std::int32_t>(CrcBytewise("abc", 3)));  // frame and its checksum
    expected.U8(2).U8(1).I32(3).F64(stamp);            // frame entry
    if (shortEntries) expected.I32(7); else expected.I64(7);
    expected.I32(1).I32(1).I32(0).I32(0).F64(stamp).F64(end).I32(0).I32(0);  // clip entry
    expected.Raw("HDR");                               // header data
    expected.U8(2).Zeros(3).I32(3);                    // header entry
    expected.Text(51, "Rec").Text(51, "").Text(21, "Cam").Text(51, "me").Text(26, "host").F64(1.5).F64(2.5);
    expected.I32(1).I32(1).I32(1).I32(1);              // index header
    expected.Raw("xyz").U8(2).Text(51, "VPlay.dll").I32(3);  // section 0: data, descriptor
    expected.U8(1).Zeros(11);                          // section header
    expected.Raw("d").I32(1).Raw(shortEntries ? "LUMENTAR" : "QUERN678").Crc();

    TMemoryOutput out;
    out.Write("PREFIX!");
    TContainerWriter w(out, shortEntries);
    w.AddFrame(2, 1, stamp, "abc");
    w.AddClipOver(0, 1, end);
    w.AddHeader(2, "HDR");
    TDvrInfo info;
    info.DvrName = "Rec";
    info.ChannelName = "Cam";
    info.UserName = "me";
    info.HostName = "host";
    info.StartTime = 1.5;
    info.EndTime = 2.5;
    w.AddDvrInfo(info);
    w.AddSection(2, "VPlay.dll", "xyz");
    w.SetDescription("d");
    ASSERT_TRUE(w.Finish());
    EXPECT_EQ(out.Bytes(), expected.s) << (shortEntries ? "LUMENTAR" : "QUERN678");
  }
}

class ClipReaderFile : public ::testing::Test {
protected:
  // Writes a container behind prefixBytes zero bytes (left as a hole).
  template <typename Fill>
  void Write(bool shortEntries, std::int64_t prefixBytes, Fill fill) {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    out.WriteZeros(prefixBytes);
    TContainerWriter w(out, shortEntries);
    fill(w);
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(out.Close());
    ASSERT_TRUE(file_.Open(path_));
  }
  void Patch(std::int64_t fromEnd, const std::string& bytes) {
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path_, content));
    content.replace(content.size() - static_cast<std::size_t>(fromEnd), bytes.size(), bytes);
    ASSERT_TRUE(WriteWholeFile(path_, content.data(), static_cast<std::int64_t>(content.size())));
    ASSERT_TRUE(file_.Open(path_));
  }
  test::TTempDir dir_;
  std::string path_ = dir_.File("clip.bin");
  TReadFile file_;
};

TEST_F(ClipReaderFile, ReadsBothVariants) {
  for (bool shortEntries : {false, true}) {
    Write(shortEntries, 0, [](TContainerWriter& w) {
      test::WriteSampleClip(w, 20, 8);
      w.SetDescription("Front door");
    });
    TClipReader reader(file_, file_.Size(), false);
    ASSERT_TRUE(reader.Valid()) << reader.Error();
    EXPECT_EQ(reader.ShortEntries(), shortEntries);
    EXPECT_EQ(reader.Description(), "Front door");
    ASSERT_NE(reader.Index(), nullptr);
    EXPECT_EQ(reader.Index()->FrameCount(), 20);
    EXPECT_EQ(reader.Index()->ClipCount(), 3);
    EXPECT_EQ(reader.Index()->Clip(2).FrameCount, 4);
    // Without sections the index ends right below the section header.
    EXPECT_EQ(reader.Index()->BlockEnd(), file_.Size() - 28 - 10);
    TFrameCheck check;
    EXPECT_TRUE(VerifyIndexFrames(file_, *reader.Index(), check));
    auto index = reader.TakeIndex();
    EXPECT_NE(index, nullptr);
    EXPECT_EQ(reader.Index(), nullptr);
  }
}

TEST_F(ClipReaderFile, ContainerBehindOtherDataCountsOffsetsFromTheFileStart) {
  const std::int64_t prefix = 9039360;
  Write(false, prefix, [](TContainerWriter& w) { test::WriteSampleClip(w, 12, 12); });
  TClipReader reader(file_, file_.Size(), false);
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  EXPECT_EQ(reader.Index()->Frame(0).Offset, prefix);
  std::uint32_t crc = 0;
  ASSERT_TRUE(TCrc::CalcFile(path_, 4, 0, crc));
  EXPECT_EQ(crc, reader.FileChecksum());
  TFrameCheck check;
  EXPECT_TRUE(VerifyIndexFrames(file_, *reader.Index(), check));
}

TEST_F(ClipReaderFile, ContainerEndingInsideTheFileIsReadFromItsEnd) {
  std::int64_t end = 0;
  {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    TContainerWriter w(out, false);
    test::WriteSampleClip(w, 5, 5);
    ASSERT_TRUE(w.Finish());
    end = out.Position();
    out.Write("whatever follows the container");
    ASSERT_TRUE(out.Close());
  }
  ASSERT_TRUE(file_.Open(path_));
  EXPECT_FALSE(TClipReader(file_, file_.Size(), false).Valid());
  TClipReader reader(file_, end, false);
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  EXPECT_EQ(reader.Index()->FrameCount(), 5);
  EXPECT_FALSE(TClipReader(file_, file_.Size() + 1, false).Valid());
}

TEST_F(ClipReaderFile, ShortOrForeignFilesAreInvalid) {
  ASSERT_TRUE(WriteWholeFile(path_, "QUERN678", 8));
  ASSERT_TRUE(file_.Open(path_));
  EXPECT_FALSE(TClipReader(file_, file_.Size(), false).Valid());
  TReadFile closed;
  EXPECT_FALSE(TClipReader(closed, 100, false).Valid());
}

// Layout of the container below, measured back from its end: checksum 4,
// magic 12, description length 16, section header 28, descriptor 84 (size at
// 32), section data 94, index header 110 (counts at 110, 106, 102, 98),
// recorder description 326, header entry 334 (size at 330).
TEST_F(ClipReaderFile, DamagedTrailerOrIndexMakesTheContainerInvalid) {
  auto i32 = [](std::int32_t v) {
    std::string s(4, '\0');
    le::PutI32(reinterpret_cast<std::uint8_t*>(s.data()), v);
    return s;
  };
  struct Case {
    const char* what;
    std::int64_t fromEnd;
    std::string bytes;
  } cases[] = {
      {"other magic", 12, "QUERN679"},
      {"negative description length", 16, i32(-1)},
      {"description longer than the file", 16, i32(1 << 20)},
      {"section count beyond the file", 28, std::string(1, '\xFF')},
      {"negative section size", 32, i32(-5)},
      {"section larger than the file", 32, i32(0x7FFFFFFF)},
      {"negative frame count", 110, i32(-1)},
      {"frame count beyond the file", 110, i32(0x7FFFFFFF)},
      {"clip count beyond the file", 106, i32(1 << 26)},
      {"header count beyond the file", 102, i32(0x7FFFFFFF)},
      {"recorder count beyond the file", 98, i32(1 << 24)},
      {"negative header size", 330, i32(-1)},
      {"header larger than the file", 330, i32(0x7FFFFFFF)},
  };
  for (const auto& c : cases) {
    Write(false, 0, [](TContainerWriter& w) {
      w.AddFrame(2, 1, 1.0, "frame one");
      w.AddFrame(2, 3, 2.0, "frame two");
      w.AddClipOver(0, 2, 2.0);
      w.AddHeader(2, "HDR!");
      w.AddDvrInfo(test::SampleInfo());
      w.AddSection(2, "lib.so", "0123456789");
    });
    ASSERT_TRUE(TClipReader(file_, file_.Size(), false).Valid()) << c.what;
    Patch(c.fromEnd, c.bytes);
    TClipReader reader(file_, file_.Size(), false);
    EXPECT_FALSE(reader.Valid()) << c.what;
    EXPECT_EQ(reader.Index(), nullptr) << c.what;
    EXPECT_FALSE(reader.Error().empty()) << c.what;
  }
}

TEST_F(ClipReaderFile, SectionsAreKeptInMemoryWithoutExtraction) {
  Write(false, 0, [](TContainerWriter& w) {
    w.AddSection(2, "VPlay.dll", "library bytes");
    w.AddSection(7, "second", "");
    w.AddSection(9, "third", "3");
  });
  TClipReader reader(file_, file_.Size(), false, dir_.Path());
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  ASSERT_EQ(reader.Sections().size(), 3u);
  EXPECT_EQ(reader.SectionHeader()[0], 3);
  EXPECT_EQ(reader.Sections()[0].Name, "VPlay.dll");
  EXPECT_EQ(reader.Sections()[0].Kind, 2);
  EXPECT_EQ(reader.Sections()[2].Name, "third");
  EXPECT_EQ(reader.SectionData(), (std::vector<std::string>{"library bytes", "", "3"}));
  EXPECT_FALSE(FileExists(dir_.File("VPlay.dll")));
}

TEST_F(ClipReaderFile, ExtractionReplacesOlderCopiesAndWritesOnlyPlainNames) {
  const std::string out = dir_.File("out/");
  ASSERT_TRUE(CreateDirectories(out));
  ASSERT_TRUE(WriteWholeFile(out + "VPlay.dll", "old copy", 8));
  Write(false, 0, [](TContainerWriter& w) {
    w.AddSection(2, "VPlay.dll", "new library");
    w.AddSection(2, "../escaped", "x");
    w.AddSection(2, "sub/inner", "x");
    w.AddSection(2, "..", "x");
    w.AddSection(2, "", "x");
    w.AddSection(2, "empty.bin", "");
  });
  TClipReader reader(file_, file_.Size(), true, out);
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  EXPECT_TRUE(reader.SectionData().empty());
  std::string content;
  ASSERT_TRUE(ReadWholeFile(out + "VPlay.dll", content));
  EXPECT_EQ(content, "new library");
  ASSERT_TRUE(ReadWholeFile(out + "empty.bin", content));
  EXPECT_EQ(content, "");
  EXPECT_FALSE(FileExists(dir_.File("escaped")));
  EXPECT_FALSE(FileExists(out + "sub"));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(out)) ++entries;
  EXPECT_EQ(entries, 2u);  // no partial copies left behind
}

TEST_F(ClipReaderFile, SectionThatCannotBeWrittenIsSkipped) {
  Write(false, 0, [](TContainerWriter& w) {
    w.AddSection(2, "VPlay.dll", "library");
    test::WriteSampleClip(w, 3, 3);
  });
  TClipReader reader(file_, file_.Size(), true, dir_.File("no/such/folder"));
  EXPECT_TRUE(reader.Valid()) << reader.Error();
  EXPECT_EQ(reader.Index()->FrameCount(), 3);
}

TEST_F(ClipReaderFile, FrameCheckStopsAtTheFirstCorruptFrameTheLastOneIncluded) {
  std::vector<std::int64_t> offsets;
  Write(false, 0, [&](TContainerWriter& w) {
    test::WriteSampleClip(w, 6, 6);
    for (const auto& f : w.Frames()) offsets.push_back(f.Offset);
  });
  for (int corrupt : {5, 2}) {
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path_, content));
    content[static_cast<std::size_t>(offsets[static_cast<std::size_t>(corrupt)] + 1)] ^= 0x20;
    ASSERT_TRUE(WriteWholeFile(path_, content.data(), static_cast<std::int64_t>(content.size())));
    ASSERT_TRUE(file_.Open(path_));
    TClipReader reader(file_, file_.Size(), false);
    ASSERT_TRUE(reader.Valid());
    TFrameCheck check;
    EXPECT_FALSE(VerifyIndexFrames(file_, *reader.Index(), check));
    EXPECT_TRUE(check.Corrupt);
    EXPECT_EQ(check.FrameOffset, offsets[static_cast<std::size_t>(corrupt)]);
    EXPECT_EQ(check.FrameSize, reader.Index()->Frame(corrupt).DataSize);
  }
}

TEST_F(ClipReaderFile, FrameOutsideTheFileIsCorrupt) {
  const std::pair<std::int64_t, std::int32_t> entries[] = {{1 << 30, 10}, {-4, 2}, {0, -1}, {0, 0x7FFFFFF0}};
  for (const auto& [offset, size] : entries) {
    Write(false, 0, [&](TContainerWriter& w) {
      w.AddFrame(2, 1, 1.0, "good");
      w.AddFrameEntry({2, 3, size, 2.0, offset});
    });
    TClipReader reader(file_, file_.Size(), false);
    ASSERT_TRUE(reader.Valid());
    TFrameCheck check;
    EXPECT_FALSE(VerifyIndexFrames(file_, *reader.Index(), check));
    EXPECT_EQ(check.FrameOffset, offset);
    EXPECT_EQ(check.FrameSize, size);
  }
}

// A file beyond 2 GiB (sparse, so the test writes little): positions stay
// 64-bit in the index, the reader and the frame report.
TEST_F(ClipReaderFile, FilesBeyondTwoGibibytesUse64BitPositions) {
  const std::int64_t prefix = (std::int64_t{1} << 31) + 12345;
  std::int64_t lastOffset = 0;
  Write(false, prefix, [&](TContainerWriter& w) {
    test::WriteSampleClip(w, 4, 4);
    lastOffset = w.Frames().back().Offset;
  });
  TClipReader reader(file_, file_.Size(), false);
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  EXPECT_EQ(reader.Index()->Frame(0).Offset, prefix);
  TFrameCheck check;
  EXPECT_TRUE(VerifyIndexFrames(file_, *reader.Index(), check));
  std::string byte(1, '\0');
  ASSERT_EQ(file_.PositionalRead(lastOffset, byte.data(), 1), 1);
  byte[0] ^= 1;
  {
    FILE* f = std::fopen(path_.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::fseeko(f, lastOffset, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(byte.data(), 1, 1, f), 1u);
    std::fclose(f);
  }
  TReadFile again(path_);
  TClipReader changed(again, again.Size(), false);
  ASSERT_TRUE(changed.Valid());
  EXPECT_FALSE(VerifyIndexFrames(again, *changed.Index(), check));
  EXPECT_EQ(check.FrameOffset, lastOffset);
  EXPECT_GT(check.FrameOffset, std::int64_t{1} << 31);
}

}  // namespace
}  // namespace ospry
