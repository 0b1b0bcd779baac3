#pragma once
// The description of one decoded picture or sound block, as decoders hand it
// to their callback and as render throttles store it.
//
// Pictures are tightly packed YV12: the luma plane (Width x Height), then the
// Cr plane, then the Cb plane, each (Width / 2) x (Height / 2); DataSize is
// Width * Height * 3 / 2. Sound is interleaved signed 16-bit little-endian PCM.
#include <cstdint>
#include <functional>

#include "platform/DateTime.h"
#include "platform/WaveOut.h"
#include "platform/WindowHandle.h"

namespace ospry {

struct TAudioFormat {
  bool Valid = false;
  std::int32_t SampleRate = 0;
  std::int32_t Channels = 0;
  std::int32_t BitsPerSecondPerChannel = 0;  // SampleRate x bits per sample
  bool operator==(const TAudioFormat&) const = default;

  // The 16-bit PCM output format for the wave stream.
  TWaveFormat ToWaveFormat() const {
    TWaveFormat format;
    format.channels = Channels;
    format.sampleRate = SampleRate;
    format.bitsPerSample = SampleRate > 0 ? BitsPerSecondPerChannel / SampleRate : 16;
    return format;
  }
};

// Producers value-initialise it ({}), so fields they do not know are 0.
struct TFrameInfo {
  std::int32_t Width = 0;   // 0 for audio
  std::int32_t Height = 0;  // 0 for audio
  TWindowHandle Window = kNoWindow;  // the view the frame is for
  TDateTime Stamp = 0;
  std::int32_t FrameType = 0;  // header frame type, or the vendor library's (100, 101 audio)
  double FrameRate = 0;        // from the vendor library; 0 from FFmpeg
  std::int32_t DataSize = 0;   // payload bytes
  bool IsAudio = false;
  TAudioFormat AudioFormat;    // meaningful when IsAudio
};

// The decoders' callback. The payload is valid only during the call.
using TDecodedFrameEvent = std::function<void(const TFrameInfo& info, const std::uint8_t* payload)>;

}  // namespace ospry
