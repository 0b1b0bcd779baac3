// ospry-clip snapshot and play on real media: H.264 encoded at test time into
// clip files and a synchronised multi-clip file, a raw H.264 stream, and a raw
// vendor file, run as the user runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "../container/ContainerTestUtil.h"
#include "ClipRun.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/media/MediaClip.h"
#include "tools/writer/vendor/VendorMedia.h"

namespace ospry {
namespace {

using test::LittleEndian32;
using test::TRun;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
// 1.2 s at 25 pictures per second, a key frame every 10: short enough to
// play whole in every direction within a second or two.
constexpr int kFrames = 30;
constexpr int kGop = 10;

TDateTime ClipStart() { return EncodeDateTime({2026, 12, 11, 10, 0, 0, 0}); }

// The stamp of picture index as the tools print it.
std::string StampOf(int index) {
  return FormatDateTime("hh:nn:ss.zzz", ClipStart() + MillisecondsToDays(40.0 * index));
}

const std::vector<media::TEncodedPacket>& H264Packets() {
  static const std::vector<media::TEncodedPacket> packets = [] {
    media::TVideoSettings video;
    video.Width = kWidth;
    video.Height = kHeight;
    video.Frames = kFrames;
    video.GopSize = kGop;
    std::vector<media::TEncodedPacket> encoded;
    std::string error;
    EXPECT_TRUE(media::EncodeVideo(video, encoded, &error)) << error;
    return encoded;
  }();
  return packets;
}

// One clip container of stream kind 3 (H.264) at the output's position,
// starting shiftMs after ClipStart.
void WriteH264Container(writer::TOutput& out, const std::string& channel, double shiftMs = 0) {
  writer::TContainerWriter w(out, false);
  const auto& packets = H264Packets();
  const TDateTime start = ClipStart() + MillisecondsToDays(shiftMs);
  media::AddEncodedClip(w, start, 3, packets);
  TDvrInfo info;
  info.DvrName = "test recorder";
  info.ChannelName = channel;
  w.AddDvrInfo(info);
  EXPECT_TRUE(w.Finish());
}

// What one --trace line of a pull-source play says.
struct TPresented {
  std::int64_t wallMs = 0;
  int channel = 0;
  std::string stamp;  // hh:nn:ss.zzz
  std::string size;
};

std::vector<TPresented> ParsePresented(const std::string& out) {
  std::vector<TPresented> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    TPresented p;
    if (fields >> p.wallMs >> p.channel >> p.stamp >> p.size && p.stamp.size() == 12) lines.push_back(p);
  }
  return lines;
}

// The number after "total " in the summary; -1 when missing.
long TotalPresented(const std::string& out) {
  const auto at = out.find("total ");
  return at == std::string::npos ? -1 : std::strtol(out.c_str() + at + 6, nullptr, 10);
}

class MediaCommands : public ::testing::Test {
protected:
  TRun Run(const std::string& arguments) { return test::RunClip(dir_, arguments); }

  std::string WriteClip() {
    const std::string path = dir_.File("camera.clip");
    writer::TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    WriteH264Container(out, "Gate");
    EXPECT_TRUE(out.Close());
    return path;
  }
  // Two clips: side by side at the same time, or a play list whose second
  // clip follows the first after 0.4 s.
  std::string WritePair(std::uint8_t mode) {
    const std::string path = dir_.File("pair.clip");
    writer::TFileOutput out;
    EXPECT_TRUE(out.Create(path));
    writer::TMultiClipWriter multi(out);
    for (const int clip : {0, 1}) {
      WriteH264Container(out, "Gate", mode == kModePlayList ? clip * (40.0 * kFrames + 400) : 0);
      TDvrInfo info;
      info.ChannelName = clip == 0 ? "Gate" : "Yard";
      multi.AddClip(info, out.Position());
    }
    multi.SetMode(mode);
    EXPECT_TRUE(multi.Finish());
    EXPECT_TRUE(out.Close());
    return path;
  }
  std::string WriteRawH264() {
    const std::string path = dir_.File("camera.h264");
    media::TVideoSettings video;
    video.Width = kWidth;
    video.Height = kHeight;
    video.Frames = kFrames;
    std::string error;
    EXPECT_TRUE(media::WriteMediaFile(path, "h264", &video, nullptr, &error)) << error;
    return path;
  }
  // 2 s of 64 x 48 pictures.
  std::string WriteRawVendor() {
    writer::TVendorMediaOptions options;
    options.frameCount = 50;
    const writer::TVendorStream stream = writer::MakeVendorStream(options);
    EXPECT_EQ(stream.VideoFrameCount(), 50u);
    const std::string path = dir_.File("camera.vnd");
    EXPECT_TRUE(writer::WriteRawVendorFile(path, stream));
    return path;
  }

  test::TTempDir dir_;
};

// Mean absolute difference between the luma of a 24-bit bottom-up bitmap
// and the luma of the synthetic picture index that was encoded.
double LumaDistance(const std::string& bitmap, int index) {
  std::vector<std::uint8_t> y, u, v;
  media::MakeTestPicture(index, kWidth, kHeight, 1, 1, y, u, v);
  const std::size_t rowBytes = (kWidth * 3 + 3) / 4 * 4;
  double sum = 0;
  for (int row = 0; row < kHeight; ++row) {
    const std::size_t line = 54 + static_cast<std::size_t>(kHeight - 1 - row) * rowBytes;
    for (int col = 0; col < kWidth; ++col) {
      const auto* bgr = reinterpret_cast<const std::uint8_t*>(bitmap.data() + line + 3 * static_cast<std::size_t>(col));
      const double luma = 16 + (65.738 * bgr[2] + 129.057 * bgr[1] + 25.064 * bgr[0]) / 256;
      sum += std::fabs(luma - y[static_cast<std::size_t>(row) * kWidth + col]);
    }
  }
  return sum / (kWidth * kHeight);
}

// The picture at a frame number or a time: the bitmap shows that picture
// (closer to it than to its neighbours, upright, in its colours' luma) and
// the printed stamp is its frame's.
TEST_F(MediaCommands, SnapshotOfAnH264ClipShowsTheWantedPicture) {
  const std::string clip = WriteClip();
  struct TCase {
    std::string select;
    int index;
  };
  const TCase cases[] = {
      {"--frame 0", 0},
      {"--frame 17", 17},
      {"--at \"2026/12/11 10:00:00.530\"", 13},  // the last picture at or before
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.select);
    const std::string bitmapPath = dir_.File("picture.bmp");
    const TRun run = Run("snapshot " + c.select + " -o " + bitmapPath + " " + clip);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2026/12/11 " + StampOf(c.index) + " 160x120 -> " + bitmapPath + "\n");
    std::string bitmap;
    ASSERT_TRUE(ReadWholeFile(bitmapPath, bitmap));
    ASSERT_EQ(bitmap.size(), 54u + kWidth * 3u * kHeight);
    EXPECT_EQ(LittleEndian32(bitmap, 18), static_cast<std::uint32_t>(kWidth));
    EXPECT_EQ(LittleEndian32(bitmap, 22), static_cast<std::uint32_t>(kHeight));
    const double wanted = LumaDistance(bitmap, c.index);
    EXPECT_LT(wanted, 6.0);
    for (const int other : {c.index - 1, c.index + 1}) {
      if (other >= 0) {
        EXPECT_LT(wanted, LumaDistance(bitmap, other)) << "closer to picture " << other;
      }
    }
    ASSERT_TRUE(DeleteFilePath(bitmapPath));
  }
}

// Forward from the start and backward from the end, the whole clip plays;
// pictures come in the playing direction. Backward play at -1 shows each
// group reversed, down to the first picture; below -1 only key frames.
TEST_F(MediaCommands, PlayPresentsPicturesInThePlayingDirection) {
  const std::string clip = WriteClip();
  struct TCase {
    double speed;
    int minPictures;
    std::string lastStamp;
  };
  const TCase cases[] = {
      {1, kFrames - 2, StampOf(kFrames - 1)},
      {4, kFrames - 2, StampOf(kFrames - 1)},
      {-1, kGop, StampOf(0)},
      {-4, kFrames / kGop, StampOf(0)},
  };
  for (const TCase& c : cases) {
    std::ostringstream speed;
    speed << c.speed;
    SCOPED_TRACE("speed " + speed.str());
    const TRun run = Run("play --trace --seconds 5 --speed " + speed.str() + " " + clip);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto presented = ParsePresented(run.out);
    ASSERT_GE(static_cast<int>(presented.size()), c.minPictures) << run.out;
    EXPECT_EQ(TotalPresented(run.out), static_cast<long>(presented.size()));
    for (std::size_t i = 0; i < presented.size(); ++i) {
      EXPECT_EQ(presented[i].channel, 0);
      EXPECT_EQ(presented[i].size, "160x120");
      if (i == 0) continue;
      if (c.speed > 0) {
        EXPECT_GT(presented[i].stamp, presented[i - 1].stamp) << "picture " << i;
      } else {
        EXPECT_LT(presented[i].stamp, presented[i - 1].stamp) << "picture " << i;
      }
    }
    EXPECT_EQ(presented.back().stamp, c.lastStamp);
    if (c.speed < -1) {
      for (const auto& p : presented) {
        EXPECT_TRUE(p.stamp == StampOf(0) || p.stamp == StampOf(kGop) || p.stamp == StampOf(2 * kGop))
            << p.stamp << " is no key frame";
      }
    }
  }
}

TEST_F(MediaCommands, PlayPausedPresentsNothing) {
  const TRun run = Run("play --trace --seconds 0.3 --speed 0 " + WriteClip());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(ParsePresented(run.out).empty());
  EXPECT_EQ(TotalPresented(run.out), 0);
}

TEST_F(MediaCommands, PlayOfASynchronisedPairPresentsOnBothChannels) {
  const TRun run = Run("play --trace --seconds 5 " + WritePair(kModeSyncPlay));
  ASSERT_EQ(run.status, 0) << run.err;
  std::string last[2];
  int count[2] = {0, 0};
  for (const auto& p : ParsePresented(run.out)) {
    ASSERT_TRUE(p.channel == 0 || p.channel == 1) << p.channel;
    EXPECT_GT(p.stamp, last[p.channel]) << "channel " << p.channel;
    last[p.channel] = p.stamp;
    ++count[p.channel];
  }
  EXPECT_GE(count[0], kFrames - 2);
  EXPECT_GE(count[1], kFrames - 2);
  EXPECT_EQ(last[1], StampOf(kFrames - 1));
}

// A play list plays its clips one after the other in one view, in the
// playing direction.
TEST_F(MediaCommands, PlayOfAPlayListCrossesItsClips) {
  const std::string path = WritePair(kModePlayList);
  const std::string secondStart = FormatDateTime("hh:nn:ss.zzz", ClipStart() + MillisecondsToDays(40.0 * kFrames + 400));
  for (const char* speed : {"1", "-1"}) {
    SCOPED_TRACE(speed);
    const TRun run = Run(std::string("play --trace --seconds 6 --speed ") + speed + " " + path);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto presented = ParsePresented(run.out);
    ASSERT_FALSE(presented.empty()) << run.out;
    bool first = false, second = false;
    for (std::size_t i = 0; i < presented.size(); ++i) {
      EXPECT_EQ(presented[i].channel, 0);
      (presented[i].stamp < secondStart ? first : second) = true;
      if (i == 0) continue;
      if (speed[0] == '-') {
        EXPECT_LT(presented[i].stamp, presented[i - 1].stamp) << "picture " << i;
      } else {
        EXPECT_GT(presented[i].stamp, presented[i - 1].stamp) << "picture " << i;
      }
    }
    EXPECT_TRUE(first) << run.out;
    EXPECT_TRUE(second) << run.out;
  }
}

// The library plays the file by itself; the command reports the positions
// the source reports every 250 ms and counts the pictures the library drew.
TEST_F(MediaCommands, PlayOfARawVendorFileReportsPositions) {
  const TRun run = Run("play --trace --seconds 1 " + WriteRawVendor());
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream in(run.out);
  std::string line;
  int traced = 0;
  long reports = -1, pictures = -1;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::int64_t ms = 0;
    std::string stamp, rest;
    if (fields >> ms >> stamp && !(fields >> rest) && stamp.size() == 12 && stamp[2] == ':') {
      ++traced;
    } else if (line.rfind("reports ", 0) == 0) {
      reports = std::strtol(line.c_str() + 8, nullptr, 10);
    } else if (line.rfind("pictures drawn by the library: ", 0) == 0) {
      pictures = std::strtol(line.c_str() + 31, nullptr, 10);
      EXPECT_NE(line.find("(64x48)"), std::string::npos) << line;
    }
  }
  EXPECT_GE(reports, 2) << run.out;
  EXPECT_EQ(traced, reports);
  EXPECT_GT(pictures, 5) << run.out;
}

TEST_F(MediaCommands, RefusalsExitNonZeroWithAMessage) {
  const std::string clip = WriteClip();
  const std::string vendor = WriteRawVendor();
  const std::string mpeg = WriteRawH264();
  // The command line parser's own refusals have codes of its own.
  constexpr int kParserRefusal = -2;
  struct TCase {
    std::string arguments;
    int status;
    std::string message;
  };
  const TCase cases[] = {
      {"play --speed -1 " + vendor, 1, "a raw vendor file cannot play backward"},
      {"play --speed -2 " + mpeg, 1, "cannot play backward"},
      {"play --speed 17 " + clip, 2, "--speed must lie in -16..16"},
      {"play --at yesterday " + clip, 2, "--at must look like"},
      {"play " + dir_.File("missing.clip"), 1, "File not found"},
      {"play --seconds 0 " + clip, kParserRefusal, "--seconds"},
      {"snapshot --frame 0 -o " + dir_.File("x.bmp") + " " + vendor, 1, "snapshot needs a clip file"},
      {"snapshot --frame 99 -o " + dir_.File("x.bmp") + " " + clip, 1, "not in the file"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    const TRun run = Run(c.arguments);
    if (c.status == kParserRefusal) {
      EXPECT_GT(run.status, 0);
    } else {
      EXPECT_EQ(run.status, c.status);
    }
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace ospry
