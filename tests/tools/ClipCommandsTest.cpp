// ospry-clip info, verify and snapshot, run as the user runs them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "../container/ContainerTestUtil.h"
#include "ClipRun.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/vendor/VendorClip.h"
#include "tools/writer/vendor/VendorMedia.h"

namespace ospry {
namespace {

using nlohmann::json;
using writer::TContainerWriter;
using writer::TFileOutput;
using writer::TMultiClipWriter;

using test::LittleEndian32;
using test::TRun;

class ClipCommands : public ::testing::Test {
protected:
  TRun Run(const std::string& arguments) { return test::RunClip(dir_, arguments); }
  // A package: other bytes in front of a container with a section.
  std::string WritePackage(bool shortEntries = false) {
    const std::string path = dir_.File("package.bin");
    TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    out.Write("launcher image bytes");
    TContainerWriter w(out, shortEntries);
    test::WriteSampleClip(w, 10, 6);
    w.AddSection(2, "VPlay.dll", "library");
    w.SetDescription("Gate camera");
    EXPECT_TRUE(w.Finish());
    EXPECT_TRUE(out.Close());
    return path;
  }
  std::string WriteMulti() {
    const std::string path = dir_.File("multi.bin");
    TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    TMultiClipWriter multi(out);
    for (int i = 0; i < 2; ++i) {
      TContainerWriter w(out, false);
      test::WriteSampleClip(w, 4, 4);
      EXPECT_TRUE(w.Finish());
      multi.AddClip(test::SampleInfo("Camera " + std::to_string(i)), out.Position());
    }
    multi.SetMode(1);
    multi.SetDescription("Both gates");
    EXPECT_TRUE(multi.Finish());
    EXPECT_TRUE(out.Close());
    return path;
  }
  // A clip file of stream kind 2: 10 pictures of 64 x 48, a key frame every 5.
  std::string WriteVendorClip() {
    writer::TVendorMediaOptions options;
    options.frameCount = 10;
    options.keyInterval = 5;
    const writer::TVendorStream stream = writer::MakeVendorStream(options);
    EXPECT_EQ(stream.frames.size(), 10u);
    TCalendarTime calendar;
    calendar.year = 2026;
    calendar.month = 12;
    calendar.day = 11;
    calendar.hour = 9;
    const std::string path = dir_.File("vendor.clip");
    TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    TContainerWriter w(out, false);
    EXPECT_TRUE(writer::AddVendorClips(w, stream, EncodeDateTime(calendar), {5, 5}));
    EXPECT_TRUE(w.Finish());
    EXPECT_TRUE(out.Close());
    return path;
  }
  test::TTempDir dir_;
};

TEST_F(ClipCommands, InfoDescribesAContainer) {
  const std::string path = WritePackage(true);
  TRun run = Run("info " + path);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Clip container file", ": LUMENTAR", "Description: \"Gate camera\"",
                           "[0] kind 2, \"VPlay.dll\", 7 bytes", "Clips: 2",
                           "[0] 2026/03/14 10:00:00.000 - 2026/03/14 10:00:00.200, 6 frames",
                           "channel \"Gate\"", "[0] kind 2, 40 bytes", "Frames: 10", "kind 2, type 1: 3",
                           "kind 2, type 3: 7"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;

  run = Run("info --json " + path);
  ASSERT_EQ(run.status, 0) << run.err;
  const json d = json::parse(run.out);
  const json& c = d["containers"][0];
  EXPECT_EQ(c["variant"], "LUMENTAR");
  EXPECT_EQ(c["frameCount"], 10);
  EXPECT_EQ(c["clips"][1]["frameCount"], 4);
  EXPECT_EQ(c["recorders"][0]["user"], "operator");
  EXPECT_EQ(c["sections"][0]["name"], "VPlay.dll");
  EXPECT_FALSE(d.contains("multiClip"));
}

TEST_F(ClipCommands, InfoDescribesAMultiClipFile) {
  const TRun run = Run("info --json " + WriteMulti());
  ASSERT_EQ(run.status, 0) << run.err;
  const json d = json::parse(run.out);
  EXPECT_EQ(d["multiClip"]["clipCount"], 2);
  EXPECT_EQ(d["multiClip"]["modeName"], "Sync play");
  EXPECT_EQ(d["multiClip"]["description"], "Both gates");
  EXPECT_EQ(d["multiClip"]["clips"][1]["recorder"]["channel"], "Camera 1");
  ASSERT_EQ(d["containers"].size(), 2u);
  EXPECT_EQ(d["containers"][1]["valid"], true);
}

TEST_F(ClipCommands, InfoRejectsOtherFiles) {
  const std::string path = dir_.File("other.bin");
  ASSERT_TRUE(WriteWholeFile(path, "not a clip at all", 17));
  for (const std::string& target : {path, dir_.File("missing.bin")}) {
    const TRun run = Run("info " + target);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(run.err.empty());
  }
}

TEST_F(ClipCommands, VerifyReportsTheDialogTexts) {
  const std::string path = WritePackage();
  TRun run = Run("verify " + path);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Frames: Frames authenticated\nFile: File authenticated\nAuthentication successful\n");

  std::string content;
  ASSERT_TRUE(ReadWholeFile(path, content));
  content[3] ^= 0x40;  // inside the launcher image
  ASSERT_TRUE(WriteWholeFile(path, content.data(), static_cast<std::int64_t>(content.size())));
  run = Run("verify --json " + path);
  EXPECT_EQ(run.status, 1);
  const json d = json::parse(run.out);
  EXPECT_EQ(d["frames"], "Frames authenticated");
  EXPECT_EQ(d["fileStatus"], "File error");
  EXPECT_EQ(d["messages"], json::array({"File corrupted"}));
  EXPECT_EQ(d["successful"], false);
}

TEST_F(ClipCommands, VerifyOfAFileWithoutChecksums) {
  const std::string path = dir_.File("other.bin");
  ASSERT_TRUE(WriteWholeFile(path, "raw stream bytes", 16));
  const TRun run = Run("verify " + path);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "Frames: No frame authentication\nFile: No file authentication\nNo files to authenticate\n");
}

// The vendor decoder returns pictures on the library's threads, after the
// frames were fed: the command must wait for them.
TEST_F(ClipCommands, SnapshotOfAVendorStreamClip) {
  const std::string path = WriteVendorClip();
  for (const int frame : {0, 7}) {
    SCOPED_TRACE(frame);
    const std::string bitmapPath = dir_.File("picture.bmp");
    const TRun run = Run("snapshot --json --frame " + std::to_string(frame) + " -o " + bitmapPath + " " + path);
    ASSERT_EQ(run.status, 0) << run.err;
    const json d = json::parse(run.out);
    EXPECT_EQ(d["width"], 64);
    EXPECT_EQ(d["height"], 48);
    std::string bitmap;
    ASSERT_TRUE(ReadWholeFile(bitmapPath, bitmap));
    ASSERT_EQ(bitmap.size(), 54u + 64u * 3u * 48u);
    EXPECT_EQ(bitmap.substr(0, 2), "BM");
    EXPECT_EQ(LittleEndian32(bitmap, 18), 64u);
    EXPECT_EQ(LittleEndian32(bitmap, 22), 48u);
    ASSERT_TRUE(DeleteFilePath(bitmapPath));
  }
}

}  // namespace
}  // namespace ospry
