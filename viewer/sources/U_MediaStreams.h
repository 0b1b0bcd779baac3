#pragma once
// How streams demultiplexed by libavformat map onto stream kinds, and the
// 13-byte audio header the audio decoder opens from. The MPEG file source and
// the packing tool both use them, so a packed clip carries exactly the bytes
// a played MPEG file delivers. Pure functions; any thread.
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavcodec/codec_par.h>
#include <libavformat/avformat.h>
}

namespace ospry {

constexpr std::uint8_t kStreamKindH264 = 3;
constexpr std::uint8_t kStreamKindMpeg4 = 15;
constexpr std::uint8_t kStreamKindMjpeg = 16;
constexpr std::uint8_t kCodecKindMulaw = 17;
constexpr std::uint8_t kCodecKindG726 = 18;
constexpr std::uint8_t kCodecKindAac = 19;
constexpr int kAudioHeaderBytes = 13;
constexpr double kDefaultFrameMs = 40;

// 3 (H.264), 15 (MPEG-4 part 2) or 16 (Motion JPEG); 0 for any other codec.
std::uint8_t VideoStreamKind(AVCodecID id);
// The audio header's codec kind: 17 (G.711 µ-law), 18 (G.726) or 19 (AAC);
// 0 for any other codec.
std::uint8_t AudioCodecKind(AVCodecID id);
// Codec kind, channel count, bit rate (channels' bits per sample times the
// sample rate when the stream states none) and sample rate, little-endian.
std::vector<std::uint8_t> MakeAudioHeader(const AVCodecParameters& parameters);
// One frame's length from the stream's frame rate; kDefaultFrameMs when the
// stream has no rate between 1 and 10,000 ms a frame.
double FrameDurationMs(const AVStream& stream);

}  // namespace ospry
