#include <gtest/gtest.h>

#include "platform/Files.h"
#include "tests/decoding/TestMedia.h"
#include "tools/writer/ClipWriter.h"
#include "tools/writer/media/MediaClip.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_IndexParser.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"
#include "viewer/decoding/U_DecoderRouter.h"

namespace ospry {
namespace {

using media::TAudioCodec;
using media::TVideoCodec;

struct TContainerCase {
  const char* name;
  TVideoCodec video;
  std::uint8_t videoKind;
  bool withAudio;
  TAudioCodec audio;
  std::uint8_t audioKind;   // stream kind of the audio frames
  std::uint8_t codecKind;   // codec kind in the audio header
  int bitRate;
};

constexpr TDateTime kStart = 46000.25;

// Media encoded at test time, stored in a clip container by the writer, read
// back through the container reader and routed frame by frame, stream
// headers first, as the clip file source and the main window do it.
TEST(ContainerDecode, FramesStoredInAClipContainerDecode) {
  const TContainerCase cases[] = {
      {"h264 + mulaw", TVideoCodec::H264, 3, true, TAudioCodec::Mulaw, 17, 17, 64000},
      {"mpeg4 + g726", TVideoCodec::Mpeg4, 13, true, TAudioCodec::G726, 18, 18, 32000},
      {"mjpeg 4:2:2", TVideoCodec::Mjpeg422, 16, false, TAudioCodec::Mulaw, 0, 0, 0},
  };
  for (const TContainerCase& c : cases) {
    SCOPED_TRACE(c.name);
    media::TVideoSettings video;
    video.Codec = c.video;
    video.Width = 176;
    video.Height = 144;
    video.Frames = 20;
    video.GopSize = 10;
    const auto& videoPackets = test::VideoPackets(video);
    media::TAudioSettings audio;
    audio.Codec = c.audio;
    audio.BitRate = c.bitRate;
    audio.Seconds = 0.8;
    const std::vector<media::TEncodedPacket> noAudio;
    const auto& audioPackets = c.withAudio ? test::AudioPackets(audio) : noAudio;

    const std::string path = test::TestFolder() + "clip.quern";
    {
      writer::TFileOutput out;
      ASSERT_TRUE(out.Create(path));
      writer::TContainerWriter container(out, false);
      media::AddEncodedClip(container, kStart, c.videoKind, videoPackets, c.audioKind, audioPackets);
      if (c.withAudio) {
        const auto header = EncodeAudioHeader({c.codecKind, 1, c.bitRate, 8000});
        container.AddHeader(c.audioKind, std::string_view(reinterpret_cast<const char*>(header.data()), header.size()));
      }
      ASSERT_TRUE(container.Finish());
      ASSERT_TRUE(out.Close());
    }

    TReadFile file(path);
    TClipReader reader(file, file.Size(), false);
    ASSERT_TRUE(reader.Valid()) << reader.Error();
    const TIndexParser& index = *reader.Index();

    TDecoderRouter router;
    router.AddChannel(0, 10);
    router.SetSound(true);
    router.SelectSoundChannel(0);
    std::vector<TFrameInfo> pictures;
    std::size_t pcmBytes = 0;
    router.SetOnFrame([&](int, const TFrameInfo& info, const std::uint8_t*) {
      if (info.IsAudio) {
        pcmBytes += info.DataSize;
        EXPECT_EQ(info.AudioFormat.SampleRate, 8000);
      } else {
        pictures.push_back(info);
      }
    });
    for (const THeaderEntry& entry : index.HeaderEntries()) {
      std::string data;
      ASSERT_TRUE(index.GetHeaderData(entry.StreamKind, data));
      TFrameHeader header;
      header.StreamKind = entry.StreamKind;
      header.FrameType = kFrameStreamHeader;
      header.DataSize = static_cast<std::int32_t>(data.size());
      router.DeliverFrame(0, header, reinterpret_cast<const std::uint8_t*>(data.data()));
    }
    std::vector<TDateTime> videoStamps;
    std::vector<std::uint8_t> bytes;
    for (const TFrameEntry& entry : index.Frames()) {
      bytes.resize(static_cast<std::size_t>(entry.DataSize));
      ASSERT_TRUE(file.PositionalReadExact(entry.Offset, bytes.data(), entry.DataSize));
      TFrameHeader header{entry.StreamKind, entry.FrameType, entry.DataSize, entry.Stamp};
      if (entry.StreamKind == c.videoKind) videoStamps.push_back(entry.Stamp);
      router.DeliverFrame(0, header, bytes.data());
    }
    EXPECT_EQ(router.GetLastError(), "");
    ASSERT_EQ(pictures.size(), videoPackets.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      EXPECT_EQ(pictures[i].Stamp, videoStamps[i]);
      EXPECT_EQ(pictures[i].Width, 176);
      EXPECT_EQ(pictures[i].DataSize, 176 * 144 * 3 / 2);
    }
    if (c.withAudio) {
      EXPECT_GE(pcmBytes, static_cast<std::size_t>(8000 * 2 * 0.7));
    } else {
      EXPECT_EQ(pcmBytes, 0u);
    }
  }
}

}  // namespace
}  // namespace ospry
