#include <gtest/gtest.h>

#include <cstring>

#include "tests/decoding/TestMedia.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"

namespace ospry {
namespace {

using media::TAudioCodec;
using media::TAudioSettings;
using test::TDelivered;

constexpr TWindowHandle kWindow = 7;

TAudioSettings Settings(TAudioCodec codec, int rate, int channels, int bitRate, double seconds = 0.5) {
  TAudioSettings settings;
  settings.Codec = codec;
  settings.SampleRate = rate;
  settings.Channels = channels;
  settings.BitRate = bitRate;
  settings.Seconds = seconds;
  return settings;
}

TFrameHeader AudioHeaderFrame(std::int32_t size = kAudioHeaderBytes, std::uint8_t type = kFrameAudioHeader) {
  TFrameHeader header;
  header.StreamKind = 20;
  header.FrameType = type;
  header.DataSize = size;
  header.Stamp = 46000;
  return header;
}

TFrameHeader BlockFrame(const media::TEncodedPacket& packet, int index) {
  TFrameHeader header;
  header.StreamKind = 20;
  header.FrameType = kFrameAudio;
  header.DataSize = static_cast<std::int32_t>(packet.Data.size());
  header.Stamp = 46000 + index / 100.0;
  return header;
}

// A wave output that records what it is asked to do.
struct TWaveLog {
  std::vector<TWaveFormat> opened;
  int closed = 0;
  std::size_t bytes = 0;
};

class TRecordingWave final : public IWaveOutput {
public:
  explicit TRecordingWave(TWaveLog& log) : log_(log) {}
  bool Open(const TWaveFormat& format) override {
    log_.opened.push_back(format);
    open_ = true;
    return true;
  }
  void Write(const std::uint8_t*, std::int32_t size) override {
    if (open_ && size > 0) log_.bytes += size;
  }
  void Close() override {
    ++log_.closed;
    open_ = false;
  }
  bool IsOpen() const override { return open_; }

private:
  TWaveLog& log_;
  bool open_ = false;
};

struct TAudioCase {
  const char* name;
  TAudioSettings settings;
  TAudioHeader header;       // what the stream header announces
  const char* codecName;
  int expectRate, expectChannels;
};

TEST(DecodeMPEG_Audio, DecodesEachCodecToInterleaved16BitPcm) {
  const TAudioCase cases[] = {
      // µ-law always opens at 1 channel, 8,000 Hz, whatever the header says.
      {"mulaw", Settings(TAudioCodec::Mulaw, 8000, 1, 64000), {17, 2, 64000, 16000}, "pcm_mulaw", 8000, 1},
      {"g726", Settings(TAudioCodec::G726, 8000, 1, 32000), {18, 1, 32000, 8000}, "g726", 8000, 1},
      {"aac stereo", Settings(TAudioCodec::Aac, 44100, 2, 128000), {19, 2, 128000, 44100}, "aac", 44100, 2},
  };
  for (const TAudioCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto& packets = test::AudioPackets(c.settings);
    ASSERT_FALSE(packets.empty());
    TDecodeMPEG_Audio decoder(kWindow);
    std::vector<TDelivered> delivered;
    decoder.SetOnFrame([&](const TFrameInfo& info, const std::uint8_t* payload) {
      delivered.push_back({info, std::vector<std::uint8_t>(payload, payload + info.DataSize)});
    });
    const auto headerBytes = EncodeAudioHeader(c.header);
    EXPECT_EQ(decoder.Decode(AudioHeaderFrame(), headerBytes.data()), 0);
    ASSERT_TRUE(decoder.IsOpen());
    EXPECT_TRUE(delivered.empty());  // the header's own bytes are not sound
    std::vector<std::int16_t> pcm;
    for (std::size_t i = 0; i < packets.size(); ++i) {
      const TFrameHeader header = BlockFrame(packets[i], static_cast<int>(i));
      EXPECT_EQ(decoder.Decode(header, packets[i].Data.data()), 1);
      const TFrameInfo& info = delivered.back().Info;
      EXPECT_EQ(info.Stamp, header.Stamp);
      EXPECT_EQ(info.FrameType, kFrameAudio);
      EXPECT_TRUE(info.IsAudio);
      EXPECT_EQ(info.Width, 0);
      EXPECT_EQ(info.Window, kWindow);
      EXPECT_LE(info.DataSize, TDecodeMPEG_Audio::kMaxPcmBytes);
      if (info.DataSize > 0) {
        EXPECT_TRUE(info.AudioFormat.Valid);
        EXPECT_EQ(info.AudioFormat.SampleRate, c.expectRate);
        EXPECT_EQ(info.AudioFormat.Channels, c.expectChannels);
        EXPECT_EQ(info.AudioFormat.BitsPerSecondPerChannel, c.expectRate * 16);
      }
      const auto& bytes = delivered.back().Payload;
      const std::size_t at = pcm.size();
      pcm.resize(at + bytes.size() / 2);
      std::memcpy(pcm.data() + at, bytes.data(), bytes.size() / 2 * 2);
    }
    const auto reference = test::ReferenceDecodeAudio(c.codecName, c.expectChannels, c.expectRate,
                                                      c.settings.Codec == TAudioCodec::G726 ? 32000 : 64000, packets);
    ASSERT_EQ(pcm.size(), reference.size());
    int worst = 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) worst = std::max(worst, std::abs(pcm[i] - reference[i]));
    EXPECT_LE(worst, 1);
  }
}

TEST(DecodeMPEG_Audio, BlocksBeforeAUsableHeaderAreDropped) {
  const auto& packets = test::AudioPackets(Settings(TAudioCodec::Mulaw, 8000, 1, 64000));
  TDecodeMPEG_Audio decoder(kWindow);
  int calls = 0;
  decoder.SetOnFrame([&](const TFrameInfo&, const std::uint8_t*) { ++calls; });
  EXPECT_EQ(decoder.Decode(BlockFrame(packets[0], 0), packets[0].Data.data()), -1);
  // Headers of the wrong length, or of a codec kind outside the table.
  std::uint8_t bytes[14] = {17, 1, 0, 0, 0, 0, 0xfa, 0, 0, 0x40, 0x1f, 0, 0, 0};
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(12), bytes), -1);
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(14), bytes), -1);
  EXPECT_FALSE(decoder.IsOpen());
  const auto unknown = EncodeAudioHeader({21, 1, 64000, 8000});
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(), unknown.data()), -1);
  // Garbage parameters for a real codec.
  const auto hugeChannels = EncodeAudioHeader({19, 100000, 64000, 44100});
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(), hugeChannels.data()), -1);
  const auto negativeRate = EncodeAudioHeader({18, 1, 32000, -8000});
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(), negativeRate.data()), -1);
  EXPECT_EQ(decoder.Decode(BlockFrame(packets[0], 0), packets[0].Data.data()), -1);
  EXPECT_EQ(calls, 0);
  // A 13-byte header typed as a stream header (15) is accepted too.
  const auto good = EncodeAudioHeader({17, 1, 64000, 8000});
  EXPECT_EQ(decoder.Decode(AudioHeaderFrame(kAudioHeaderBytes, kFrameStreamHeader), good.data()), 0);
  EXPECT_EQ(decoder.Decode(BlockFrame(packets[0], 0), packets[0].Data.data()), 1);
  EXPECT_EQ(calls, 1);
}

TEST(DecodeMPEG_Audio, EachHeaderReopensCodecAndWaveOutput) {
  const auto& mulaw = test::AudioPackets(Settings(TAudioCodec::Mulaw, 8000, 1, 64000));
  TWaveLog log;
  {
    TDecodeMPEG_Audio decoder(kWindow, [&log] { return std::make_unique<TRecordingWave>(log); });
    const auto first = EncodeAudioHeader({17, 2, 64000, 16000});
    decoder.Decode(AudioHeaderFrame(), first.data());
    decoder.Decode(BlockFrame(mulaw[0], 0), mulaw[0].Data.data());
    ASSERT_EQ(log.opened.size(), 1u);
    EXPECT_EQ(log.opened[0], (TWaveFormat{1, 8000, 16}));
    EXPECT_EQ(log.bytes, mulaw[0].Data.size() * 2);  // no callback: the PCM went to the wave output
    const auto second = EncodeAudioHeader({19, 2, 128000, 44100});
    decoder.Decode(AudioHeaderFrame(), second.data());
    ASSERT_EQ(log.opened.size(), 2u);
    EXPECT_EQ(log.opened[1], (TWaveFormat{2, 44100, 16}));
    EXPECT_GE(log.closed, 1);
    // With a callback the wave output is still opened but not written.
    std::size_t before = log.bytes;
    decoder.SetOnFrame([](const TFrameInfo&, const std::uint8_t*) {});
    decoder.Decode(AudioHeaderFrame(), first.data());
    decoder.Decode(BlockFrame(mulaw[1], 1), mulaw[1].Data.data());
    EXPECT_EQ(log.opened.size(), 3u);
    EXPECT_EQ(log.bytes, before);
  }
  EXPECT_GE(log.closed, 3);  // destruction closes
}

}  // namespace
}  // namespace ospry
