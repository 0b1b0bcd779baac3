#pragma once
// The FFmpeg video decoder: H.264 (stream kinds 3, 5, 6), MPEG-4 part 2 (13,
// 15) and Motion JPEG (16). It opens one libavcodec decoder on the first
// frame it is given (the kind of that frame fixes the codec for good),
// converts every decoded picture into one tightly packed YV12 buffer (Y, then
// Cr, then Cb) and hands it with a TFrameInfo to the callback.
//
// Results of Decode: -1 nothing decoded (the decoder is closed, the frame
// opened it, or the codec rejected the frame); 0 the frame was consumed and
// no picture is ready yet; 1 a picture was handed to the callback. The frame
// that opens the decoder is decoded at once, but Decode still returns -1 for
// it. A picture is delivered with the Stamp and FrameType of the frame just
// given to Decode, also when the codec delays its output.
//
// Pictures: W x H luma, then the Cr plane at W*H and the Cb plane at
// W*H + W*H/4, each (W/2) x (H/2) bytes; DataSize is W*H*3/2 (bytes of an odd
// size that no plane covers are 128). Planar 4:2:0 pictures are copied; of
// planar 4:2:2 pictures every second chroma row (0, 2, 4, ...) is taken;
// every other pixel format is converted to 4:2:0 with libswscale.
//
// Without a callback the picture is drawn through the renderer made by the
// factory given at construction (nothing is drawn without one).
//
// ResetBuffers keeps the base's default: a seek does not flush the codec.
//
// Threading: Open, Decode, Stop and Close run on one thread at a time (the
// router's frame lock or destruction); Snapshot and SetOnFrame may run on any
// thread. The callback runs on the thread calling Decode, under the callback
// lock and outside the picture lock and the named mutex; the payload points
// into the decoder's own picture and must be copied before returning. Locks:
// named mutex (library calls only), picture lock (guards the picture),
// callback lock (guards the callback); none is held while taking another.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Locks.h"
#include "platform/NamedMutex.h"
#include "platform/VideoOutput.h"
#include "viewer/decoding/U_AvHandles.h"
#include "viewer/decoding/U_DecodeBase.h"

namespace ospry {

class TDecodeMPEG final : public TDecodeBase {
public:
  // threadCount is handed to libavcodec: 1 decodes on the calling thread
  // only, 0 lets FFmpeg choose, n > 1 uses n threads (frame threading delays
  // the output by up to n - 1 frames).
  explicit TDecodeMPEG(TWindowHandle window, TRendererFactory rendererFactory = {}, int threadCount = 1);
  ~TDecodeMPEG() override;

  void Open(const TFrameHeader& header, const std::uint8_t* payload) override;
  int Decode(const TFrameHeader& header, const std::uint8_t* payload) override;
  void Stop() override;
  void Close() override;
  std::vector<std::uint8_t> Snapshot() override;
  void SetOnFrame(TDecodedFrameEvent callback) override;

  bool IsOpen() const { return context_ != nullptr; }
  // A copy of the latest picture (Size 0 when none yet).
  TPicByte Picture() const;

private:
  int DecodePacket(const TFrameHeader& header, const std::uint8_t* payload);
  bool StorePicture(const AVFrame* frame);
  void DeliverPicture(const TFrameHeader& header);

  TAvCodecContextPtr context_;  // decoding thread only
  TAvFramePtr frame_;           // decoding thread only; reused for every picture
  TAvFramePtr converted_;       // decoding thread only; 4:2:0 copy of other formats
  TSwsContextPtr scaler_;       // decoding thread only
  std::unique_ptr<IYuvRenderer> renderer_;  // decoding thread only
  int threadCount_;
  mutable TLock pictureLock_;
  TPicByte picture_;  // guarded by pictureLock_; written by the decoding thread only
  TNamedMutex apiMutex_;
  TLock callbackLock_;
  TDecodedFrameEvent onFrame_;  // guarded by callbackLock_
  TFrameHeader lastHeader_;     // decoding thread only
};

}  // namespace ospry
