#pragma once
// Per-channel routing of encoded frames to decoders, as the main window does
// it: 22 decoder slots per channel indexed by stream kind, a decoder created
// on the first frame of its kind, audio blocks decoded only for the channel
// selected for sound, and ResetBuffers after a player's flush. The main
// window owns one router; the router owns every decoder it creates.
//
// Threading:
// - AddChannel, RemoveAllChannels, SetOnFrame and destruction: main thread,
//   while no player delivers frames.
// - DeliverFrame: player threads. It takes FrameLock() for the whole delivery
//   (decoder creation and Decode included), so at most one Decode runs at a
//   time; the decoders call the router's frame handler inside it.
// - The frame handler may also run on a decoding library's own threads
//   (vendor decoder), outside FrameLock().
// - OnFlush / ResetChannelBuffers: the thread raising the flush event, outside
//   FrameLock().
// - SetSound, SelectSoundChannel and the queries: any thread.
// Locks, outermost first: FrameLock(), then table lock (guards the channel
// table, slots, sound selection, last error, last headers and picture
// sizes). The table lock is never held while a decoder or a callback runs.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Locks.h"
#include "viewer/decoding/U_DecodeBase.h"

namespace ospry {

// Makes the decoder for a stream kind, or null when the kind has none.
using TDecoderFactory = std::function<std::unique_ptr<TDecodeBase>(std::uint8_t streamKind, TWindowHandle window)>;

// A decoded frame routed to the channel whose window it carries. The payload
// is valid only during the call.
using TRoutedFrameEvent = std::function<void(int channel, const TFrameInfo& info, const std::uint8_t* payload)>;

// The standard choice of decoder by stream kind: 0 TDecodeNone; 3, 5, 6, 13,
// 15, 16 TDecodeMPEG; 17, 18, 20 TDecodeMPEG_Audio; 2 whatever vendorFactory
// makes (none when it is empty); every other kind none. mpegThreads is the
// FFmpeg thread count given to each video decoder (1: decode on the caller's
// thread only; 0: FFmpeg's automatic choice).
TDecoderFactory StandardDecoderFactory(TDecoderFactory vendorFactory = {}, int mpegThreads = 1);

class TDecoderRouter {
public:
  explicit TDecoderRouter(TDecoderFactory factory = StandardDecoderFactory());
  ~TDecoderRouter();
  TDecoderRouter(const TDecoderRouter&) = delete;
  TDecoderRouter& operator=(const TDecoderRouter&) = delete;

  // Registers channel with the window of its video panel; its slots start
  // empty. A channel added again keeps its decoders and takes the new window.
  void AddChannel(int channel, TWindowHandle window);
  // Frees every decoder (each closes itself) and forgets every channel.
  void RemoveAllChannels();
  // Receives every decoded frame whose window belongs to a channel.
  void SetOnFrame(TRoutedFrameEvent handler);

  // Sound is decoded only when it is on and only for the selected channel.
  void SetSound(bool on);
  void SelectSoundChannel(int channel);

  // Routes one frame a player delivered; payload holds header.DataSize bytes.
  // A kind without a decoder (or an unknown channel) sets the last error to
  // "No decoder found for handle: " and the channel number, and drops the
  // frame; the next frame of that kind tries again.
  void DeliverFrame(int channel, const TFrameHeader& header, const std::uint8_t* payload);

  // After a player's flush: ResetBuffers on every decoder of every channel in
  // synchronised play, else on those of selectedChannel only.
  void OnFlush(bool syncPlay, int selectedChannel);
  void ResetChannelBuffers(int channel);

  std::string GetLastError() const;
  // The header of the channel's last non-audio frame; false when none yet.
  bool LastHeader(int channel, TFrameHeader& header) const;
  // The size of the channel's latest decoded picture; false when none yet.
  bool PictureSize(int channel, int& width, int& height) const;
  // The channel's decoder for a kind, or null; valid until RemoveAllChannels.
  TDecodeBase* Decoder(int channel, std::uint8_t streamKind) const;

  // The frame lock; the main window takes it for whatever must not run
  // alongside a delivery. Not re-entrant.
  TLock& FrameLock() { return frameLock_; }

private:
  struct TChannel {
    TWindowHandle window = kNoWindow;
    std::array<TDecodeBase*, kStreamKindCount> slots{};
    bool hasHeader = false;
    TFrameHeader lastHeader;
    int width = 0;
    int height = 0;
  };

  void HandleDecoded(const TFrameInfo& info, const std::uint8_t* payload);
  std::vector<TDecodeBase*> DecodersOf(int channel) const;

  const TDecoderFactory factory_;
  TLock frameLock_;
  mutable TLock tableLock_;
  std::map<int, TChannel> channels_;                      // guarded by tableLock_
  std::vector<std::unique_ptr<TDecodeBase>> decoders_;    // guarded by tableLock_; owns all
  bool soundOn_ = false;                                  // guarded by tableLock_
  int soundChannel_ = 0;                                  // guarded by tableLock_
  std::string lastError_;                                 // guarded by tableLock_
  std::shared_ptr<const TRoutedFrameEvent> onFrame_;      // guarded by tableLock_
};

}  // namespace ospry
