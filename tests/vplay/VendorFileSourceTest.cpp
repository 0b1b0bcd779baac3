// TVendorFile over the real libVPlay.so: times from the file's date and the
// library's length, seeking by fraction, and the position reports.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/Files.h"
#include "tests/vplay/VPlayLibrary.h"
#include "tools/writer/vendor/VendorMedia.h"
#include "viewer/sources/U_VendorFile.h"

namespace ospry {
namespace {

using test::Library;
using test::WaitUntil;

// A 3600-second file: two pictures, at 0 s and 3599 s, one per second.
// Its modification time is 14:35 on 11 December 2026.
const std::string& HourFile() {
  static const std::string path = [] {
    writer::TVendorMediaOptions options;
    options.framesPerSecond = 1;
    options.frameCount = 2;
    options.keyInterval = 1;
    const std::vector<writer::TEncodedPicture> pictures = writer::EncodeTestPictures(options);
    if (pictures.size() != 2) return std::string();
    writer::TVendorStream stream;
    stream.header.width = 64;
    stream.header.height = 48;
    stream.header.frameRateNum = 1;
    for (int i = 0; i < 2; ++i)
      stream.frames.push_back(writer::TVendorMuxer::VideoFrame(
          reinterpret_cast<const std::uint8_t*>(pictures[i].bytes.data()), pictures[i].bytes.size(), i * 3599000, true));
    const std::string file = test::TempPath("hour.vnd");
    if (!writer::WriteRawVendorFile(file, stream)) return std::string();
    const double unix = DateTimeToUnix(EncodeDateTime({2026, 12, 11, 14, 35, 0, 0}));
    utimbuf times{static_cast<time_t>(unix), static_cast<time_t>(unix)};
    if (utime(file.c_str(), &times) != 0) return std::string();
    return file;
  }();
  return path;
}

class VendorFileSource : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(HourFile().empty()); }
  TVideoSourceOptions Options(const std::string& file) {
    TVideoSourceOptions options;
    options.FileName = file;
    return options;
  }
};

TEST_F(VendorFileSource, TimesComeFromTheFileDateAndTheLibrarysLength) {
  TVendorFile source(0, HourFile(), VPLAY_LIBRARY_PATH);
  ASSERT_TRUE(source.Probe(Options(HourFile())));
  EXPECT_TRUE(source.IsValid());
  EXPECT_EQ(source.GetDescription(), "Raw vendor file");
  EXPECT_EQ(source.GetDisplayName(), "hour.vnd");
  const TDateTime midnight = EncodeDateTime({2026, 12, 11, 0, 0, 0, 0});
  EXPECT_DOUBLE_EQ(source.StartTime(), midnight);
  EXPECT_EQ(source.FileSeconds(), 3600);
  TTimeSegments segments;
  source.GetSegments(segments);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_DOUBLE_EQ(segments[0].Start, midnight);
  EXPECT_EQ(MillisecondsBetween(segments[0].End, EncodeDateTime({2026, 12, 11, 1, 0, 0, 0})), 0);
  std::int32_t width = 0;
  std::int32_t height = 0;
  ASSERT_TRUE(source.GetPictureSize(width, height));
  EXPECT_EQ(width, 64);
  // Probing closed the file again: the port is free.
  EXPECT_EQ(Library().VPlay_GetFileTime(source.Port()), 0u);
}

TEST_F(VendorFileSource, SeekSetsTheFractionOfTheFile) {
  TVendorFile source(0, HourFile(), VPLAY_LIBRARY_PATH);
  ASSERT_TRUE(source.Probe(Options(HourFile())));
  ASSERT_TRUE(source.Start(Options(HourFile())));
  ASSERT_TRUE(source.Pause());
  source.Seek(source.StartTime() + 1800 / kSecondsPerDay);
  EXPECT_FLOAT_EQ(Library().VPlay_GetPlayPos(source.Port()), 0.5f);
  EXPECT_EQ(MillisecondsBetween(source.GetPosition(), source.StartTime()), 1800000);
  source.GoToStart();
  EXPECT_FLOAT_EQ(Library().VPlay_GetPlayPos(source.Port()), 0.0f);
  EXPECT_TRUE(source.Stop());
  EXPECT_FALSE(source.IsActive());
}

// Reports carry kind 0, type 1 and the position; after Stop none arrives.
TEST_F(VendorFileSource, ReportsThePositionUntilStopped) {
  TVendorFile source(3, HourFile(), VPLAY_LIBRARY_PATH);
  ASSERT_TRUE(source.Probe(Options(HourFile())));
  std::mutex lock;
  std::vector<TStreamPacketInfo> reports;
  source.SetOnData([&](const TStreamPacketInfo& info, const std::uint8_t* data, std::int32_t size) {
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0);
    std::lock_guard guard(lock);
    reports.push_back(info);
  });
  ASSERT_TRUE(source.Start(Options(HourFile())));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard guard(lock);
    return reports.size() >= 1;
  }));
  ASSERT_TRUE(source.Stop());
  std::size_t count;
  {
    std::lock_guard guard(lock);
    count = reports.size();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(TVendorFile::kReportIntervalMs + 50));
  std::lock_guard guard(lock);
  EXPECT_EQ(reports[0].SourceId, 3);
  EXPECT_EQ(reports[0].StreamKind, 0);
  EXPECT_EQ(reports[0].FrameType, 1);
  EXPECT_TRUE(reports[0].StampValid);
  EXPECT_GE(reports[0].Stamp, source.StartTime());
  EXPECT_EQ(reports.size(), count) << "nothing after Stop";
}

TEST_F(VendorFileSource, ProbeRefusesWhatTheLibraryCannotOpen) {
  const std::string text = test::TempPath("plain.txt");
  const std::string words = "not a recording";
  ASSERT_TRUE(WriteWholeFile(text, words.data(), static_cast<std::int64_t>(words.size())));
  for (const std::string& path : {text, test::TempPath("absent.vnd"), std::string()}) {
    TVendorFile source(0, path, VPLAY_LIBRARY_PATH);
    EXPECT_FALSE(source.Probe(Options(path))) << path;
    EXPECT_FALSE(source.IsValid());
    EXPECT_FALSE(source.Play()) << "play refuses too";
  }
}

}  // namespace
}  // namespace ospry
