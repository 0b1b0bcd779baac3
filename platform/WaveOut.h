#pragma once
// The sound output that decoded PCM blocks are written to. The playback layer
// provides the real wave stream (PulseAudio); tests provide recording ones.
#include <cstdint>
#include <functional>
#include <memory>

namespace ospry {

// Signed 16-bit little-endian interleaved PCM unless bitsPerSample says
// otherwise.
struct TWaveFormat {
  int channels = 1;
  int sampleRate = 8000;
  int bitsPerSample = 16;
  bool operator==(const TWaveFormat&) const = default;
};

class IWaveOutput {
public:
  virtual ~IWaveOutput() = default;
  // Opens the default output for format, closing first when open. False when
  // the device refuses; later writes are then ignored.
  virtual bool Open(const TWaveFormat& format) = 0;
  // Queues size bytes of samples; ignored while closed or when size <= 0.
  virtual void Write(const std::uint8_t* samples, std::int32_t size) = 0;
  // Plays out what was queued, then closes.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
};

using TWaveOutputFactory = std::function<std::unique_ptr<IWaveOutput>()>;

}  // namespace ospry
