#include "vplay/VPlayPort.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/CallbackThread.h"

namespace ospry::vendor {
namespace {

constexpr std::size_t kMinPoolBytes = 4 * 1024;
constexpr std::size_t kMaxPoolBytes = 64 * 1024 * 1024;
constexpr int kMaxSpeedNotch = 4;  // 2^4 = 16
constexpr std::size_t kScanChunkBytes = 256 * 1024;
// A file with more frames than this (a day at 25 fps is about 2 million) is
// refused rather than indexed.
constexpr std::size_t kMaxIndexEntries = 8u * 1024u * 1024u;
// Longest wait of the file worker between two looks at the clock, so an
// injected clock that jumps is followed promptly.
constexpr double kMaxPaceWaitMs = 10;

std::mutex g_factoryLock;
TRendererFactory g_rendererFactory;  // guarded by g_factoryLock
TWaveOutputFactory g_waveFactory;    // guarded by g_factoryLock
std::atomic<IClock*> g_clock{nullptr};

IClock& PacingClock() {
  IClock* clock = g_clock.load();
  return clock != nullptr ? *clock : SystemClock();
}

double NowMs() { return PacingClock().Now() * kMsPerDay; }

std::unique_ptr<IYuvRenderer> MakeRenderer() {
  TRendererFactory factory;
  {
    std::lock_guard guard(g_factoryLock);
    factory = g_rendererFactory;
  }
  return factory ? factory() : nullptr;
}

std::unique_ptr<IWaveOutput> MakeWaveOutput() {
  TWaveOutputFactory factory;
  {
    std::lock_guard guard(g_factoryLock);
    factory = g_waveFactory;
  }
  return factory ? factory() : nullptr;
}

std::string DecodeSound(const TStreamHeader& header, const std::string& data) {
  std::string pcm;
  if (header.audioCodec == kAudioMulaw) {
    pcm.resize(data.size() * 2);
    for (std::size_t i = 0; i < data.size(); ++i) {
      const auto sample = static_cast<std::uint16_t>(MulawToLinear(static_cast<std::uint8_t>(data[i])));
      pcm[2 * i] = static_cast<char>(sample & 0xFF);
      pcm[2 * i + 1] = static_cast<char>(sample >> 8);
    }
  } else if (header.audioCodec == kAudioPcm16 || header.audioCodec == kAudioDefault) {
    pcm.assign(data, 0, data.size() & ~std::size_t{1});
  }
  return pcm;
}

std::int32_t StampMs(std::int64_t pts, std::int64_t firstPts) {
  const std::int64_t ms = PtsDelta(pts, firstPts) / 90;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(ms, INT32_MIN, INT32_MAX));
}

}  // namespace

void SetOutputFactories(const TRendererFactory* renderers, const TWaveOutputFactory* waves) {
  std::lock_guard guard(g_factoryLock);
  g_rendererFactory = renderers != nullptr ? *renderers : TRendererFactory{};
  g_waveFactory = waves != nullptr ? *waves : TWaveOutputFactory{};
}

void SetPacingClock(IClock* clock) { g_clock.store(clock); }

TPicture CropYv12(const TPicture& picture, const VPlayRect& rect) {
  const int w = picture.width;
  const int h = picture.height;
  int left = std::clamp(rect.left, 0, w) & ~1;
  int top = std::clamp(rect.top, 0, h) & ~1;
  int right = std::min(w, (std::clamp(rect.right, 0, w) + 1) & ~1);
  int bottom = std::min(h, (std::clamp(rect.bottom, 0, h) + 1) & ~1);
  if (right - left < 2) right = std::min(w, left + 2);
  if (bottom - top < 2) bottom = std::min(h, top + 2);
  const int cw = (right - left) & ~1;
  const int ch = (bottom - top) & ~1;
  if (cw < 2 || ch < 2 || (cw == w && ch == h)) return picture;
  TPicture out;
  out.width = cw;
  out.height = ch;
  out.pts = picture.pts;
  out.yv12.resize(static_cast<std::size_t>(cw) * ch * 3 / 2);
  const char* src = picture.yv12.data();
  char* dst = out.yv12.data();
  for (int y = 0; y < ch; ++y)
    std::memcpy(dst + static_cast<std::size_t>(y) * cw, src + static_cast<std::size_t>(top + y) * w + left, cw);
  const std::size_t srcLuma = static_cast<std::size_t>(w) * h;
  const std::size_t srcChroma = static_cast<std::size_t>(w / 2) * (h / 2);
  const std::size_t dstLuma = static_cast<std::size_t>(cw) * ch;
  const std::size_t dstChroma = static_cast<std::size_t>(cw / 2) * (ch / 2);
  for (int plane = 0; plane < 2; ++plane) {
    const char* s = src + srcLuma + plane * srcChroma;
    char* d = dst + dstLuma + plane * dstChroma;
    for (int y = 0; y < ch / 2; ++y)
      std::memcpy(d + static_cast<std::size_t>(y) * (cw / 2),
                  s + static_cast<std::size_t>(top / 2 + y) * (w / 2) + left / 2, cw / 2);
  }
  return out;
}

TPort::~TPort() { Shutdown(); }

void TPort::Shutdown() {
  StopWorker();
  {
    std::lock_guard guard(lock_);
    mode_ = TMode::Idle;
    input_.clear();
    queuedBytes_ = 0;
    decCallback_ = nullptr;
    displayCallback_ = nullptr;
  }
  std::lock_guard guard(outputLock_);
  renderer_.reset();
  secondRenderer_.reset();
  if (wave_) wave_->Close();
  wave_.reset();
}

void TPort::StartWorkerLocked() {
  if (worker_.joinable()) return;
  quit_ = false;
  // The worker keeps the port alive until it ends, even if the port is
  // released from inside a callback.
  std::shared_ptr<TPort> self = shared_from_this();
  const bool isFile = mode_ == TMode::File;
  worker_ = std::thread([self, isFile] {
    char name[16];
    std::snprintf(name, sizeof name, isFile ? "vplay-file-%02d" : "vplay-dec-%02d", self->number_);
    SetCurrentThreadName(name);
    try {
      if (isFile) {
        self->FileLoop();
      } else {
        self->StreamLoop();
      }
    } catch (...) {
      // An unexpected failure ends the worker silently; the port stays usable
      // for closing.
    }
  });
  workerId_ = worker_.get_id();
}

void TPort::StopWorker() {
  std::thread worker;
  {
    std::lock_guard guard(lock_);
    quit_ = true;
    playing_ = false;
    worker = std::move(worker_);
    workerId_ = {};
  }
  wake_.notify_all();
  if (!worker.joinable()) return;
  if (worker.get_id() == std::this_thread::get_id()) {
    worker.detach();  // released from its own callback: it ends after the callback returns
  } else {
    worker.join();
  }
}

bool TPort::OpenStream(const std::uint8_t* header, std::int32_t size, std::int32_t poolBytes) {
  TStreamHeader parsed;
  if (size < static_cast<std::int32_t>(kStreamHeaderSize) ||
      !TStreamHeader::Decode(header, static_cast<std::size_t>(size), parsed) || parsed.videoCodec != kVideoH264)
    return false;
  {
    std::lock_guard guard(lock_);
    if (mode_ == TMode::File) return false;
  }
  CloseStream();
  {
    std::lock_guard guard(lock_);
    header_ = parsed;
    mode_ = TMode::Stream;
    poolBytes_ = std::clamp<std::size_t>(poolBytes > 0 ? static_cast<std::size_t>(poolBytes) : 0,
                                         kMinPoolBytes, kMaxPoolBytes);
    input_.clear();
    queuedBytes_ = 0;
    resetDecoder_ = false;
    ++generation_;
    frameNumber_ = 0;
  }
  std::lock_guard guard(outputLock_);
  waveFormat_ = TWaveFormat{parsed.PcmChannels(), parsed.PcmSampleRate(), 16};
  lastPicture_ = {};
  return true;
}

bool TPort::CloseStream() {
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::Stream) return false;
  }
  StopWorker();
  std::lock_guard guard(lock_);
  mode_ = TMode::Idle;
  input_.clear();
  queuedBytes_ = 0;
  ++generation_;
  return true;
}

bool TPort::InputData(const std::uint8_t* data, std::int32_t size) {
  if (data == nullptr || size <= 0) return false;
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::Stream) return false;
    const auto bytes = static_cast<std::size_t>(size);
    if (queuedBytes_ > 0 && queuedBytes_ + bytes > poolBytes_) return false;
    input_.emplace_back(reinterpret_cast<const char*>(data), bytes);
    queuedBytes_ += bytes;
  }
  wake_.notify_all();
  return true;
}

bool TPort::ResetBuffer(std::int32_t buffer) {
  if (buffer < 1 || buffer > 4) return false;
  std::lock_guard guard(lock_);
  if (mode_ == TMode::Idle) return false;
  if (buffer == 1 && mode_ == TMode::Stream) {
    input_.clear();
    queuedBytes_ = 0;
    ++generation_;
  } else if (buffer == 2) {
    resetDecoder_ = true;
    ++generation_;
  }
  // Buffers 3 (pictures to show) and 4 (sound to play) hold nothing here:
  // pictures and sound are handed on as soon as they are decoded.
  return true;
}

bool TPort::ResetSourceBuffer() {
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::Stream) return false;
  }
  return ResetBuffer(1);
}

bool TPort::Play(TWindowHandle window) {
  {
    std::lock_guard guard(outputLock_);
    if (window != window_) renderer_.reset();
    window_ = window;
  }
  {
    std::lock_guard guard(lock_);
    if (mode_ == TMode::Idle) return false;
    if (mode_ == TMode::File && !playing_) ReanchorLocked();
    playing_ = true;
    paused_ = false;
    StartWorkerLocked();
  }
  wake_.notify_all();
  return true;
}

bool TPort::Stop() {
  {
    std::lock_guard guard(lock_);
    if (mode_ == TMode::Idle) return false;
    if (mode_ == TMode::File) anchorMediaMs_ = MediaNowMsLocked();
    playing_ = false;
  }
  wake_.notify_all();
  return true;
}

bool TPort::SetDecCallback(VPlayDecCallback callback) {
  std::lock_guard guard(lock_);
  decCallback_ = callback;
  return true;
}

bool TPort::SetDisplayCallback(VPlayDisplayCallback callback) {
  std::lock_guard guard(lock_);
  displayCallback_ = callback;
  return true;
}

bool TPort::SetDisplayRegion(std::int32_t region, const VPlayRect* rect, TWindowHandle window, bool enable) {
  std::lock_guard guard(outputLock_);
  if (region == 0) {
    if (rect != nullptr && (rect->right <= rect->left || rect->bottom <= rect->top)) return false;
    region_ = rect != nullptr ? std::optional<VPlayRect>(*rect) : std::nullopt;
    return true;
  }
  if (region == 1) {
    if (enable && window != kNoWindow) {
      if (window != secondWindow_) secondRenderer_.reset();
      secondWindow_ = window;
      if (!lastPicture_.yv12.empty()) Draw(lastPicture_);
    } else {
      secondRenderer_.reset();
      secondWindow_ = kNoWindow;
    }
    return true;
  }
  return false;
}

bool TPort::Refresh() {
  std::lock_guard guard(outputLock_);
  if (!lastPicture_.yv12.empty()) Draw(lastPicture_);
  return true;
}

bool TPort::SetSound(bool on) {
  TWaveFormat format;
  {
    std::lock_guard guard(lock_);
    if (mode_ == TMode::Idle) return false;
    format = TWaveFormat{header_.PcmChannels(), header_.PcmSampleRate(), 16};
  }
  std::lock_guard guard(outputLock_);
  if (!on) {
    if (wave_) wave_->Close();
    wave_.reset();
    return true;
  }
  if (format.channels == 0) return true;  // a stream without sound: nothing to play
  if (!wave_) wave_ = MakeWaveOutput();
  waveFormat_ = format;
  if (wave_ && !wave_->IsOpen()) wave_->Open(format);
  return true;
}

bool TPort::PictureSize(std::int32_t& width, std::int32_t& height) const {
  {
    std::lock_guard guard(lock_);
    if (mode_ == TMode::Idle) return false;
    if (mode_ == TMode::File) {
      width = fileWidth_;
      height = fileHeight_;
      return true;
    }
    width = header_.width;
    height = header_.height;
  }
  std::lock_guard guard(outputLock_);
  if (!lastPicture_.yv12.empty()) {
    width = lastPicture_.width;
    height = lastPicture_.height;
  }
  return true;
}

bool TPort::IsFile() const {
  std::lock_guard guard(lock_);
  return mode_ == TMode::File;
}

bool TPort::StillCurrent(std::uint64_t generation) {
  std::lock_guard guard(lock_);
  return !quit_ && generation == generation_;
}

void TPort::StreamLoop() {
  TH264Decoder decoder;
  TPsParser parser;
  std::optional<std::int64_t> firstPts;
  std::unique_lock lock(lock_);
  while (!quit_) {
    if (resetDecoder_) {
      resetDecoder_ = false;
      parser.Reset();
      decoder.Flush();
    }
    if (!playing_ || input_.empty()) {
      wake_.wait(lock);
      continue;
    }
    std::string chunk = std::move(input_.front());
    input_.pop_front();
    queuedBytes_ -= chunk.size();
    const std::uint64_t generation = generation_;
    lock.unlock();
    parser.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
    TEsFrame frame;
    while (parser.Next(frame)) {
      if (!firstPts) firstPts = frame.pts90k;
      HandleFrame(frame, *firstPts, decoder, true, generation);
    }
    lock.lock();
  }
}

bool TPort::HandleFrame(const TEsFrame& frame, std::int64_t firstPts, TH264Decoder& decoder, bool show,
                        std::uint64_t generation) {
  if (frame.stream == TStreamType::Video) {
    std::vector<TPicture> pictures;
    decoder.Decode(reinterpret_cast<const std::uint8_t*>(frame.data.data()), frame.data.size(), frame.pts90k,
                   pictures);
    for (const TPicture& picture : pictures) {
      if (show && StillCurrent(generation)) DeliverPicture(picture, StampMs(picture.pts, firstPts));
    }
    return !pictures.empty();
  }
  if (show && StillCurrent(generation)) {
    TStreamHeader header;
    {
      std::lock_guard guard(lock_);
      header = header_;
    }
    const std::string pcm = DecodeSound(header, frame.data);
    if (!pcm.empty()) DeliverSound(pcm, StampMs(frame.pts90k, firstPts));
  }
  return false;
}

void TPort::DeliverPicture(const TPicture& picture, std::int32_t stamp) {
  VPlayDecCallback decCallback;
  VPlayDisplayCallback displayCallback;
  VPlayFrameInfo info{};
  {
    std::lock_guard guard(lock_);
    decCallback = decCallback_;
    displayCallback = displayCallback_;
    info.frameRate = header_.RoundedFrameRate();
  }
  info.width = picture.width;
  info.height = picture.height;
  info.stamp = stamp;
  info.type = VPLAY_TYPE_YV12;
  info.frameNum = static_cast<std::int32_t>(++frameNumber_);
  const auto size = static_cast<std::int32_t>(picture.yv12.size());
  if (decCallback != nullptr) decCallback(number_, picture.yv12.data(), size, &info, 0, 0);
  {
    std::lock_guard guard(outputLock_);
    lastPicture_ = picture;
    Draw(lastPicture_);
  }
  if (displayCallback != nullptr)
    displayCallback(number_, picture.yv12.data(), size, picture.width, picture.height, stamp, VPLAY_TYPE_YV12, 0);
}

void TPort::DeliverSound(const std::string& pcm, std::int32_t stamp) {
  VPlayDecCallback decCallback;
  VPlayFrameInfo info{};
  {
    std::lock_guard guard(lock_);
    decCallback = decCallback_;
    info.frameRate = header_.RoundedFrameRate();
  }
  info.stamp = stamp;
  info.type = VPLAY_TYPE_PCM16;
  info.frameNum = static_cast<std::int32_t>(frameNumber_.load());
  if (decCallback != nullptr)
    decCallback(number_, pcm.data(), static_cast<std::int32_t>(pcm.size()), &info, 0, 0);
  std::lock_guard guard(outputLock_);
  if (wave_) wave_->Write(reinterpret_cast<const std::uint8_t*>(pcm.data()), static_cast<std::int32_t>(pcm.size()));
}

void TPort::Draw(const TPicture& picture) {
  if (window_ != kNoWindow) {
    if (!renderer_) renderer_ = MakeRenderer();
    if (renderer_) {
      if (region_) {
        const TPicture part = CropYv12(picture, *region_);
        renderer_->DrawFrame(reinterpret_cast<const std::uint8_t*>(part.yv12.data()), part.width, part.height,
                             VPLAY_TYPE_YV12, window_);
      } else {
        renderer_->DrawFrame(reinterpret_cast<const std::uint8_t*>(picture.yv12.data()), picture.width,
                             picture.height, VPLAY_TYPE_YV12, window_);
      }
    }
  }
  if (secondWindow_ != kNoWindow) {
    if (!secondRenderer_) secondRenderer_ = MakeRenderer();
    if (secondRenderer_)
      secondRenderer_->DrawFrame(reinterpret_cast<const std::uint8_t*>(picture.yv12.data()), picture.width,
                                 picture.height, VPLAY_TYPE_YV12, secondWindow_);
  }
}

// ---- File mode ----

bool TPort::OpenFile(const std::string& path) {
  std::lock_guard guard(lock_);
  if (mode_ != TMode::Idle) return false;
  TReadFile file;
  if (!file.Open(path)) return false;
  const std::int64_t fileSize = file.Size();
  std::uint8_t head[kStreamHeaderSize];
  TStreamHeader header;
  if (fileSize < static_cast<std::int64_t>(kStreamHeaderSize) || !file.PositionalReadExact(0, head, sizeof head) ||
      !TStreamHeader::Decode(head, sizeof head, header) || header.videoCodec != kVideoH264)
    return false;

  // Index every frame by its place in the file; frame bytes are read again
  // when played.
  TPsParser scanner(false);
  scanner.Reset(static_cast<std::int64_t>(kStreamHeaderSize));
  std::vector<TIndexEntry> index;
  std::optional<std::int64_t> firstPts;
  double lastVideoMs = -1;
  std::uint32_t videoFrames = 0;
  bool tooMany = false;
  const auto take = [&](const TEsFrame& f) {
    if (index.size() >= kMaxIndexEntries) {
      tooMany = true;
      return;
    }
    if (!firstPts) firstPts = f.pts90k;
    TIndexEntry entry;
    entry.begin = f.beginOffset;
    entry.end = f.endOffset;
    entry.ms = static_cast<double>(PtsDelta(f.pts90k, *firstPts)) / 90.0;
    entry.isVideo = f.stream == TStreamType::Video;
    entry.isKey = entry.isVideo && (f.isKey || videoFrames == 0);
    if (entry.isVideo) {
      ++videoFrames;
      lastVideoMs = std::max(lastVideoMs, entry.ms);
    }
    index.push_back(entry);
  };
  std::string chunk(kScanChunkBytes, '\0');
  TEsFrame frame;
  for (std::int64_t at = kStreamHeaderSize; at < fileSize && !tooMany;) {
    const std::int64_t got = file.PositionalRead(at, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    if (got <= 0) break;
    scanner.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), static_cast<std::size_t>(got));
    while (scanner.Next(frame)) take(frame);
    at += got;
  }
  scanner.Flush();
  while (scanner.Next(frame)) take(frame);
  if (tooMany) return false;
  if (videoFrames == 0) return false;
  // Frames are played in time order; a stream that runs backwards is clamped.
  for (std::size_t i = 1; i < index.size(); ++i) index[i].ms = std::max(index[i].ms, index[i - 1].ms);

  // The picture size comes from the first picture that decodes.
  TH264Decoder decoder;
  std::int32_t width = header.width;
  std::int32_t height = header.height;
  for (const TIndexEntry& entry : index) {
    if (!entry.isVideo) continue;
    std::string bytes(static_cast<std::size_t>(entry.end - entry.begin), '\0');
    if (!file.PositionalReadExact(entry.begin, bytes.data(), static_cast<std::int64_t>(bytes.size()))) break;
    TPsParser parser;
    parser.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    parser.Flush();
    std::vector<TPicture> pictures;
    while (parser.Next(frame))
      if (frame.stream == TStreamType::Video)
        decoder.Decode(reinterpret_cast<const std::uint8_t*>(frame.data.data()), frame.data.size(), 0, pictures);
    if (!pictures.empty()) {
      width = pictures.front().width;
      height = pictures.front().height;
      break;
    }
  }

  file_ = std::move(file);
  index_ = std::move(index);
  header_ = header;
  videoFrames_ = videoFrames;
  durationMs_ = lastVideoMs + 1000.0 / header.RoundedFrameRate();
  fileWidth_ = width;
  fileHeight_ = height;
  nextIndex_ = 0;
  paused_ = false;
  speedNotch_ = 0;
  anchorMediaMs_ = 0;
  shownMs_ = 0;
  seekMs_.reset();
  frameNumber_ = 0;
  mode_ = TMode::File;
  return true;
}

std::uint32_t TPort::FileSeconds() const {
  std::lock_guard guard(lock_);
  if (mode_ != TMode::File) return 0;
  return static_cast<std::uint32_t>(std::llround(durationMs_ / 1000.0));
}

std::uint32_t TPort::TotalFrames() const {
  std::lock_guard guard(lock_);
  return mode_ == TMode::File ? videoFrames_ : 0;
}

std::uint32_t TPort::PlayedSeconds() const {
  std::lock_guard guard(lock_);
  if (mode_ != TMode::File) return 0;
  return static_cast<std::uint32_t>(std::max(0.0, shownMs_) / 1000.0);
}

float TPort::PlayPosition() const {
  std::lock_guard guard(lock_);
  if (mode_ != TMode::File || durationMs_ <= 0) return 0;
  return static_cast<float>(std::clamp(shownMs_ / durationMs_, 0.0, 1.0));
}

bool TPort::SetPlayPosition(float fraction) {
  if (!std::isfinite(fraction)) return false;
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::File) return false;
    const double target = std::clamp(static_cast<double>(fraction), 0.0, 1.0) * durationMs_;
    seekMs_ = target;
    shownMs_ = target;
    anchorMediaMs_ = target;
    anchorWallMs_ = NowMs();
  }
  wake_.notify_all();
  return true;
}

bool TPort::Pause(bool pause) {
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::File) return false;
    if (pause == paused_) return true;
    anchorMediaMs_ = MediaNowMsLocked();
    anchorWallMs_ = NowMs();
    paused_ = pause;
  }
  wake_.notify_all();
  return true;
}

bool TPort::StepSpeed(int direction) {
  {
    std::lock_guard guard(lock_);
    if (mode_ != TMode::File) return false;
    const int notch = speedNotch_ + (direction > 0 ? 1 : -1);
    if (notch < -kMaxSpeedNotch || notch > kMaxSpeedNotch) return false;
    anchorMediaMs_ = MediaNowMsLocked();
    anchorWallMs_ = NowMs();
    speedNotch_ = notch;
  }
  wake_.notify_all();
  return true;
}

double TPort::MediaNowMsLocked() const {
  if (!playing_ || paused_) return anchorMediaMs_;
  return anchorMediaMs_ + (NowMs() - anchorWallMs_) * std::ldexp(1.0, speedNotch_);
}

void TPort::ReanchorLocked() {
  anchorMediaMs_ = shownMs_;
  anchorWallMs_ = NowMs();
}

void TPort::FileLoop() {
  TH264Decoder decoder;
  std::optional<double> skipUntilMs;  // pictures before this time are decoded but not shown
  std::string bytes;
  std::unique_lock lock(lock_);
  while (!quit_) {
    if (seekMs_) {
      const double target = *seekMs_;
      seekMs_.reset();
      std::size_t start = 0;
      for (std::size_t i = 0; i < index_.size() && index_[i].ms <= target; ++i)
        if (index_[i].isKey) start = i;
      nextIndex_ = start;
      skipUntilMs = target;
      decoder.Flush();
    }
    if (!playing_ || paused_ || nextIndex_ >= index_.size()) {
      wake_.wait_for(lock, std::chrono::milliseconds(50));
      continue;
    }
    const TIndexEntry entry = index_[nextIndex_];
    const bool catchingUp = skipUntilMs && entry.ms < *skipUntilMs;
    if (!catchingUp) {
      const double ahead = entry.ms - MediaNowMsLocked();
      if (ahead > 0) {
        const double realMs = std::clamp(ahead / std::ldexp(1.0, speedNotch_), 1.0, kMaxPaceWaitMs);
        wake_.wait_for(lock, std::chrono::microseconds(static_cast<std::int64_t>(realMs * 1000)));
        continue;
      }
      skipUntilMs.reset();
    }
    const std::uint64_t generation = generation_;
    lock.unlock();
    bytes.resize(static_cast<std::size_t>(entry.end - entry.begin));
    if (file_.PositionalReadExact(entry.begin, bytes.data(), static_cast<std::int64_t>(bytes.size()))) {
      TPsParser parser;
      parser.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      parser.Flush();
      TEsFrame frame;
      while (parser.Next(frame)) {
        // Stamps count from the file's first frame, like the index.
        const std::int64_t firstPts = frame.pts90k - static_cast<std::int64_t>(std::llround(entry.ms * 90));
        HandleFrame(frame, firstPts, decoder, !catchingUp, generation);
      }
    }
    lock.lock();
    // A seek that came in meanwhile wins over this frame's position.
    if (seekMs_) continue;
    ++nextIndex_;
    // The position moves with every video frame played, also one that did
    // not decode.
    if (entry.isVideo && !catchingUp) shownMs_ = entry.ms;
  }
}

}  // namespace ospry::vendor
