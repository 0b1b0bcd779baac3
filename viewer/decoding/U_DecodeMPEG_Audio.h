#pragma once
// The FFmpeg audio decoder: G.711 µ-law, G.726 and AAC (stream kinds 17, 18
// and 20). The codec and its parameters come from a 13-byte audio header that
// arrives as a stream-header frame (FrameType 15 or 16, DataSize exactly 13):
//   offset 0, 1 byte: codec kind (17 µ-law, 18 G.726, 19 AAC)
//   offset 1, 4 bytes LE: channel count
//   offset 5, 4 bytes LE: bit rate in bits per second
//   offset 9, 4 bytes LE: sample rate in Hz
// µ-law always opens at 1 channel, 8,000 Hz, 64,000 bit/s. Every later frame
// is decoded into interleaved signed 16-bit PCM (at most kMaxPcmBytes per
// frame; the rest is dropped) and handed to the callback with IsAudio true,
// Width and Height 0, Stamp and FrameType from the frame's header and the
// AudioFormat of the decoded sound (BitsPerSecondPerChannel = rate x 16).
//
// Results of Decode: -1 nothing decoded (no codec open, an unusable header, or
// the codec rejected the frame); 0 a header opened the codec (its 13 bytes are
// not decoded as sound); 1 a frame was decoded and handed on (DataSize 0 when
// the codec produced nothing).
//
// Without a callback the PCM goes to the decoder's own wave output, made by
// the factory given at construction and opened with each codec (nothing is
// played without a factory). Open is Decode; Stop and ResetBuffers do nothing.
//
// Threading: Open, Decode and Close run on one thread at a time (the router's
// frame lock or destruction); SetOnFrame on any thread. The callback runs on
// the thread calling Decode under the callback lock, never under the named
// mutex; the payload must be copied before returning.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Locks.h"
#include "platform/NamedMutex.h"
#include "platform/WaveOut.h"
#include "viewer/decoding/U_AvHandles.h"
#include "viewer/decoding/U_DecodeBase.h"

namespace ospry {

inline constexpr int kAudioHeaderBytes = 13;

// The 13-byte audio header.
struct TAudioHeader {
  std::uint8_t CodecKind = 0;  // 17 µ-law, 18 G.726, 19 AAC
  std::int32_t Channels = 0;
  std::int32_t BitRate = 0;     // bits per second
  std::int32_t SampleRate = 0;  // Hz
};
TAudioHeader ParseAudioHeader(const std::uint8_t* bytes);  // reads 13 bytes
std::array<std::uint8_t, kAudioHeaderBytes> EncodeAudioHeader(const TAudioHeader& header);

class TDecodeMPEG_Audio final : public TDecodeBase {
public:
  static constexpr int kMaxPcmBytes = 192000;

  explicit TDecodeMPEG_Audio(TWindowHandle window, TWaveOutputFactory waveFactory = {});
  ~TDecodeMPEG_Audio() override;

  void Open(const TFrameHeader& header, const std::uint8_t* payload) override { Decode(header, payload); }
  int Decode(const TFrameHeader& header, const std::uint8_t* payload) override;
  void Close() override;
  void SetOnFrame(TDecodedFrameEvent callback) override;

  bool IsOpen() const { return context_ != nullptr; }

private:
  void OpenCodec(const TAudioHeader& header);
  // Appends the frame's samples as interleaved s16 to the PCM buffer.
  void AppendPcm(const AVFrame* frame);

  TAvCodecContextPtr context_;  // decoding thread only
  TAvFramePtr frame_;           // decoding thread only
  TSwrContextPtr resampler_;    // decoding thread only
  int resamplerFormat_ = -1;    // decoding thread only: input format, rate and channels of resampler_
  std::unique_ptr<IWaveOutput> wave_;  // decoding thread only
  std::array<std::uint8_t, kAudioHeaderBytes> audioHeader_{};  // decoding thread only
  std::vector<std::uint8_t> pcm_;  // decoding thread only; kMaxPcmBytes
  int pcmBytes_ = 0;
  int pcmRate_ = 0;
  int pcmChannels_ = 0;
  TNamedMutex apiMutex_;
  TLock callbackLock_;
  TDecodedFrameEvent onFrame_;  // guarded by callbackLock_
};

}  // namespace ospry
