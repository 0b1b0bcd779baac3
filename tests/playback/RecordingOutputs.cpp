#include "tests/playback/RecordingOutputs.h"

#include <cstring>

namespace ospry::testing {

void TDrawLog::Add(const TDrawRecord& record) {
  std::lock_guard<std::mutex> guard(lock_);
  draws_.push_back(record);
}

void TDrawLog::AddRepaint() {
  std::lock_guard<std::mutex> guard(lock_);
  ++repaints_;
}

std::vector<TDrawRecord> TDrawLog::Draws() {
  std::lock_guard<std::mutex> guard(lock_);
  return draws_;
}

std::vector<TDateTime> TDrawLog::Stamps() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<TDateTime> stamps;
  for (const auto& draw : draws_) stamps.push_back(draw.PictureStamp);
  return stamps;
}

std::size_t TDrawLog::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return draws_.size();
}

int TDrawLog::Repaints() {
  std::lock_guard<std::mutex> guard(lock_);
  return repaints_;
}

void TDrawLog::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  draws_.clear();
  repaints_ = 0;
}

namespace {

class TRecordingRenderer final : public IYuvRenderer {
public:
  TRecordingRenderer(std::shared_ptr<TDrawLog> log, IClock& clock)
      : log_(std::move(log)), clock_(clock) {}
  void DrawFrame(const std::uint8_t* picture, int width, int height, int frameType,
                 TWindowHandle window) override {
    TDrawRecord record;
    record.DrawnAt = clock_.Now();
    record.PictureStamp = TestPictureStamp(picture);
    record.Width = width;
    record.Height = height;
    record.FrameType = frameType;
    record.Window = window;
    log_->Add(record);
  }
  void Repaint() override { log_->AddRepaint(); }

private:
  std::shared_ptr<TDrawLog> log_;
  IClock& clock_;
};

class TRecordingWave final : public IWaveOutput {
public:
  TRecordingWave(std::shared_ptr<TWaveLog> log, IClock& clock)
      : log_(std::move(log)), clock_(clock) {}
  bool Open(const TWaveFormat& format) override {
    TWaveRecord record;
    record.Kind = TWaveRecord::kOpen;
    record.Format = format;
    record.At = clock_.Now();
    log_->Add(record);
    open_ = true;
    return true;
  }
  void Write(const std::uint8_t*, std::int32_t size) override {
    if (!open_ || size <= 0) return;
    TWaveRecord record;
    record.Kind = TWaveRecord::kWrite;
    record.Size = size;
    record.At = clock_.Now();
    log_->Add(record);
  }
  void Close() override {
    if (!open_) return;
    open_ = false;
    TWaveRecord record;
    record.Kind = TWaveRecord::kClose;
    record.At = clock_.Now();
    log_->Add(record);
  }
  bool IsOpen() const override { return open_; }

private:
  std::shared_ptr<TWaveLog> log_;
  IClock& clock_;
  bool open_ = false;
};

}  // namespace

TRendererFactory RecordingRendererFactory(std::shared_ptr<TDrawLog> log, IClock& clock) {
  return [log, &clock]() -> std::unique_ptr<IYuvRenderer> {
    return std::make_unique<TRecordingRenderer>(log, clock);
  };
}

void TWaveLog::Add(const TWaveRecord& record) {
  std::lock_guard<std::mutex> guard(lock_);
  records_.push_back(record);
}

std::vector<TWaveRecord> TWaveLog::Records() {
  std::lock_guard<std::mutex> guard(lock_);
  return records_;
}

TWaveOutputFactory RecordingWaveFactory(std::shared_ptr<TWaveLog> log, IClock& clock) {
  return [log, &clock]() -> std::unique_ptr<IWaveOutput> {
    return std::make_unique<TRecordingWave>(log, clock);
  };
}

TFrameInfo TestPictureInfo(TDateTime stamp, int width, int height, TWindowHandle window) {
  TFrameInfo info{};
  info.Width = width;
  info.Height = height;
  info.Window = window;
  info.Stamp = stamp;
  info.FrameType = 1;
  info.DataSize = width * height * 3 / 2;
  return info;
}

std::vector<std::uint8_t> TestPicture(TDateTime stamp, int width, int height) {
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(width * height * 3 / 2), 0x80);
  if (picture.size() >= sizeof stamp) std::memcpy(picture.data(), &stamp, sizeof stamp);
  return picture;
}

TDateTime TestPictureStamp(const std::uint8_t* picture) {
  TDateTime stamp = 0;
  if (picture != nullptr) std::memcpy(&stamp, picture, sizeof stamp);
  return stamp;
}

}  // namespace ospry::testing
