#include "viewer/decoding/U_DecodeVendor.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "viewer/render/DrawYUV_New.h"

namespace ospry {
namespace {

constexpr int kPortCount = 64;
// The decoder owning each library port; written by Open and Close on the
// player thread, read by the library's callbacks.
std::array<std::atomic<TDecodeVendor*>, kPortCount> g_ports{};

std::mutex g_monitorLock;
TDecodeVendor::TMonitorLookup g_monitorLookup;  // guarded by g_monitorLock

TDecodeVendor* Owner(std::int32_t port) {
  if (port < 0 || port >= kPortCount) return nullptr;
  return g_ports[static_cast<std::size_t>(port)].load();
}

int MonitorOf(TWindowHandle window) {
  TDecodeVendor::TMonitorLookup lookup;
  {
    std::lock_guard guard(g_monitorLock);
    lookup = g_monitorLookup;
  }
  return lookup ? lookup(window) : 0;
}

constexpr std::uint16_t kDefaultAudioCode = 0x7221;

}  // namespace

void TDecodeVendor::SetMonitorLookup(TMonitorLookup lookup) {
  std::lock_guard guard(g_monitorLock);
  g_monitorLookup = std::move(lookup);
}

TDecodeVendor::TDecodeVendor(TWindowHandle window, IClock& clock, const std::string& libraryPath)
    : TDecodeBase(window), clock_(clock), apiMutex_(kApiMutexName) {
  TNamedMutexGuard guard(apiMutex_);
  dll_ = std::make_unique<TDLLVendor>(libraryPath);
}

TDecodeVendor::~TDecodeVendor() {
  Close();
  TNamedMutexGuard guard(apiMutex_);
  dll_.reset();
}

void TDecodeVendor::Open(const TFrameHeader& header, const std::uint8_t* payload) {
  Close();
  TNamedMutexGuard guard(apiMutex_);
  std::int32_t port = -1;
  dll_->GetPort(&port);
  if (port < 0 || port >= kPortCount) {
    // A port the table cannot hold is given back; the stream stays closed.
    if (port != -1) dll_->FreePort(port);
    Port = -1;
    return;
  }
  const std::int32_t size = payload != nullptr ? std::max<std::int32_t>(header.DataSize, 0) : 0;
  if (!dll_->OpenStream(port, payload, size, kBufferPoolBytes)) {
    dll_->FreePort(port);
    Port = -1;
    return;
  }
  Port = port;
  g_ports[static_cast<std::size_t>(port)].store(this);
  streamHeader_.fill(0);
  std::memcpy(streamHeader_.data(), payload, static_cast<std::size_t>(std::min<std::int32_t>(size, 40)));

  TAudioFormat format;
  format.Valid = true;
  const std::uint16_t code = static_cast<std::uint16_t>(streamHeader_[12] | (streamHeader_[13] << 8));
  if (std::memcmp(streamHeader_.data(), "IMKH", 4) != 0 || code == kDefaultAudioCode) {
    format.Channels = 1;
    format.SampleRate = 16000;
    format.BitsPerSecondPerChannel = 16000 * 16;
  } else {
    const std::int32_t bits = streamHeader_[15];
    format.Channels = streamHeader_[14];
    format.SampleRate = static_cast<std::int32_t>(streamHeader_[16] | (streamHeader_[17] << 8) |
                                                  (streamHeader_[18] << 16) |
                                                  (static_cast<std::uint32_t>(streamHeader_[19]) << 24));
    format.BitsPerSecondPerChannel = format.SampleRate * bits;
  }
  bool hasCallback;
  {
    TLockGuard<TLock> callbackGuard(callbackLock_);
    audioFormat_ = format;
    hasCallback = static_cast<bool>(onFrame_);
  }
  dll_->SetDecCallBack(port, hasCallback ? &TDecodeVendor::DecodeCallback : nullptr);
  dll_->SetDisplayCallBack(port, &TDecodeVendor::DisplayCallback);
  dll_->Play(port, Window.load());
  dll_->PlaySoundShare(port);
}

int TDecodeVendor::Decode(const TFrameHeader& header, const std::uint8_t* payload) {
  if (header.FrameType == kFrameStreamHeader) {
    Open(header, payload);
    return 0;
  }
  TNamedMutexGuard guard(apiMutex_);
  const std::int32_t port = Port.load();
  if (displayBlanked_.exchange(false)) dll_->SetDisplayRegion(port, 0, nullptr, 0, 0);
  const int monitor = MonitorOf(Window.load());
  if (monitor != monitorIndex_) {
    monitorIndex_ = monitor;
    dll_->InitDDrawDevice();
    dll_->SetDDrawDevice(port, monitor + 1);
  }
  if (soundOn_.load() && header.FrameType == kFrameAudio && soundPending_.load()) {
    dll_->PlaySoundShare(port);
    soundPending_ = false;
  }
  if (baseStamp_.load() < 0) baseStamp_ = header.Stamp;
  const std::int32_t size = payload != nullptr ? std::max<std::int32_t>(header.DataSize, 0) : 0;
  for (int attempt = 0; attempt < kInputTries; ++attempt) {
    if (dll_->InputData(port, payload, size)) break;
    clock_.SleepMs(kInputRetryMs);
  }
  return 0;
}

void TDecodeVendor::Stop() {
  TNamedMutexGuard guard(apiMutex_);
  const std::int32_t port = Port.load();
  if (port == -1) return;
  dll_->Stop(port);
  dll_->ResetSourceBuffer(port);
  ResetBuffersFor(port);
}

void TDecodeVendor::Close() {
  Stop();
  const std::int32_t port = Port.load();
  if (port == -1) return;
  {
    TNamedMutexGuard guard(apiMutex_);
    // The library has finished every callback of the port when these return,
    // so the table entry can go after them.
    dll_->CloseStream(port);
    dll_->FreePort(port);
  }
  if (port >= 0 && port < kPortCount) g_ports[static_cast<std::size_t>(port)].store(nullptr);
  Port = -1;
  soundPending_ = true;
  baseStamp_ = kNoTime;
}

void TDecodeVendor::SetSound(bool on) {
  soundOn_ = on;
  const std::int32_t port = Port.load();
  if (port != -1 && !on) {
    dll_->StopSoundShare(port);
    soundPending_ = true;
  }
}

void TDecodeVendor::ResetBuffers() { ResetBuffersFor(Port.load()); }

void TDecodeVendor::ResetBuffersFor(std::int32_t port) {
  for (std::int32_t buffer = 1; buffer <= 4; ++buffer) dll_->ResetBuffer(port, buffer);
}

std::vector<std::uint8_t> TDecodeVendor::Snapshot() {
  TLockGuard<TLock> guard(pictureLock_);
  if (picture_.Size <= 0 || picture_.Width <= 0 || picture_.Height <= 0) return {};
  // A sound block stored last has too few bytes for its (zero) size.
  const std::int64_t needed = static_cast<std::int64_t>(picture_.Width) * picture_.Height * 3 / 2;
  if (picture_.Size < needed) return {};
  return TDrawYUV::MakeBitmap(picture_.Data.data(), picture_.Width, picture_.Height, true);
}

void TDecodeVendor::SetOnFrame(TDecodedFrameEvent callback) {
  TLockGuard<TLock> guard(callbackLock_);
  onFrame_ = std::move(callback);
  const std::int32_t port = Port.load();
  dll_->Stop(port);
  ResetBuffersFor(port);
  dll_->SetDecCallBack(port, onFrame_ ? &TDecodeVendor::DecodeCallback : nullptr);
  dll_->Play(port, Window.load());
}

void TDecodeVendor::ClearDisplay() {
  TNamedMutexGuard guard(apiMutex_);
  const std::int32_t port = Port.load();
  const VPlayRect corner{0, 0, 1, 1};
  dll_->SetDisplayRegion(port, 0, &corner, 0, 0);
  dll_->RefreshPlay(port);
  displayBlanked_ = true;
}

void TDecodeVendor::StorePicture(const char* buffer, std::int32_t size, std::int32_t width, std::int32_t height) {
  if (buffer == nullptr || size < 0) return;
  TLockGuard<TLock> guard(pictureLock_);
  if (picture_.Data.size() < static_cast<std::size_t>(size)) picture_.Data.resize(static_cast<std::size_t>(size));
  std::memcpy(picture_.Data.data(), buffer, static_cast<std::size_t>(size));
  picture_.Size = size;
  picture_.Width = width;
  picture_.Height = height;
}

void TDecodeVendor::Deliver(const char* buffer, std::int32_t size, const VPlayFrameInfo& info) {
  TLockGuard<TLock> guard(callbackLock_);
  if (!onFrame_) return;
  TFrameInfo frame{};
  frame.Width = info.width;
  frame.Height = info.height;
  frame.Window = Window.load();
  frame.Stamp = baseStamp_.load() + info.stamp / kMsPerDay;
  frame.FrameType = info.type;
  frame.IsAudio = info.type == VPLAY_TYPE_PCM16 || info.type == VPLAY_TYPE_PCM16_ALT;
  frame.FrameRate = info.frameRate;
  frame.DataSize = size;
  if (frame.IsAudio) frame.AudioFormat = audioFormat_;
  onFrame_(frame, reinterpret_cast<const std::uint8_t*>(buffer));
}

void TDecodeVendor::DisplayCallback(std::int32_t port, const char* buffer, std::int32_t size, std::int32_t width,
                                    std::int32_t height, std::int32_t, std::int32_t, std::int32_t) {
  if (TDecodeVendor* owner = Owner(port)) owner->StorePicture(buffer, size, width, height);
}

void TDecodeVendor::DecodeCallback(std::int32_t port, const char* buffer, std::int32_t size,
                                   const VPlayFrameInfo* info, std::int32_t, std::int32_t) {
  TDecodeVendor* owner = Owner(port);
  if (owner == nullptr || info == nullptr) return;
  owner->StorePicture(buffer, size, info->width, info->height);
  owner->Deliver(buffer, size, *info);
}

}  // namespace ospry
