#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/decoding/TestMedia.h"
#include "viewer/decoding/U_DecodeMPEG.h"
#include "viewer/render/DrawYUV_New.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace ospry {
namespace {

using media::TVideoCodec;
using media::TVideoSettings;
using test::TDelivered;
using test::TRefPicture;

constexpr TWindowHandle kWindow = 42;

TVideoSettings Settings(TVideoCodec codec, int width, int height, int frames, int gop = 50, int bFrames = 0) {
  TVideoSettings settings;
  settings.Codec = codec;
  settings.Width = width;
  settings.Height = height;
  settings.Frames = frames;
  settings.GopSize = gop;
  settings.BFrames = bFrames;
  return settings;
}

TFrameHeader HeaderFor(std::uint8_t kind, const media::TEncodedPacket& packet, int index) {
  TFrameHeader header;
  header.StreamKind = kind;
  header.FrameType = packet.IsKey ? kFrameKey : 0;
  header.DataSize = static_cast<std::int32_t>(packet.Data.size());
  header.Stamp = 46000 + index / 1000.0;
  return header;
}

// Feeds every packet to a decoder and collects what its callback receives,
// with the result of each Decode.
struct TRun {
  std::vector<TDelivered> delivered;
  std::vector<int> results;
};

TRun DecodeAll(TDecodeMPEG& decoder, std::uint8_t kind, const std::vector<media::TEncodedPacket>& packets) {
  TRun run;
  decoder.SetOnFrame([&run](const TFrameInfo& info, const std::uint8_t* payload) {
    run.delivered.push_back({info, std::vector<std::uint8_t>(payload, payload + info.DataSize)});
  });
  for (std::size_t i = 0; i < packets.size(); ++i) {
    run.results.push_back(decoder.Decode(HeaderFor(kind, packets[i], static_cast<int>(i)), packets[i].Data.data()));
  }
  return run;
}

// Largest difference between a delivered plane and a reference plane of
// (width x rows) taken every rowStep rows.
int PlaneDiff(const std::uint8_t* got, const std::vector<std::uint8_t>& want, int wantStride, int width, int rows,
              int rowStep) {
  int worst = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < width; ++c) {
      worst = std::max(worst, std::abs(got[r * width + c] - want[static_cast<std::size_t>(r) * rowStep * wantStride + c]));
    }
  }
  return worst;
}

struct TLayoutCase {
  const char* name;
  TVideoCodec codec;
  std::uint8_t kind;
  const char* codecName;
  int width, height;
  int expectedFormat;
  int chromaRowStep;  // 2: every second row of 4:2:2 chroma
  int tolerance;      // 0: copied; 1: converted by libswscale
};

TEST(DecodeMPEG, PacksPicturesAsYv12LikeThePlainCodec) {
  const TLayoutCase cases[] = {
      {"h264 4:2:0", TVideoCodec::H264, 3, "h264", 352, 288, AV_PIX_FMT_YUV420P, 1, 0},
      {"mpeg4 4:2:0", TVideoCodec::Mpeg4, 15, "mpeg4", 352, 288, AV_PIX_FMT_YUV420P, 1, 0},
      {"mjpeg 4:2:0", TVideoCodec::Mjpeg420, 16, "mjpeg", 320, 240, AV_PIX_FMT_YUVJ420P, 1, 0},
      {"mjpeg 4:2:2", TVideoCodec::Mjpeg422, 16, "mjpeg", 640, 480, AV_PIX_FMT_YUVJ422P, 2, 0},
      {"mjpeg odd size", TVideoCodec::Mjpeg420, 16, "mjpeg", 35, 21, AV_PIX_FMT_YUVJ420P, 1, 0},
      {"h264 4:4:4", TVideoCodec::H264_444, 5, "h264", 176, 144, AV_PIX_FMT_YUV444P, 1, 1},
  };
  for (const TLayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& packets = test::VideoPackets(Settings(c.codec, c.width, c.height, 6));
    ASSERT_FALSE(packets.empty());
    const std::vector<TRefPicture> reference = test::ReferenceDecode(c.codecName, packets);
    TDecodeMPEG decoder(kWindow);
    TRun run = DecodeAll(decoder, c.kind, packets);
    // The reference drains the codec at the end; the decoder does not, and the
    // opening frame's picture counts although its result is -1.
    ASSERT_GE(run.delivered.size(), 1u);
    ASSERT_LE(run.delivered.size(), reference.size());
    EXPECT_EQ(run.results[0], -1);
    for (std::size_t i = 0; i < run.delivered.size(); ++i) {
      const TFrameInfo& info = run.delivered[i].Info;
      const TRefPicture& ref = reference[i];
      ASSERT_EQ(ref.Format, c.expectedFormat);
      EXPECT_EQ(info.Width, c.width);
      EXPECT_EQ(info.Height, c.height);
      EXPECT_EQ(info.Window, kWindow);
      EXPECT_FALSE(info.IsAudio);
      EXPECT_FALSE(info.AudioFormat.Valid);
      EXPECT_EQ(info.FrameRate, 0);
      const int w = c.width, h = c.height;
      ASSERT_EQ(info.DataSize, w * h * 3 / 2);
      const std::uint8_t* y = run.delivered[i].Payload.data();
      const std::uint8_t* cr = y + w * h;
      const std::uint8_t* cb = cr + w * h / 4;
      const TRefPicture want = c.tolerance > 0 ? test::ToYuv420(ref) : ref;
      EXPECT_LE(PlaneDiff(y, want.Y, want.Width, w, h, 1), c.tolerance) << "luma, picture " << i;
      EXPECT_LE(PlaneDiff(cr, want.V, want.ChromaWidth, w / 2, h / 2, c.chromaRowStep), c.tolerance) << "Cr, picture " << i;
      EXPECT_LE(PlaneDiff(cb, want.U, want.ChromaWidth, w / 2, h / 2, c.chromaRowStep), c.tolerance) << "Cb, picture " << i;
    }
  }
}

TEST(DecodeMPEG, DelayedOutputCarriesTheStampOfTheFrameJustGiven) {
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::H264, 176, 144, 12, 50, 2));
  TDecodeMPEG decoder(kWindow);
  std::vector<TDateTime> givenStamps;
  std::vector<TDelivered> delivered;
  std::vector<int> results;
  decoder.SetOnFrame([&](const TFrameInfo& info, const std::uint8_t*) { delivered.push_back({info, {}}); });
  for (std::size_t i = 0; i < packets.size(); ++i) {
    TFrameHeader header = HeaderFor(3, packets[i], static_cast<int>(i));
    header.FrameType = static_cast<std::uint8_t>(50 + i);  // passed through unchanged
    const std::size_t before = delivered.size();
    results.push_back(decoder.Decode(header, packets[i].Data.data()));
    for (std::size_t d = before; d < delivered.size(); ++d) {
      EXPECT_EQ(delivered[d].Info.Stamp, header.Stamp);
      EXPECT_EQ(delivered[d].Info.FrameType, 50 + static_cast<int>(i));
    }
    EXPECT_EQ(results.back(), i == 0 ? -1 : (delivered.size() > before ? 1 : 0)) << "packet " << i;
  }
  // The codec holds pictures back at first: some frames returned 0.
  EXPECT_NE(std::find(results.begin(), results.end(), 0), results.end());
  EXPECT_FALSE(delivered.empty());
}

TEST(DecodeMPEG, UnknownKindLeavesTheDecoderClosed) {
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::Mjpeg420, 64, 48, 2));
  TDecodeMPEG decoder(kWindow);
  TFrameHeader header = HeaderFor(4, packets[0], 0);
  int calls = 0;
  decoder.SetOnFrame([&](const TFrameInfo&, const std::uint8_t*) { ++calls; });
  EXPECT_EQ(decoder.Decode(header, packets[0].Data.data()), -1);
  EXPECT_EQ(decoder.Decode(header, packets[0].Data.data()), -1);
  EXPECT_FALSE(decoder.IsOpen());
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(decoder.Snapshot().empty());
}

TEST(DecodeMPEG, RejectedFrameIsDroppedAndTheNextOneDecodes) {
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::Mjpeg420, 64, 48, 3));
  TDecodeMPEG decoder(kWindow);
  int calls = 0;
  decoder.SetOnFrame([&](const TFrameInfo&, const std::uint8_t*) { ++calls; });
  EXPECT_EQ(decoder.Decode(HeaderFor(16, packets[0], 0), packets[0].Data.data()), -1);
  EXPECT_EQ(calls, 1);  // the opening frame was decoded at once
  std::vector<std::uint8_t> garbage(200, 0x5a);
  TFrameHeader bad = HeaderFor(16, packets[1], 1);
  bad.DataSize = static_cast<std::int32_t>(garbage.size());
  EXPECT_EQ(decoder.Decode(bad, garbage.data()), -1);
  bad.DataSize = 0;
  EXPECT_EQ(decoder.Decode(bad, garbage.data()), -1);
  EXPECT_EQ(decoder.Decode(HeaderFor(16, packets[2], 2), packets[2].Data.data()), 1);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(decoder.IsOpen());
}

TEST(DecodeMPEG, PictureBufferOnlyGrowsAcrossSizeChanges) {
  const auto& large = test::VideoPackets(Settings(TVideoCodec::Mjpeg420, 640, 480, 1));
  const auto& small = test::VideoPackets(Settings(TVideoCodec::Mjpeg420, 320, 240, 1));
  TDecodeMPEG decoder(kWindow);
  std::vector<TFrameInfo> infos;
  decoder.SetOnFrame([&](const TFrameInfo& info, const std::uint8_t*) { infos.push_back(info); });
  decoder.Decode(HeaderFor(16, small[0], 0), small[0].Data.data());
  decoder.Decode(HeaderFor(16, large[0], 1), large[0].Data.data());
  decoder.Decode(HeaderFor(16, small[0], 2), small[0].Data.data());
  ASSERT_EQ(infos.size(), 3u);
  EXPECT_EQ(infos[1].Width, 640);
  EXPECT_EQ(infos[1].DataSize, 460800);
  EXPECT_EQ(infos[2].Width, 320);
  EXPECT_EQ(infos[2].Height, 240);
  EXPECT_EQ(infos[2].DataSize, 115200);
  TPicByte picture = decoder.Picture();
  EXPECT_EQ(picture.Size, 115200);
  EXPECT_GE(picture.Data.size(), 460800u);
}

TEST(DecodeMPEG, SnapshotIsABitmapOfTheLatestPicture) {
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::Mpeg4, 352, 288, 3));
  TDecodeMPEG decoder(kWindow);
  EXPECT_TRUE(decoder.Snapshot().empty());
  DecodeAll(decoder, 13, packets);
  const std::vector<std::uint8_t> bitmap = decoder.Snapshot();
  ASSERT_EQ(bitmap.size(), 304182u);
  int width = 0, height = 0;
  ASSERT_TRUE(TDrawYUV::GetBitmapSize(bitmap, width, height));
  EXPECT_EQ(width, 352);
  EXPECT_EQ(height, 288);
  TPicByte picture = decoder.Picture();
  EXPECT_EQ(bitmap, TDrawYUV::MakeBitmap(picture.Data.data(), 352, 288, true));
}

// Records DrawFrame calls of a decoder without a callback.
class TRecordingRenderer final : public IYuvRenderer {
public:
  explicit TRecordingRenderer(std::vector<std::pair<int, int>>& draws) : draws_(draws) {}
  void DrawFrame(const std::uint8_t*, int width, int height, int, TWindowHandle window) override {
    EXPECT_EQ(window, kWindow);
    draws_.emplace_back(width, height);
  }
  void Repaint() override {}

private:
  std::vector<std::pair<int, int>>& draws_;
};

TEST(DecodeMPEG, DrawsItselfOnlyWithoutCallback) {
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::Mjpeg422, 64, 48, 2));
  std::vector<std::pair<int, int>> draws;
  TDecodeMPEG decoder(kWindow, [&draws] { return std::make_unique<TRecordingRenderer>(draws); });
  decoder.Decode(HeaderFor(16, packets[0], 0), packets[0].Data.data());
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0], std::make_pair(64, 48));
  int calls = 0;
  decoder.SetOnFrame([&](const TFrameInfo&, const std::uint8_t*) { ++calls; });
  decoder.Decode(HeaderFor(16, packets[1], 1), packets[1].Data.data());
  EXPECT_EQ(draws.size(), 1u);
  EXPECT_EQ(calls, 1);
}

TEST(DecodeMPEG, FrameThreadsGiveTheSamePictures) {
#if defined(__SANITIZE_THREAD__)
  // libavcodec's frame threads hand pictures over with atomics that the
  // uninstrumented library hides from ThreadSanitizer, which then reports
  // races that are not there.
  GTEST_SKIP() << "libavcodec's own threads are invisible to ThreadSanitizer";
#endif
  const auto& packets = test::VideoPackets(Settings(TVideoCodec::H264, 176, 144, 10));
  TDecodeMPEG single(kWindow, {}, 1);
  TDecodeMPEG threaded(kWindow, {}, 2);
  TRun one = DecodeAll(single, 3, packets);
  TRun two = DecodeAll(threaded, 3, packets);
  ASSERT_FALSE(two.delivered.empty());
  // Threads delay the output; what comes out is the same pictures in order.
  for (std::size_t i = 0; i < two.delivered.size(); ++i) {
    EXPECT_EQ(two.delivered[i].Payload, one.delivered[i].Payload) << "picture " << i;
  }
}

}  // namespace
}  // namespace ospry
