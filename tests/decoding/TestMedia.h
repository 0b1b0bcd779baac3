#pragma once
// Fixtures for the decoding tests: encoded media (cached per settings for the
// run) and plain-libavcodec reference decodes to compare against.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/media/MediaWriter.h"
#include "viewer/decoding/U_FrameInfo.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry::test {

// Packets of settings, encoded once per run.
const std::vector<media::TEncodedPacket>& VideoPackets(const media::TVideoSettings& settings);
const std::vector<media::TEncodedPacket>& AudioPackets(const media::TAudioSettings& settings);

// A decoded picture as 8-bit planes, rows tightly packed.
struct TRefPicture {
  int Width = 0;
  int Height = 0;
  int Format = -1;  // AVPixelFormat of the codec's output
  std::vector<std::uint8_t> Y, U, V;
  int ChromaWidth = 0, ChromaHeight = 0;
};

// Decodes packets with plain libavcodec (one thread), draining at the end.
// codecName: "h264", "mpeg4", "mjpeg".
std::vector<TRefPicture> ReferenceDecode(const std::string& codecName, const std::vector<media::TEncodedPacket>& packets);
// The picture converted to planar 4:2:0 by libswscale (bilinear).
TRefPicture ToYuv420(const TRefPicture& picture);

// PCM of a plain-libavcodec decode of audio packets, interleaved s16.
std::vector<std::int16_t> ReferenceDecodeAudio(const std::string& codecName, int channels, int sampleRate,
                                               int bitRate, const std::vector<media::TEncodedPacket>& packets);

// What a decoder's callback received.
struct TDelivered {
  TFrameInfo Info;
  std::vector<std::uint8_t> Payload;
};

// A fresh empty folder under the temporary folder for this test binary.
std::string TestFolder();

}  // namespace ospry::test
