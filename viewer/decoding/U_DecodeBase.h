#pragma once
// The decoder contract: a decoder turns the encoded frames of one stream of
// one channel into pictures or sound and hands each result, described by a
// TFrameInfo, to its callback.
//
// Calling order: construction (window), SetOnFrame, then Decode for every
// frame (a decoder opens itself from the frames it is given), ResetBuffers
// after a seek, and destruction, which always closes the decoder.
//
// Error policy: decoders report failure only through the result of Decode
// (-1 nothing decoded, 0 consumed without a result, 1 a result was handed to
// the callback); a frame that cannot be decoded is dropped and the next one
// is tried. Nothing throws out of a decoder.
//
// Threading: Decode (and Open through it) runs on the delivering player's
// thread, serialised by the router's frame lock; ResetBuffers runs on the
// thread that raises the player's flush event; construction and destruction
// on the main thread. A decoder that calls its callback keeps a callback
// lock held from the test for an installed callback until the callback
// returns; SetOnFrame takes that lock. Decoders never hold a decoding
// library's named mutex while the callback runs.
#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/WindowHandle.h"
#include "viewer/decoding/U_FrameInfo.h"
#include "viewer/sources/U_Interfaces.h"

namespace ospry {

// The latest decoded picture a video decoder keeps for itself (packed YV12).
// Data only ever grows.
struct TPicByte {
  std::vector<std::uint8_t> Data;
  std::int32_t Size = 0;  // valid bytes at the start of Data
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};

class TDecodeBase {
public:
  // Window is copied into every TFrameInfo the decoder emits. Port := -1.
  explicit TDecodeBase(TWindowHandle window) : Window(window) {}
  virtual ~TDecodeBase() = default;
  TDecodeBase(const TDecodeBase&) = delete;
  TDecodeBase& operator=(const TDecodeBase&) = delete;

  // Prepares the decoder for a stream from header and payload (a stream
  // header, or the first frame, which is then decoded as well). payload holds
  // at least header.DataSize bytes.
  virtual void Open(const TFrameHeader& header, const std::uint8_t* payload) = 0;
  // Decodes one frame, opening first when needed: -1, 0 or 1 (see above).
  virtual int Decode(const TFrameHeader& header, const std::uint8_t* payload) = 0;
  // Drops the codec's or library's queued state without closing.
  virtual void Stop() {}
  // Stop, then releases the codec or library port. Every decoder's
  // destruction calls it.
  virtual void Close() = 0;
  // Switches the decoder's own sound output on or off.
  virtual void SetSound(bool on) { (void)on; }
  // Empties every buffer the library holds for the stream.
  virtual void ResetBuffers() {}
  // The latest picture as the bytes of a 24-bit bitmap file; empty when the
  // decoder has no picture.
  virtual std::vector<std::uint8_t> Snapshot() { return {}; }
  // Installs (or, with an empty callback, clears) the callback.
  virtual void SetOnFrame(TDecodedFrameEvent callback) = 0;
  // Blanks the picture the decoder shows in its window until the next frame.
  virtual void ClearDisplay() {}
  virtual void SetWindow(TWindowHandle window) { Window = window; }

  TWindowHandle GetWindow() const { return Window; }
  std::int32_t GetPort() const { return Port; }

protected:
  std::atomic<TWindowHandle> Window;
  // The vendor library's port; -1 means none. Other decoders never change it.
  std::atomic<std::int32_t> Port{-1};
};

}  // namespace ospry
