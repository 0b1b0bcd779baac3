#pragma once
// What the library's callbacks and outputs delivered, recorded per port, and
// recording renderers and wave outputs for the factories.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vplay/VPlay.h"

namespace ospry::test {

struct TDelivery {
  VPlayFrameInfo info{};
  std::int32_t size = 0;
  std::string bytes;
};

struct TPortRecord {
  std::vector<TDelivery> pictures;
  std::vector<TDelivery> sounds;
  std::vector<std::int32_t> displayStamps;
};

// Process-wide, as the library's callbacks carry only the port.
class TRecorder {
public:
  static TRecorder& Instance() {
    static TRecorder recorder;
    return recorder;
  }
  static void DecodeCallback(std::int32_t port, const char* buffer, std::int32_t size, const VPlayFrameInfo* info,
                             std::int32_t, std::int32_t) {
    TDelivery d;
    d.info = *info;
    d.size = size;
    d.bytes.assign(buffer, static_cast<std::size_t>(size));
    std::lock_guard guard(Instance().lock_);
    auto& record = Instance().ports_[port];
    (info->type == VPLAY_TYPE_PCM16 ? record.sounds : record.pictures).push_back(std::move(d));
  }
  static void DisplayCallback(std::int32_t port, const char*, std::int32_t, std::int32_t, std::int32_t,
                              std::int32_t stamp, std::int32_t, std::int32_t) {
    std::lock_guard guard(Instance().lock_);
    Instance().ports_[port].displayStamps.push_back(stamp);
  }
  TPortRecord Get(int port) {
    std::lock_guard guard(lock_);
    return ports_[port];
  }
  std::size_t PictureCount(int port) {
    std::lock_guard guard(lock_);
    return ports_[port].pictures.size();
  }
  void Clear(int port) {
    std::lock_guard guard(lock_);
    ports_.erase(port);
  }

private:
  std::mutex lock_;
  std::map<int, TPortRecord> ports_;
};

struct TDraw {
  int width = 0;
  int height = 0;
  TWindowHandle window = kNoWindow;
};

// What every renderer and wave output made by the factories saw.
struct TOutputLog {
  std::mutex lock;
  std::vector<TDraw> draws;
  std::vector<TWaveFormat> opened;
  std::size_t soundBytes = 0;
  int closes = 0;
};

class TRecordingRenderer final : public IYuvRenderer {
public:
  explicit TRecordingRenderer(std::shared_ptr<TOutputLog> log) : log_(std::move(log)) {}
  void DrawFrame(const std::uint8_t*, int width, int height, int, TWindowHandle window) override {
    std::lock_guard guard(log_->lock);
    log_->draws.push_back({width, height, window});
  }
  void Repaint() override {}

private:
  std::shared_ptr<TOutputLog> log_;
};

class TRecordingWave final : public IWaveOutput {
public:
  explicit TRecordingWave(std::shared_ptr<TOutputLog> log) : log_(std::move(log)) {}
  bool Open(const TWaveFormat& format) override {
    std::lock_guard guard(log_->lock);
    log_->opened.push_back(format);
    open_ = true;
    return true;
  }
  void Write(const std::uint8_t*, std::int32_t size) override {
    std::lock_guard guard(log_->lock);
    if (open_ && size > 0) log_->soundBytes += static_cast<std::size_t>(size);
  }
  void Close() override {
    std::lock_guard guard(log_->lock);
    if (open_) ++log_->closes;
    open_ = false;
  }
  bool IsOpen() const override { return open_; }

private:
  std::shared_ptr<TOutputLog> log_;
  bool open_ = false;  // guarded by log_->lock for writes; read by the owning port only
};

}  // namespace ospry::test
