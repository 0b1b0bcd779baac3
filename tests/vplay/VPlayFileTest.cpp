// libVPlay.so in file mode: a raw vendor file written by the writer is
// opened, measured and played by the library's own clock, here a manual one.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/vplay/VPlayLibrary.h"
#include "tests/vplay/VPlayTestSupport.h"
#include "tools/writer/vendor/VendorMedia.h"

namespace ospry {
namespace {

using test::Library;
using test::TRecorder;
using test::WaitUntil;

// 10 s at 5 fps, a key frame every 2 s, mu-law sound.
const std::string& RawFile() {
  static const std::string path = [] {
    writer::TVendorMediaOptions options;
    options.width = 64;
    options.height = 48;
    options.framesPerSecond = 5;
    options.frameCount = 50;
    options.keyInterval = 10;
    options.audioCodec = vendor::kAudioMulaw;
    options.audioBlockMs = 200;
    const writer::TVendorStream stream = writer::MakeVendorStream(options);
    const std::string file = test::TempPath("ten-seconds.vnd");
    if (stream.frames.empty() || !writer::WriteRawVendorFile(file, stream)) return std::string();
    return file;
  }();
  return path;
}

class VPlayFile : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(RawFile().empty()) << "could not write the raw vendor file";
    Library().VPlay_SetClock(&clock_);
  }
  void TearDown() override {
    for (std::int32_t p = 0; p < 64; ++p) Library().VPlay_CloseFile(p);
    Library().VPlay_SetClock(nullptr);
  }
  // Opens on the first port that takes the file, as the file source does.
  std::int32_t OpenAnyPort(const std::string& path) {
    for (std::int32_t p = 0; p < 64; ++p)
      if (Library().VPlay_OpenFile(p, path.c_str())) return p;
    return -1;
  }
  bool PlayedReaches(std::int32_t port, std::uint32_t seconds) {
    return WaitUntil([&] { return Library().VPlay_GetPlayedTime(port) == seconds; });
  }

  TManualClock clock_;
};

TEST_F(VPlayFile, ReportsLengthFramesAndPictureSize) {
  const std::int32_t port = OpenAnyPort(RawFile());
  ASSERT_GE(port, 0);
  EXPECT_EQ(Library().VPlay_GetFileTime(port), 10u);
  EXPECT_EQ(Library().VPlay_GetFileTotalFrames(port), 50u);
  std::int32_t width = 0;
  std::int32_t height = 0;
  ASSERT_TRUE(Library().VPlay_GetPictureSize(port, &width, &height));
  EXPECT_EQ(width, 64);
  EXPECT_EQ(height, 48);
  EXPECT_EQ(Library().VPlay_GetPlayedTime(port), 0u);
  EXPECT_FALSE(Library().VPlay_OpenFile(port, RawFile().c_str())) << "port already in use";
  EXPECT_EQ(OpenAnyPort(RawFile()), port + 1) << "the next free port takes a second copy";
  ASSERT_TRUE(Library().VPlay_CloseFile(port));
  EXPECT_FALSE(Library().VPlay_CloseFile(port));
  EXPECT_EQ(Library().VPlay_GetFileTime(port), 0u);
}

TEST_F(VPlayFile, RefusesWhatIsNotAVendorFile) {
  const std::string text = test::TempPath("not-vendor.txt");
  const std::string words = "hello, this is not a recording at all, just some words";
  ASSERT_TRUE(WriteWholeFile(text, words.data(), static_cast<std::int64_t>(words.size())));
  const std::string headerOnly = test::TempPath("header-only.vnd");
  const std::string header = vendor::TStreamHeader{}.Encode();
  ASSERT_TRUE(WriteWholeFile(headerOnly, header.data(), static_cast<std::int64_t>(header.size())));
  for (const std::string& path : {text, headerOnly, test::TempPath("missing.vnd")}) {
    EXPECT_FALSE(Library().VPlay_OpenFile(0, path.c_str())) << path;
  }
  EXPECT_FALSE(Library().VPlay_OpenFile(0, nullptr));
  EXPECT_FALSE(Library().VPlay_OpenFile(-1, RawFile().c_str()));
  EXPECT_FALSE(Library().VPlay_OpenFile(64, RawFile().c_str()));
  // A real header over noise: refused, or opened and played without harm.
  std::string noisy = vendor::TStreamHeader{}.Encode();
  std::uint32_t seed = 7;
  for (int i = 0; i < 100000; ++i) {
    seed = seed * 1103515245 + 12345;
    noisy.push_back(static_cast<char>(i % 500 == 0 ? 0 : seed >> 24));
    if (i % 500 == 0) noisy += std::string("\x00\x01\xE0\x01\x00\x80\x80\x05", 8);
  }
  const std::string noisyPath = test::TempPath("noisy.vnd");
  ASSERT_TRUE(WriteWholeFile(noisyPath, noisy.data(), static_cast<std::int64_t>(noisy.size())));
  if (Library().VPlay_OpenFile(0, noisyPath.c_str())) {
    ASSERT_TRUE(Library().VPlay_Play(0, 0));
    clock_.AdvanceMs(60000);
    ASSERT_TRUE(Library().VPlay_SetPlayPos(0, 0.5f));
    clock_.AdvanceMs(60000);
    ASSERT_TRUE(Library().VPlay_CloseFile(0));
  }
  // A refused file leaves the port free.
  std::int32_t port = -1;
  ASSERT_TRUE(Library().VPlay_GetPort(&port));
  EXPECT_EQ(port, 0);
  Library().VPlay_FreePort(port);
}

// Played time follows the clock, stands still while paused, runs at the
// notch's speed and jumps with the play position.
TEST_F(VPlayFile, PlaysPausesSeeksAndChangesSpeed) {
  const std::int32_t port = OpenAnyPort(RawFile());
  ASSERT_GE(port, 0);
  TRecorder::Instance().Clear(port);
  ASSERT_TRUE(Library().VPlay_SetDecCallBack(port, &TRecorder::DecodeCallback));
  ASSERT_TRUE(Library().VPlay_Play(port, 0));
  ASSERT_TRUE(WaitUntil([&] { return TRecorder::Instance().PictureCount(port) == 1; }));

  clock_.AdvanceMs(3100);
  ASSERT_TRUE(PlayedReaches(port, 3));
  EXPECT_EQ(TRecorder::Instance().PictureCount(port), 16u) << "pictures at 0.0 s to 3.0 s";

  ASSERT_TRUE(Library().VPlay_Pause(port, 1));
  clock_.AdvanceMs(2000);
  ASSERT_TRUE(Library().VPlay_Pause(port, 0));
  EXPECT_EQ(Library().VPlay_GetPlayedTime(port), 3u);

  ASSERT_TRUE(Library().VPlay_Fast(port));  // 2x
  clock_.AdvanceMs(1000);
  ASSERT_TRUE(PlayedReaches(port, 5));

  ASSERT_TRUE(Library().VPlay_Slow(port));
  ASSERT_TRUE(Library().VPlay_Slow(port));  // 1/2x
  clock_.AdvanceMs(2000);
  ASSERT_TRUE(PlayedReaches(port, 6));

  TRecorder::Instance().Clear(port);
  ASSERT_TRUE(Library().VPlay_SetPlayPos(port, 0.5f));
  EXPECT_EQ(Library().VPlay_GetPlayedTime(port), 5u);
  EXPECT_FLOAT_EQ(Library().VPlay_GetPlayPos(port), 0.5f);
  ASSERT_TRUE(WaitUntil([&] { return TRecorder::Instance().PictureCount(port) == 1; }));
  EXPECT_EQ(TRecorder::Instance().Get(port).pictures[0].info.stamp, 5000)
      << "the picture at the position, not the key frame before it";
  clock_.AdvanceMs(2100);  // 1 s of file at 1/2x
  ASSERT_TRUE(PlayedReaches(port, 6));

  EXPECT_FALSE(Library().VPlay_SetPlayPos(port, std::numeric_limits<float>::quiet_NaN()));
  ASSERT_TRUE(Library().VPlay_SetPlayPos(port, 7.0f)) << "clamped to the end";
  EXPECT_FLOAT_EQ(Library().VPlay_GetPlayPos(port), 1.0f);
}

TEST_F(VPlayFile, SpeedStepsStopAtSixteenAndOneSixteenth) {
  const std::int32_t port = OpenAnyPort(RawFile());
  ASSERT_GE(port, 0);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Library().VPlay_Fast(port)) << i;
  EXPECT_FALSE(Library().VPlay_Fast(port));
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(Library().VPlay_Slow(port)) << i;
  EXPECT_FALSE(Library().VPlay_Slow(port));
}

TEST_F(VPlayFile, ShowsPicturesInASecondWindowWhenAsked) {
  auto log = std::make_shared<test::TOutputLog>();
  const TRendererFactory renderers = [log] { return std::make_unique<test::TRecordingRenderer>(log); };
  Library().VPlay_SetOutputFactories(&renderers, nullptr);
  const std::int32_t port = OpenAnyPort(RawFile());
  ASSERT_GE(port, 0);
  ASSERT_TRUE(Library().VPlay_Play(port, 3));
  ASSERT_TRUE(Library().VPlay_SetDisplayRegion(port, 1, nullptr, 9, 1));
  clock_.AdvanceMs(500);
  const auto drawsTo = [&](TWindowHandle window) {
    std::lock_guard guard(log->lock);
    return std::count_if(log->draws.begin(), log->draws.end(), [&](const test::TDraw& d) { return d.window == window; });
  };
  ASSERT_TRUE(WaitUntil([&] { return drawsTo(9) >= 2 && drawsTo(3) >= 3; }));
  Library().VPlay_SetOutputFactories(nullptr, nullptr);
}

}  // namespace
}  // namespace ospry
