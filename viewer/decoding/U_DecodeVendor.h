#pragma once
// TDecodeVendor: the decoder for stream kind 2, the DVR vendor's own stream
// format, through the vendor player library (libVPlay.so) in stream mode. A
// stream-header frame (type 15) opens a library port with the 40-byte header;
// every other frame is fed to that port. The library decodes on its own
// threads and hands pictures and sound back through DecodeCallback, which
// turns them into TFrameInfo deliveries.
//
// Threading: Open, Decode, Stop and Close run on the delivering player's
// thread (Close also at destruction, on the main thread); ResetBuffers on the
// thread raising the flush event; DisplayCallback and DecodeCallback on the
// library's threads. Locks: ApiMutex (the named system mutex
// "vendor_api_hack_mutex", around library calls of Open, Decode, Stop and
// Close, including the whole InputData retry loop), PictureLock (guards
// Picture), CallbackLock (guards OnFrame and the audio format; held for a
// whole delivery and by SetOnFrame while it restarts the port). The library
// never runs a callback inside one of its calls, so no lock is held in a
// callback that the callback could need.
//
// Error policy: nothing is reported; a frame the library refuses six times is
// dropped, Decode always returns 0.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Clock.h"
#include "platform/Locks.h"
#include "platform/NamedMutex.h"
#include "viewer/decoding/U_DLLVendor.h"
#include "viewer/decoding/U_DecodeBase.h"

namespace ospry {

class TDecodeVendor final : public TDecodeBase {
public:
  static constexpr const char* kApiMutexName = "vendor_api_hack_mutex";
  static constexpr int kInputTries = 6;
  static constexpr int kInputRetryMs = 100;
  static constexpr std::int32_t kBufferPoolBytes = 1024000;

  // Finds the index (0 for the first) of the monitor nearest to a window.
  // The user interface installs the real lookup; the default says 0.
  using TMonitorLookup = std::function<int(TWindowHandle window)>;
  static void SetMonitorLookup(TMonitorLookup lookup);

  // clock: what the InputData retries sleep on (tests pass a manual one).
  // libraryPath: empty loads the library from the usual places.
  explicit TDecodeVendor(TWindowHandle window, IClock& clock = SystemClock(),
                         const std::string& libraryPath = "");
  ~TDecodeVendor() override;

  void Open(const TFrameHeader& header, const std::uint8_t* payload) override;
  int Decode(const TFrameHeader& header, const std::uint8_t* payload) override;
  void Stop() override;
  void Close() override;
  void SetSound(bool on) override;
  void ResetBuffers() override;
  std::vector<std::uint8_t> Snapshot() override;
  void SetOnFrame(TDecodedFrameEvent callback) override;
  void ClearDisplay() override;

  // The stamp of the first ordinary frame since the port opened; kNoTime
  // before it.
  TDateTime BaseStamp() const { return baseStamp_.load(); }
  // The binding (for tests and the raw vendor file source's checks).
  TDLLVendor& Library() { return *dll_; }

  // The library's callbacks: they find their decoder by port.
  static void DisplayCallback(std::int32_t port, const char* buffer, std::int32_t size, std::int32_t width,
                              std::int32_t height, std::int32_t stamp, std::int32_t type, std::int32_t reserved);
  static void DecodeCallback(std::int32_t port, const char* buffer, std::int32_t size,
                             const VPlayFrameInfo* info, std::int32_t reserved1, std::int32_t reserved2);

private:
  void ResetBuffersFor(std::int32_t port);
  void StorePicture(const char* buffer, std::int32_t size, std::int32_t width, std::int32_t height);
  void Deliver(const char* buffer, std::int32_t size, const VPlayFrameInfo& info);

  IClock& clock_;
  TNamedMutex apiMutex_;
  std::unique_ptr<TDLLVendor> dll_;
  std::atomic<bool> displayBlanked_{false};  // player thread and main thread
  std::atomic<bool> soundOn_{false};
  std::atomic<bool> soundPending_{true};
  int monitorIndex_ = 0;                     // player thread only
  mutable TLock pictureLock_;
  TPicByte picture_;                         // guarded by pictureLock_
  TLock callbackLock_;
  TDecodedFrameEvent onFrame_;               // guarded by callbackLock_
  TAudioFormat audioFormat_;                 // guarded by callbackLock_
  std::atomic<TDateTime> baseStamp_{kNoTime};
  std::array<std::uint8_t, 40> streamHeader_{};  // player thread only
};

}  // namespace ospry
