#include <gtest/gtest.h>

#include "platform/Process.h"
#include "tests/launcher/TestSupport.h"
#include "tools/pack/Pack.h"
#include "tools/writer/ClipWriter.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_Crc.h"

namespace ospry::pack {
namespace {

using launchertest::ReadFileText;
using launchertest::TPrivateTempTest;
namespace fs = std::filesystem;

constexpr TDateTime kStart = 46000.5;  // mid-2025, noon
constexpr TDateTime kSecond = 1.0 / 86400.0;

TDvrInfo Recorder(const std::string& channel) {
  TDvrInfo info;
  info.DvrName = "Yard recorder";
  info.ChannelName = channel;
  info.UserName = "night shift";
  info.HostName = "10.0.0.7";
  info.StartTime = kStart;
  info.EndTime = kStart + 3 * kSecond;
  return info;
}

// A small clip: a stream header, a key frame and two more frames, a recorder
// record and one section, optionally written behind some leading bytes.
void WriteClip(writer::TOutput& out, const std::string& channel, bool shortEntries) {
  writer::TContainerWriter clip(out, shortEntries);
  clip.AddHeader(2, std::string(40, '\x11'));
  clip.AddFrame(2, 1, kStart, "key frame of " + channel);
  clip.AddFrame(2, 0, kStart + kSecond, "second frame");
  clip.AddFrame(2, 3, kStart + 2 * kSecond, std::string(1000, '\x42'));
  clip.AddClipOver(0, 3, kStart + 3 * kSecond);
  clip.AddDvrInfo(Recorder(channel));
  clip.AddSection(2, "libVPlay.so", "vendor library bytes");
  clip.SetDescription("as exported");
  ASSERT_TRUE(clip.Finish());
}

std::string WriteContainerFile(const fs::path& path, bool shortEntries = false) {
  writer::TFileOutput out;
  EXPECT_TRUE(out.Create(path.string()));
  out.Write(std::string(333, 'p'));  // an earlier package's launcher, say
  WriteClip(out, "Gate", shortEntries);
  EXPECT_TRUE(out.Close());
  return path.string();
}

std::string WriteMultiClipFile(const fs::path& path, std::uint8_t mode) {
  writer::TFileOutput out;
  EXPECT_TRUE(out.Create(path.string()));
  writer::TMultiClipWriter multi(out);
  for (const char* channel : {"Gate", "Car park"}) {
    WriteClip(out, channel, false);
    multi.AddClip(Recorder(channel), out.Position());
  }
  multi.SetMode(mode);
  multi.SetDescription("two cameras");
  EXPECT_TRUE(multi.Finish());
  EXPECT_TRUE(out.Close());
  return path.string();
}

// Every check a viewer does on a package: frames, file checksum, and the
// container still readable from the package's end.
void ExpectAuthentic(const TReadFile& file, const TClipReader& reader) {
  ASSERT_TRUE(reader.Valid()) << reader.Error();
  TFrameCheck failure;
  EXPECT_TRUE(VerifyIndexFrames(file, *reader.Index(), failure)) << "frame at " << failure.FrameOffset;
}

std::uint32_t StoredFileChecksum(const std::string& bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[bytes.size() - 4 + i])) << (8 * i);
  return v;
}

void ExpectPackageChecksum(const std::string& package) {
  const std::string bytes = ReadFileText(package);
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(TCrc::CalcBuffer(bytes.data(), bytes.size() - 4), StoredFileChecksum(bytes));
}

void ExpectClipVerifies(const std::string& package) {
#ifdef OSPRY_CLIP_TOOL
  TProcess verify;
  ASSERT_TRUE(verify.Start(OSPRY_CLIP_TOOL, "verify \"" + package + "\"", ""));
  EXPECT_EQ(verify.WaitForExit(), 0) << "ospry-clip verify " << package;
#else
  (void)package;
#endif
}

class PackTest : public TPrivateTempTest {
protected:
  std::string Launcher() const { return OSPRY_TEST_PACKAGE; }
  std::string Output() const { return (work_ / "out dir" / "Gate package").string(); }
  void SetUp() override {
    TPrivateTempTest::SetUp();
    fs::create_directories(work_ / "out dir");
  }
};

TEST_F(PackTest, ContainerIsRebasedBehindTheLauncher) {
  for (bool shortEntries : {false, true}) {
    SCOPED_TRACE(shortEntries ? "LUMENTAR" : "QUERN678");
    const std::string input = WriteContainerFile(work_ / "gate.clip", shortEntries);
    TReadFile inputFile(input);
    TClipReader original(inputFile, inputFile.Size(), false);
    ASSERT_TRUE(original.Valid());

    std::string error;
    ASSERT_TRUE(PackClipFile({Launcher(), input, Output(), "Gate, night of the 4th", {}}, error)) << error;

    const std::string launcher = ReadFileText(Launcher());
    const std::string package = ReadFileText(Output());
    ASSERT_GT(package.size(), launcher.size());
    EXPECT_EQ(package.compare(0, launcher.size(), launcher), 0) << "the launcher's image comes first, unchanged";
    EXPECT_TRUE(fs::status(Output()).permissions() != fs::perms::none &&
                (fs::status(Output()).permissions() & fs::perms::owner_exec) != fs::perms::none);

    TReadFile file(Output());
    TClipReader packed(file, file.Size(), false);
    ExpectAuthentic(file, packed);
    ExpectPackageChecksum(Output());
    ExpectClipVerifies(Output());
    EXPECT_EQ(packed.ShortEntries(), shortEntries);
    EXPECT_EQ(packed.Description(), "Gate, night of the 4th");
    const TIndexParser& index = *packed.Index();
    ASSERT_EQ(index.FrameCount(), 3);
    EXPECT_EQ(index.Frame(0).Offset, static_cast<std::int64_t>(launcher.size()));
    const std::string inputBytes = ReadFileText(input);
    for (std::int32_t i = 0; i < 3; ++i) {
      const TFrameEntry& a = original.Index()->Frame(i);
      const TFrameEntry& b = index.Frame(i);
      EXPECT_EQ(package.substr(b.Offset, b.DataSize), inputBytes.substr(a.Offset, a.DataSize));
      EXPECT_EQ(b.Stamp, a.Stamp);
      EXPECT_EQ(b.FrameType, a.FrameType);
    }
    EXPECT_EQ(index.ClipCount(), 1);
    ASSERT_EQ(index.DvrInfoCount(), 1);
    EXPECT_EQ(index.DvrInfo(0).ChannelName, "Gate");
    std::string header;
    EXPECT_TRUE(index.GetHeaderData(2, header));
    EXPECT_EQ(header, std::string(40, '\x11'));
    ASSERT_EQ(packed.Sections().size(), 1u);
    EXPECT_EQ(packed.Sections()[0].Name, "libVPlay.so");
    EXPECT_EQ(packed.SectionData()[0], "vendor library bytes");
  }
}

TEST_F(PackTest, MultiClipFileKeepsItsClipsInEitherMode) {
  struct TCase {
    const char* what;
    std::uint8_t storedMode;
    std::optional<std::uint8_t> modeOption;
    std::uint8_t expectedMode;
  };
  const TCase cases[] = {
      {"play list kept", kModePlayList, std::nullopt, kModePlayList},
      {"sync kept", kModeSyncPlay, std::nullopt, kModeSyncPlay},
      {"play list made sync", kModePlayList, kModeSyncPlay, kModeSyncPlay},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string input = WriteMultiClipFile(work_ / "two.clips", c.storedMode);
    std::string error;
    ASSERT_TRUE(PackClipFile({Launcher(), input, Output(), "Both cameras", c.modeOption}, error)) << error;

    TClipSplitter splitter(Output(), false);
    ASSERT_TRUE(splitter.Valid()) << splitter.Error();
    EXPECT_EQ(splitter.Mode(), c.expectedMode);
    EXPECT_EQ(splitter.Description(), "Both cameras");
    ASSERT_EQ(splitter.ClipCount(), 2);
    EXPECT_EQ(splitter.Clips()[1].Info.ChannelName, "Car park");
    for (const TMultiClipEntry& entry : splitter.Clips()) {
      TClipReader reader(splitter.File(), entry.EndPosition, false);
      ExpectAuthentic(splitter.File(), reader);
      EXPECT_GE(reader.Index()->Frame(0).Offset, FileSize(Launcher()));
    }
    ExpectPackageChecksum(Output());
    ExpectClipVerifies(Output());
  }
}

// Failures leave nothing behind: no output, no temporary file beside it.
TEST_F(PackTest, ErrorsLeaveNoOutputBehind) {
  const std::string good = WriteContainerFile(work_ / "good.clip");
  const fs::path notAClip = work_ / "notes.txt";
  std::ofstream(notAClip) << "just some text, long enough to hold a trailer's worth of bytes";
  // One flipped byte in the last frame's data.
  const fs::path corrupt = work_ / "corrupt.clip";
  {
    std::string bytes = ReadFileText(good);
    TReadFile file(good);
    TClipReader reader(file, file.Size(), false);
    bytes[static_cast<std::size_t>(reader.Index()->Frame(2).Offset + 10)] ^= 0x01;
    std::ofstream(corrupt, std::ios::binary) << bytes;
  }
  struct TCase {
    const char* what;
    TPackOptions options;
    const char* messagePart;
  };
  const TCase cases[] = {
      {"missing input", {Launcher(), (work_ / "nope.clip").string(), Output(), {}, {}}, "cannot open"},
      {"not a clip", {Launcher(), notAClip.string(), Output(), {}, {}}, "neither"},
      {"corrupt frame", {Launcher(), corrupt.string(), Output(), {}, {}}, "checksum"},
      {"missing launcher", {(work_ / "no-launcher").string(), good, Output(), {}, {}}, "launcher"},
      {"mode for one clip", {Launcher(), good, Output(), {}, kModeSyncPlay}, "--mode"},
      {"output folder missing", {Launcher(), good, (work_ / "no dir" / "p").string(), {}, {}}, "cannot create"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(PackClipFile(c.options, error));
    EXPECT_NE(error.find(c.messagePart), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(work_ / "out dir"));
  }
}

TEST_F(PackTest, ToolExitsNonZeroOnErrorsAndWritesAPackageThatRuns) {
  const std::string input = WriteContainerFile(work_ / "gate.clip");
  {
    TProcess failing;
    ASSERT_TRUE(failing.Start(OSPRY_PACK_TOOL, "\"" + (work_ / "nope.clip").string() + "\" -o \"" + Output() + "\"", ""));
    EXPECT_NE(failing.WaitForExit(), 0);
    EXPECT_FALSE(fs::exists(Output()));
  }
  TProcess pack;
  ASSERT_TRUE(pack.Start(OSPRY_PACK_TOOL, "\"" + input + "\" -o \"" + Output() + "\" --launcher \"" + Launcher() +
                                              "\" --description \"Gate camera\"",
                         ""));
  ASSERT_EQ(pack.WaitForExit(), 0);

  // The package is a launcher: run, it starts the viewer with its own path.
  TProcess package;
  ASSERT_TRUE(package.Start(Output(), "", ""));
  EXPECT_EQ(package.WaitForExit(), 0);
  EXPECT_EQ(Record().args, std::vector<std::string>{Output()});
}

}  // namespace
}  // namespace ospry::pack
