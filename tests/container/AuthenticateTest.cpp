#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ContainerTestUtil.h"
#include "viewer/container/U_Authenticate.h"
#include "viewer/container/U_Crc.h"
#include "viewer/container/U_LittleEndian.h"

namespace ospry {
namespace {

using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMultiClipWriter;

class Authenticate : public ::testing::Test {
protected:
  // A small package: a launcher image, then a container with one section.
  void WritePackage() {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    out.Write(test::FrameBytes(99, 300));
    TContainerWriter w(out, false);
    test::WriteSampleClip(w, 6, 3);
    for (const auto& f : w.Frames()) frameOffsets_.push_back(f.Offset);
    w.AddSection(2, "VPlay.dll", "library");
    w.SetDescription("Gate camera");
    ASSERT_TRUE(w.Finish());
    ASSERT_TRUE(out.Close());
    ASSERT_TRUE(ReadWholeFile(path_, content_));
  }
  void WriteMulti(int clips) {
    TFileOutput out;
    ASSERT_TRUE(out.Create(path_));
    TMultiClipWriter multi(out);
    for (int i = 0; i < clips; ++i) {
      TContainerWriter w(out, false);
      test::WriteSampleClip(w, 4, 4);
      frameOffsets_.push_back(w.Frames().back().Offset);
      ASSERT_TRUE(w.Finish());
      multi.AddClip(test::SampleInfo(), out.Position());
    }
    multi.SetMode(kModeSyncPlay);
    ASSERT_TRUE(multi.Finish());
    ASSERT_TRUE(out.Close());
    ASSERT_TRUE(ReadWholeFile(path_, content_));
  }
  // Sets the byte at position to its original value with one bit changed,
  // in place (rewriting whole files would make the every-byte test slow).
  void Flip(std::int64_t position) { Put(position, static_cast<char>(content_[static_cast<std::size_t>(position)] ^ 0x01)); }
  void Restore(std::int64_t position) { Put(position, content_[static_cast<std::size_t>(position)]); }
  void Put(std::int64_t position, char byte) {
    std::FILE* f = std::fopen(path_.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::fseeko(f, position, SEEK_SET), 0);
    ASSERT_EQ(std::fputc(byte, f), static_cast<unsigned char>(byte));
    ASSERT_EQ(std::fclose(f), 0);
  }
  test::TTempDir dir_;
  std::string path_ = dir_.File("package.bin");
  std::string content_;
  std::vector<std::int64_t> frameOffsets_;
};

TEST_F(Authenticate, IntactPackageIsAuthenticated) {
  WritePackage();
  const auto report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kFramesAuthenticated);
  EXPECT_EQ(report.FileStatus, kFileAuthenticated);
  EXPECT_EQ(report.Result, kAuthenticationSuccessful);
  EXPECT_EQ(report.ChecksumKind, TFileChecksumKind::Container);
  EXPECT_EQ(report.CheckedSources, 1);
  EXPECT_TRUE(report.Successful());
}

TEST_F(Authenticate, AnySingleChangedByteFails) {
  WritePackage();
  for (std::size_t i = 0; i < content_.size(); ++i) {
    Flip(static_cast<std::int64_t>(i));
    const auto report = AuthenticateFile(path_);
    ASSERT_FALSE(report.Successful()) << "byte " << i << " of " << content_.size();
    Restore(static_cast<std::int64_t>(i));
  }
}

TEST_F(Authenticate, ChangedFrameOrLauncherByte) {
  WritePackage();
  Flip(frameOffsets_[4] + 2);
  auto report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kFrameError);
  EXPECT_EQ(report.FileStatus, kFileError);
  EXPECT_EQ(report.Result, "Frame at " + std::to_string(frameOffsets_[4]) + " corrupted\r\nFile corrupted");

  Restore(frameOffsets_[4] + 2);
  Flip(10);
  report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kFramesAuthenticated);
  EXPECT_EQ(report.FileStatus, kFileError);
  EXPECT_EQ(report.Result, kFileCorrupted);
}

TEST_F(Authenticate, OtherFilesWithAndWithoutTrailingChecksum) {
  std::string other = test::FrameBytes(5, 1000);
  ASSERT_TRUE(WriteWholeFile(path_, other.data(), static_cast<std::int64_t>(other.size())));
  auto report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kNoFrameAuthentication);
  EXPECT_EQ(report.FileStatus, kNoFileAuthentication);
  EXPECT_EQ(report.Result, kNoFilesToAuthenticate);

  other += "LUMENTAR";
  std::uint8_t crc[4];
  le::PutU32(crc, TCrc::CalcString(other));
  other.append(reinterpret_cast<const char*>(crc), 4);
  ASSERT_TRUE(WriteWholeFile(path_, other.data(), static_cast<std::int64_t>(other.size())));
  report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kNoFrameAuthentication);
  EXPECT_EQ(report.FileStatus, kFileAuthenticated);
  EXPECT_EQ(report.ChecksumKind, TFileChecksumKind::TrailingMagic);
  EXPECT_EQ(report.Result, kAuthenticationSuccessful);

  report = AuthenticateFile(dir_.File("missing"));
  EXPECT_EQ(report.Result, kNoFilesToAuthenticate);
}

TEST_F(Authenticate, MultiClipFileChecksEveryClip) {
  WriteMulti(2);
  auto report = AuthenticateFile(path_);
  EXPECT_EQ(report.CheckedSources, 2);
  EXPECT_EQ(report.ChecksumKind, TFileChecksumKind::MultiClip);
  EXPECT_EQ(report.Result, kAuthenticationSuccessful);

  Flip(frameOffsets_[1]);
  report = AuthenticateFile(path_);
  EXPECT_EQ(report.CorruptFrames, std::vector<std::int64_t>{frameOffsets_[1]});
  EXPECT_EQ(report.Messages,
            (std::vector<std::string>{"Frame at " + std::to_string(frameOffsets_[1]) + " corrupted", "File corrupted"}));
}

TEST_F(Authenticate, MultiClipFileWithoutClipsHasNothingToAuthenticate) {
  WriteMulti(0);
  const auto report = AuthenticateFile(path_);
  EXPECT_EQ(report.FrameStatus, kNoFrameAuthentication);
  EXPECT_EQ(report.FileStatus, kFileAuthenticated);
  EXPECT_EQ(report.Result, kNoFilesToAuthenticate);
}

}  // namespace
}  // namespace ospry
