#include "viewer/decoding/U_DecoderRouter.h"

#include "viewer/decoding/U_DecodeMPEG.h"
#include "viewer/decoding/U_DecodeMPEG_Audio.h"
#include "viewer/decoding/U_DecodeNone.h"

namespace ospry {

TDecoderFactory StandardDecoderFactory(TDecoderFactory vendorFactory, int mpegThreads) {
  return [vendorFactory = std::move(vendorFactory), mpegThreads](
             std::uint8_t kind, TWindowHandle window) -> std::unique_ptr<TDecodeBase> {
    switch (kind) {
      case 0:
        return std::make_unique<TDecodeNone>(window);
      case 2:
        return vendorFactory ? vendorFactory(kind, window) : nullptr;
      case 3:
      case 5:
      case 6:
      case 13:
      case 15:
      case 16:
        return std::make_unique<TDecodeMPEG>(window, TRendererFactory{}, mpegThreads);
      case 17:
      case 18:
      case 20:
        return std::make_unique<TDecodeMPEG_Audio>(window);
      default:
        return nullptr;
    }
  };
}

TDecoderRouter::TDecoderRouter(TDecoderFactory factory) : factory_(std::move(factory)) {}

TDecoderRouter::~TDecoderRouter() { RemoveAllChannels(); }

void TDecoderRouter::AddChannel(int channel, TWindowHandle window) {
  TLockGuard<TLock> guard(tableLock_);
  channels_[channel].window = window;
}

void TDecoderRouter::RemoveAllChannels() {
  std::vector<std::unique_ptr<TDecodeBase>> doomed;
  {
    TLockGuard<TLock> guard(tableLock_);
    doomed.swap(decoders_);
    channels_.clear();
  }
  // Destruction closes each decoder; a vendor decoder may still deliver on its
  // own thread until then, which needs the table lock to be free.
  doomed.clear();
}

void TDecoderRouter::SetOnFrame(TRoutedFrameEvent handler) {
  auto shared = handler ? std::make_shared<const TRoutedFrameEvent>(std::move(handler)) : nullptr;
  TLockGuard<TLock> guard(tableLock_);
  onFrame_ = std::move(shared);
}

void TDecoderRouter::SetSound(bool on) {
  TLockGuard<TLock> guard(tableLock_);
  soundOn_ = on;
}

void TDecoderRouter::SelectSoundChannel(int channel) {
  TLockGuard<TLock> guard(tableLock_);
  soundChannel_ = channel;
}

void TDecoderRouter::DeliverFrame(int channel, const TFrameHeader& header, const std::uint8_t* payload) {
  TLockGuard<TLock> frameGuard(frameLock_);
  TDecodeBase* decoder = nullptr;
  TWindowHandle window = kNoWindow;
  {
    TLockGuard<TLock> guard(tableLock_);
    auto found = channels_.find(channel);
    if (found == channels_.end() || header.StreamKind >= kStreamKindCount) {
      lastError_ = "No decoder found for handle: " + std::to_string(channel);
      return;
    }
    decoder = found->second.slots[header.StreamKind];
    window = found->second.window;
  }
  if (decoder == nullptr) {
    // Created outside the table lock: a decoder's construction may call into
    // its library. Only this thread (under the frame lock) fills slots.
    std::unique_ptr<TDecodeBase> created = factory_ ? factory_(header.StreamKind, window) : nullptr;
    if (!created) {
      TLockGuard<TLock> guard(tableLock_);
      lastError_ = "No decoder found for handle: " + std::to_string(channel);
      return;
    }
    created->SetOnFrame([this](const TFrameInfo& info, const std::uint8_t* data) { HandleDecoded(info, data); });
    decoder = created.get();
    TLockGuard<TLock> guard(tableLock_);
    auto found = channels_.find(channel);
    if (found == channels_.end()) return;  // removed meanwhile; `created` frees it
    found->second.slots[header.StreamKind] = decoder;
    decoders_.push_back(std::move(created));
  }
  if (header.FrameType == kFrameAudio) {
    bool wanted;
    {
      TLockGuard<TLock> guard(tableLock_);
      wanted = soundOn_ && soundChannel_ == channel;
    }
    if (!wanted) return;
  } else {
    TLockGuard<TLock> guard(tableLock_);
    auto found = channels_.find(channel);
    if (found != channels_.end()) {
      found->second.lastHeader = header;
      found->second.hasHeader = true;
    }
  }
  decoder->Decode(header, payload);
}

void TDecoderRouter::HandleDecoded(const TFrameInfo& info, const std::uint8_t* payload) {
  int channel = -1;
  std::shared_ptr<const TRoutedFrameEvent> handler;
  {
    TLockGuard<TLock> guard(tableLock_);
    for (auto& [number, record] : channels_) {
      if (record.window == info.Window) {
        channel = number;
        if (!info.IsAudio && info.Width > 0 && info.Height > 0) {
          record.width = info.Width;
          record.height = info.Height;
        }
        break;
      }
    }
    handler = onFrame_;
  }
  if (channel < 0 || !handler) return;  // a window of no channel: dropped
  (*handler)(channel, info, payload);
}

std::vector<TDecodeBase*> TDecoderRouter::DecodersOf(int channel) const {
  std::vector<TDecodeBase*> result;
  TLockGuard<TLock> guard(tableLock_);
  for (auto& [number, record] : channels_) {
    if (channel >= 0 && number != channel) continue;
    for (TDecodeBase* decoder : record.slots) {
      if (decoder != nullptr) result.push_back(decoder);
    }
  }
  return result;
}

void TDecoderRouter::OnFlush(bool syncPlay, int selectedChannel) {
  // Decoders live until RemoveAllChannels (main thread, players stopped), so
  // the pointers stay valid after the table lock is released.
  for (TDecodeBase* decoder : DecodersOf(syncPlay ? -1 : selectedChannel)) decoder->ResetBuffers();
}

void TDecoderRouter::ResetChannelBuffers(int channel) {
  if (channel < 0) return;
  for (TDecodeBase* decoder : DecodersOf(channel)) decoder->ResetBuffers();
}

std::string TDecoderRouter::GetLastError() const {
  TLockGuard<TLock> guard(tableLock_);
  return lastError_;
}

bool TDecoderRouter::LastHeader(int channel, TFrameHeader& header) const {
  TLockGuard<TLock> guard(tableLock_);
  auto found = channels_.find(channel);
  if (found == channels_.end() || !found->second.hasHeader) return false;
  header = found->second.lastHeader;
  return true;
}

bool TDecoderRouter::PictureSize(int channel, int& width, int& height) const {
  TLockGuard<TLock> guard(tableLock_);
  auto found = channels_.find(channel);
  if (found == channels_.end() || found->second.width <= 0) return false;
  width = found->second.width;
  height = found->second.height;
  return true;
}

TDecodeBase* TDecoderRouter::Decoder(int channel, std::uint8_t streamKind) const {
  TLockGuard<TLock> guard(tableLock_);
  auto found = channels_.find(channel);
  if (found == channels_.end() || streamKind >= kStreamKindCount) return nullptr;
  return found->second.slots[streamKind];
}

}  // namespace ospry
