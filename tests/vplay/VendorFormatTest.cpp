// The vendor stream format: header fields, and frames surviving the trip
// through program-stream packets however the bytes are cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/vplay/VPlayLibrary.h"
#include "tools/writer/vendor/VendorWriter.h"
#include "vplay/VendorFormat.h"

namespace ospry {
namespace {

using vendor::TEsFrame;
using vendor::TPsParser;
using vendor::TStreamHeader;

std::string Bytes(std::size_t size, int seed) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  // Start codes inside the payload must not confuse the parser.
  if (size > 8) std::memcpy(s.data() + 4, "\x00\x00\x01\xBA", 4);
  return s;
}

TEST(VendorFormat, HeaderFieldsSitAtTheirOffsets) {
  TStreamHeader header;
  header.width = 352;
  header.height = 288;
  header.audioCodec = vendor::kAudioMulaw;
  header.channels = 2;
  header.bitsPerSample = 16;
  header.sampleRate = 8000;
  const std::string bytes = header.Encode();
  ASSERT_EQ(bytes.size(), 40u);
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  EXPECT_EQ(std::memcmp(p, "IMKH", 4), 0);
  EXPECT_EQ(p[12] | (p[13] << 8), vendor::kAudioMulaw);
  EXPECT_EQ(p[14], 2);
  EXPECT_EQ(p[15], 16);
  EXPECT_EQ(p[16] | (p[17] << 8) | (p[18] << 16) | (p[19] << 24), 8000);
  EXPECT_TRUE(std::all_of(bytes.begin() + 28, bytes.end(), [](char c) { return c == 0; }));

  TStreamHeader back;
  ASSERT_TRUE(TStreamHeader::Decode(p, bytes.size(), back));
  EXPECT_EQ(back.width, 352);
  EXPECT_EQ(back.height, 288);
  EXPECT_EQ(back.PcmChannels(), 2);
  EXPECT_EQ(back.PcmSampleRate(), 8000);
}

TEST(VendorFormat, HeaderDecodeRefusesShortForeignAndUnknownVersions) {
  std::string good = TStreamHeader{}.Encode();
  TStreamHeader out;
  EXPECT_FALSE(TStreamHeader::Decode(reinterpret_cast<const std::uint8_t*>(good.data()), 39, out));
  EXPECT_FALSE(TStreamHeader::Decode(nullptr, 40, out));
  std::string foreign = good;
  foreign[0] = 'X';
  EXPECT_FALSE(TStreamHeader::Decode(reinterpret_cast<const std::uint8_t*>(foreign.data()), 40, out));
  std::string future = good;
  future[4] = 9;
  EXPECT_FALSE(TStreamHeader::Decode(reinterpret_cast<const std::uint8_t*>(future.data()), 40, out));
}

TEST(VendorFormat, DefaultAudioCodeIgnoresTheHeaderFields) {
  TStreamHeader header;
  header.audioCodec = vendor::kAudioDefault;
  header.channels = 2;
  header.sampleRate = 44100;
  EXPECT_EQ(header.PcmChannels(), 1);
  EXPECT_EQ(header.PcmSampleRate(), 16000);
}

// Frames of several sizes (one spanning three PES packets) cut into pieces of
// various sizes come back whole, in order, with their stamps and key flags.
TEST(VendorFormat, FramesSurviveAnyCutOfTheStream) {
  const std::vector<std::size_t> sizes = {1, 100, 65000, 65001, 140000, 7};
  std::string stream("garbage\x00\x00\x01", 10);  // skipped up to the first pack
  std::vector<std::string> payloads;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    payloads.push_back(Bytes(sizes[i], static_cast<int>(i)));
    const auto type = i % 2 == 0 ? vendor::TStreamType::Video : vendor::TStreamType::Audio;
    stream += vendor::PackFrame(type, 90000 + static_cast<std::int64_t>(i) * 3600,
                                reinterpret_cast<const std::uint8_t*>(payloads.back().data()), sizes[i], i == 0, i == 0);
  }
  for (std::size_t piece : {std::size_t{1}, std::size_t{5}, std::size_t{4096}, stream.size()}) {
    SCOPED_TRACE(piece);
    TPsParser parser;
    std::vector<TEsFrame> frames;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      parser.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()) + at, std::min(piece, stream.size() - at));
      TEsFrame frame;
      while (parser.Next(frame)) frames.push_back(frame);
    }
    ASSERT_EQ(frames.size(), sizes.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].data, payloads[i]) << i;
      EXPECT_EQ(frames[i].pts90k, 90000 + static_cast<std::int64_t>(i) * 3600);
      EXPECT_EQ(frames[i].stream, i % 2 == 0 ? vendor::TStreamType::Video : vendor::TStreamType::Audio);
      EXPECT_EQ(frames[i].isKey, i == 0);
    }
  }
}

TEST(VendorFormat, ParserDropsCutOffFramesAndResumesAtTheNextOne) {
  const std::string a = Bytes(3000, 1);
  const std::string b = Bytes(200, 2);
  const std::string first = vendor::PackFrame(vendor::TStreamType::Video, 1000,
                                              reinterpret_cast<const std::uint8_t*>(a.data()), a.size(), true, true);
  const std::string second = vendor::PackFrame(vendor::TStreamType::Video, 4600,
                                               reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), false, false);
  // The first frame loses its start (as after a reset mid-frame).
  const std::string stream = first.substr(first.size() / 2) + second;
  TPsParser parser;
  parser.Feed(reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size());
  parser.Flush();
  TEsFrame frame;
  ASSERT_TRUE(parser.Next(frame));
  EXPECT_EQ(frame.data, b);
  EXPECT_FALSE(parser.Next(frame));
}

// Random bytes sprinkled with start codes: the parser neither crashes nor
// holds on to more than an incomplete packet.
TEST(VendorFormat, RandomBytesAreSkippedWithinBoundedMemory) {
  std::uint32_t seed = 12345;
  std::string noise(200000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) {
    seed = seed * 1103515245 + 12345;
    noise[i] = static_cast<char>(seed >> 24);
    if (i % 997 == 0 && i + 4 < noise.size()) {
      std::memcpy(noise.data() + i, i % 2 == 0 ? "\x00\x00\x01\xE0" : "\x00\x00\x01\xBA", 4);
      i += 3;
    }
  }
  TPsParser parser;
  for (std::size_t at = 0; at < noise.size(); at += 1000) {
    parser.Feed(reinterpret_cast<const std::uint8_t*>(noise.data()) + at, 1000);
    EXPECT_LE(parser.Pending(), 65536u + 1000u);
    TEsFrame frame;
    while (parser.Next(frame)) EXPECT_LE(frame.data.size(), vendor::kMaxFrameBytes);
  }
  parser.Flush();
}

TEST(VendorFormat, OversizedFramesAreRefusedByTheWriter) {
  EXPECT_TRUE(writer::TVendorMuxer::VideoFrame(nullptr, vendor::kMaxFrameBytes + 1, 0, true).bytes.empty());
}

TEST(VendorFormat, MulawDecodesToTheG711Values) {
  struct TCase {
    std::uint8_t code;
    std::int16_t linear;
  };
  for (const TCase& c : {TCase{0xFF, 0}, TCase{0x7F, 0}, TCase{0x80, 32124}, TCase{0x00, -32124},
                         TCase{0xF0, 120}, TCase{0x70, -120}}) {
    EXPECT_EQ(vendor::MulawToLinear(c.code), c.linear) << int(c.code);
  }
}

TEST(VendorFormat, PtsDifferencesWrapAt33Bits) {
  const std::int64_t wrap = std::int64_t{1} << 33;
  EXPECT_EQ(vendor::PtsDelta(100, wrap - 100), 200);
  EXPECT_EQ(vendor::PtsDelta(wrap - 100, 100), -200);
}

TEST(VPlayLibrary, ExportsEveryEntryPointByName) {
  test::TVPlay& vplay = test::Library();
  for (const char* name : kVPlayEntryNames) EXPECT_NE(vplay.Symbol(name), nullptr) << name;
  EXPECT_NE(vplay.Symbol("VPlay_SetOutputFactories"), nullptr);
  EXPECT_NE(vplay.Symbol("VPlay_SetClock"), nullptr);
  // The library's own modules stay private.
  EXPECT_EQ(vplay.Symbol("_ZN5ospry11SystemClockEv"), nullptr);
}

}  // namespace
}  // namespace ospry
