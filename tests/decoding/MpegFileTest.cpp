#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "platform/Files.h"
#include "tests/decoding/TestMedia.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"
#include "viewer/decoding/U_DecoderRouter.h"
#include "viewer/sources/U_MpegFile.h"

namespace ospry {
namespace {

using media::TAudioCodec;
using media::TAudioSettings;
using media::TVideoCodec;
using media::TVideoSettings;

// Whole milliseconds from start to stamp (rounded: day fractions are inexact).
long long Ms(TDateTime stamp, TDateTime start) { return std::llround((stamp - start) * kMsPerDay); }

TVideoSettings Video(TVideoCodec codec, int frames = 20, int gop = 10) {
  TVideoSettings settings;
  settings.Codec = codec;
  settings.Width = 176;
  settings.Height = 144;
  settings.Frames = frames;
  settings.GopSize = gop;
  return settings;
}

TAudioSettings Audio(TAudioCodec codec) {
  TAudioSettings settings;
  settings.Codec = codec;
  settings.SampleRate = codec == TAudioCodec::Aac ? 16000 : 8000;
  settings.BitRate = codec == TAudioCodec::G726 ? 32000 : 64000;
  settings.Seconds = 0.8;
  return settings;
}

std::string Write(const std::string& name, const std::string& format, const TVideoSettings* video,
                  const TAudioSettings* audio) {
  const std::string path = test::TestFolder() + name;
  std::string error;
  EXPECT_TRUE(media::WriteMediaFile(path, format, video, audio, &error)) << error;
  return path;
}

struct TFrame {
  TFrameHeader header;
  std::vector<std::uint8_t> data;
};

std::vector<TFrame> ReadAll(TMpegFile& source, std::size_t limit = 10000) {
  std::vector<TFrame> frames;
  std::int32_t id = -1;
  TFrame frame;
  TDateTime time = 0;
  while (frames.size() < limit && source.ReadFrame(id, frame.data, frame.header, time) == kReadFrame) {
    EXPECT_EQ(id, 3);
    EXPECT_EQ(time, frame.header.Stamp);
    EXPECT_EQ(frame.header.DataSize, static_cast<std::int32_t>(frame.data.size()));
    frames.push_back(frame);
  }
  return frames;
}

std::unique_ptr<TMpegFile> Open(const std::string& path) {
  auto source = std::make_unique<TMpegFile>(3, path);
  TVideoSourceOptions options;
  options.FileName = path;
  EXPECT_TRUE(source->Probe(options)) << source->GetLastError();
  EXPECT_TRUE(source->IsValid());
  EXPECT_TRUE(source->Reopen());
  EXPECT_TRUE(source->IsActive());
  return source;
}

TEST(MpegFile, ScansMpeg4PictureTypes) {
  struct TCase {
    std::vector<std::uint8_t> bytes;
    std::uint8_t type;
  } cases[] = {
      {{0, 0, 1, 0xB6, 0x40}, kFramePredictedMpeg4},
      {{0, 0, 1, 0xB6, 0x12}, kFrameKey},
      {{0, 0, 1, 0xB6}, 0},                               // 4 bytes are never scanned
      {{0, 0, 1, 0xB6, 0x80}, 0},                         // B picture: no change
      {{9, 0, 0, 1, 0xB6, 0x00, 0, 0, 1, 0xB6, 0x55}, kFramePredictedMpeg4},  // the last code decides
      {{0, 0, 1, 0xB6, 0x00, 0, 0, 1, 0xB6, 0xC0}, kFrameKey},  // a later S picture changes nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScanPictureType(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size())), c.type);
  }
}

struct TKindCase {
  const char* name;
  const char* format;
  TVideoCodec codec;
  std::uint8_t kind;
};

TEST(MpegFile, TypesVideoPacketsByCodec) {
  const TKindCase cases[] = {
      {"raw.h264", "h264", TVideoCodec::H264, 3},
      {"raw.m4v", "m4v", TVideoCodec::Mpeg4, 15},
      {"raw.mjpeg", "mjpeg", TVideoCodec::Mjpeg420, 16},
      {"h264.ts", "mpegts", TVideoCodec::H264, 3},
      {"mpeg4.avi", "avi", TVideoCodec::Mpeg4, 15},
  };
  for (const TKindCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TVideoSettings settings = Video(c.codec);
    auto source = Open(Write(c.name, c.format, &settings, nullptr));
    int width = 0, height = 0;
    source->GetPictureSize(width, height);
    EXPECT_EQ(width, 176);
    EXPECT_EQ(height, 144);
    const auto frames = ReadAll(*source);
    ASSERT_EQ(frames.size(), 20u);
    int keys = 0, predicted = 0;
    for (const TFrame& frame : frames) {
      EXPECT_EQ(frame.header.StreamKind, c.kind);
      keys += frame.header.FrameType == kFrameKey;
      predicted += frame.header.FrameType == kFramePredictedMpeg4;
    }
    if (c.codec == TVideoCodec::Mjpeg420) {
      EXPECT_EQ(keys, 20);
    } else {
      EXPECT_EQ(keys, 2);  // one per group of 10
      EXPECT_EQ(frames[0].header.FrameType, kFrameKey);
      EXPECT_EQ(frames[10].header.FrameType, kFrameKey);
    }
    EXPECT_EQ(predicted, c.codec == TVideoCodec::Mpeg4 ? 18 : 0);
    // The end of the file stays the end.
    std::int32_t id;
    std::vector<std::uint8_t> data;
    TFrameHeader header;
    TDateTime time;
    EXPECT_EQ(source->ReadFrame(id, data, header, time), kReadPastEnd);
    EXPECT_EQ(source->ReadFrame(id, data, header, time), kReadPastEnd);
    // Key frames only.
    source->GoToStart();
    source->SetKeyFramesOnly(true);
    EXPECT_EQ(ReadAll(*source).size(), static_cast<std::size_t>(keys));
  }
}

TEST(MpegFile, RejectsFilesItCannotPlayWithTheirTexts) {
  const TAudioSettings audio = Audio(TAudioCodec::Mulaw);
  const std::string wav = Write("sound.wav", "wav", nullptr, &audio);
  const std::string folder = ExtractFilePath(wav);
  const std::string text = folder + "notes.txt";
  const std::string line = "this is not a video\n";
  std::string body;
  for (int i = 0; i < 50; ++i) body += line;
  ASSERT_TRUE(WriteWholeFile(text, body.data(), static_cast<std::int64_t>(body.size())));
  struct TCase {
    std::string path;
    std::vector<std::string> texts;
  } cases[] = {
      // libavformat may also take text for a picture stream of a codec no
      // decoder exists for.
      {text, {"unable to open mpeg file", "not a valid mpeg stream", "could not find a video stream"}},
      {wav, {"could not find a video stream"}},
      {folder + "missing.mpg", {""}},
  };
  for (const TCase& c : cases) {
    TMpegFile source(0, c.path);
    TVideoSourceOptions options;
    options.FileName = c.path;
    EXPECT_FALSE(source.Probe(options)) << c.path;
    EXPECT_FALSE(source.IsValid());
    EXPECT_FALSE(source.Start(options));
    EXPECT_NE(std::find(c.texts.begin(), c.texts.end(), source.GetLastError()), c.texts.end())
        << c.path << ": " << source.GetLastError();
    std::int32_t id;
    std::vector<std::uint8_t> data;
    TFrameHeader header;
    TDateTime time;
    EXPECT_EQ(source.ReadFrame(id, data, header, time), kReadPastEnd);
  }
}

TEST(MpegFile, InventsADayLongTimeAxis) {
  const TVideoSettings settings = Video(TVideoCodec::Mjpeg420);
  const std::string path = Write("clip.mjpeg", "mjpeg", &settings, nullptr);
  auto source = Open(path);
  const TDateTime start = source->GetStartTime();
  EXPECT_EQ(start, DateOf(FileModifiedDateTime(path)));
  EXPECT_EQ(source->GetDescription(), "Raw mpeg file");
  EXPECT_EQ(source->GetFrameRate(), -1);
  EXPECT_TRUE(source->HasFrameRateChoice());
  EXPECT_FALSE(source->CanPlayBackward());
  EXPECT_EQ(source->GetDisplayName(), "clip.mjpeg");
  TTimeSegments segments;
  source->GetSegments(segments);
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].Start, start);
  EXPECT_EQ(segments[0].End, start + 1);
  TDvrInfo info;
  source->GetInfo(info);
  EXPECT_EQ(info.DvrName, "N/A");
  EXPECT_EQ(info.EndTime, start + 1);
  std::string dvr = "kept", channel = "kept";
  TDateTime from = 0, to = 0;
  EXPECT_FALSE(source->GetClipInfo(dvr, channel, from, to));
  EXPECT_EQ(dvr, "kept");
  EXPECT_EQ(to, start + 1);
  TFrameError error;
  EXPECT_TRUE(source->VerifyFrames(error));
}

TEST(MpegFile, TheUsersFrameRateChoiceCountsFrames) {
  const TVideoSettings settings = Video(TVideoCodec::Mjpeg420);
  auto source = Open(Write("clip.mjpeg", "mjpeg", &settings, nullptr));
  const TDateTime start = source->GetStartTime();
  EXPECT_EQ(source->GetPosition(), start);
  source->SetFrameRate(25);
  const auto frames = ReadAll(*source, 3);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(Ms(frames[0].header.Stamp, start), 80);
  EXPECT_EQ(Ms(frames[2].header.Stamp, start), 160);
  EXPECT_EQ(source->GetPosition(), frames[2].header.Stamp);
}

TEST(MpegFile, StampsComeFromDecodingTimeStampsWhenPresent) {
  const TVideoSettings settings = Video(TVideoCodec::H264);
  auto source = Open(Write("clip.ts", "mpegts", &settings, nullptr));
  const auto frames = ReadAll(*source);
  ASSERT_EQ(frames.size(), 20u);
  const TDateTime start = source->GetStartTime();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    // 25 frames per second, each stamp marking the end of its frame.
    EXPECT_NEAR(static_cast<double>(Ms(frames[i].header.Stamp, start)), 40.0 * (i + 1), 1.0) << i;
  }
}

TEST(MpegFile, SeeksByBytePositionWithinTheDay) {
  const TVideoSettings settings = Video(TVideoCodec::Mjpeg420, 100);
  auto source = Open(Write("clip.mjpeg", "mjpeg", &settings, nullptr));
  const TDateTime start = source->GetStartTime();
  EXPECT_EQ(source->Seek(start + 1.5), start);  // outside the day: nothing happens
  EXPECT_EQ(ReadAll(*source).size(), 100u);
  EXPECT_EQ(source->Seek(start + 0.5), start + 0.5);
  const std::size_t rest = ReadAll(*source).size();
  EXPECT_GT(rest, 40u);  // from about the middle byte
  EXPECT_LT(rest, 60u);
  EXPECT_EQ(source->GoToEnd(), start + 0.99);
  EXPECT_LE(ReadAll(*source).size(), 2u);  // 99 % of the file
  EXPECT_EQ(source->GoToStart(), start);
  EXPECT_EQ(ReadAll(*source).size(), 100u);
  EXPECT_EQ(source->GetLastError(), "");
}

struct TAudioFileCase {
  const char* name;
  const char* format;
  TVideoCodec video;
  TAudioCodec audio;
  std::uint8_t codecKind;
};

TEST(MpegFile, AnnouncesEachAudioStreamSoItsSoundDecodes) {
  const TAudioFileCase cases[] = {
      {"h264_aac.ts", "mpegts", TVideoCodec::H264, TAudioCodec::Aac, 19},
      {"mpeg4_mulaw.avi", "avi", TVideoCodec::Mpeg4, TAudioCodec::Mulaw, 17},
      {"h264_g726.avi", "avi", TVideoCodec::H264, TAudioCodec::G726, 18},
  };
  for (const TAudioFileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TVideoSettings video = Video(c.video);
    const TAudioSettings audio = Audio(c.audio);
    auto source = Open(Write(c.name, c.format, &video, &audio));
    const auto frames = ReadAll(*source);
    std::size_t headerAt = frames.size(), firstBlock = frames.size(), headers = 0, videoFrames = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const TFrameHeader& h = frames[i].header;
      if (h.StreamKind != 20) {
        ++videoFrames;
        continue;
      }
      if (h.FrameType == kFrameAudioHeader) {
        ++headers;
        headerAt = std::min(headerAt, i);
      } else {
        EXPECT_EQ(h.FrameType, kFrameAudio);
        firstBlock = std::min(firstBlock, i);
      }
    }
    EXPECT_EQ(videoFrames, 20u);
    ASSERT_EQ(headers, 1u);
    ASSERT_LT(headerAt, firstBlock);
    ASSERT_EQ(frames[headerAt].data.size(), 13u);
    const TAudioHeader header = ParseAudioHeader(frames[headerAt].data.data());
    EXPECT_EQ(header.CodecKind, c.codecKind);
    EXPECT_EQ(header.Channels, 1);
    EXPECT_EQ(header.SampleRate, audio.SampleRate);
    if (c.audio == TAudioCodec::Aac) {
      EXPECT_GT(header.BitRate, 0);  // measured by the demuxer
    } else {
      EXPECT_EQ(header.BitRate, c.audio == TAudioCodec::G726 ? 32000 : 64000);
    }

    // Every frame through the audio decoder: the sound decodes.
    TDecodeMPEG_Audio decoder(1);
    std::size_t pcmBytes = 0;
    decoder.SetOnFrame([&](const TFrameInfo& info, const std::uint8_t*) { pcmBytes += info.DataSize; });
    int failures = 0;
    for (const TFrame& frame : frames) {
      if (frame.header.StreamKind == 20) failures += decoder.Decode(frame.header, frame.data.data()) < 0;
    }
    EXPECT_EQ(failures, 0);
    // Most of 0.8 s of 16-bit sound came out (AAC loses its priming frames).
    EXPECT_GT(pcmBytes, static_cast<std::size_t>(audio.SampleRate * 2 * 0.6));
  }
}

TEST(MpegFile, PlaysThroughTheDecoderRouter) {
  const TVideoSettings video = Video(TVideoCodec::H264);
  const TAudioSettings audio = Audio(TAudioCodec::Aac);
  auto source = Open(Write("clip.ts", "mpegts", &video, &audio));
  TDecoderRouter router;
  router.AddChannel(3, 300);
  router.SetSound(true);
  router.SelectSoundChannel(3);
  int pictures = 0, blocks = 0;
  router.SetOnFrame([&](int channel, const TFrameInfo& info, const std::uint8_t*) {
    EXPECT_EQ(channel, 3);
    (info.IsAudio ? blocks : pictures)++;
  });
  for (const TFrame& frame : ReadAll(*source)) router.DeliverFrame(3, frame.header, frame.data.data());
  EXPECT_EQ(pictures, 20);  // no delay without B frames
  EXPECT_GT(blocks, 5);
  int width = 0, height = 0;
  ASSERT_TRUE(router.PictureSize(3, width, height));
  EXPECT_EQ(width, 176);
}

}  // namespace
}  // namespace ospry
