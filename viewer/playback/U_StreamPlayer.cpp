#include "viewer/playback/U_StreamPlayer.h"

namespace ospry {

TStreamPlayer::TStreamPlayer(IQuernSeekableStream* source, IClock& clock)
    : source_(source), clock_(clock) {
  if (source_)
    source_->SetOnData([this](const TStreamPacketInfo& info, const std::uint8_t* data,
                              std::int32_t size) { HandleData(info, data, size); });
}

TStreamPlayer::~TStreamPlayer() {
  if (source_) source_->SetOnData({});
}

void TStreamPlayer::SetOnFrame(TPlayerFrameEvent handler) {
  auto shared = handler ? std::make_shared<const TPlayerFrameEvent>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> guard(handlerLock_);
  onFrame_ = std::move(shared);
}

void TStreamPlayer::SetOnFlush(TPlayerFlushEvent) {}

void TStreamPlayer::HandleData(const TStreamPacketInfo& info, const std::uint8_t* data,
                               std::int32_t size) {
  std::shared_ptr<const TPlayerFrameEvent> onFrame;
  {
    std::lock_guard<std::mutex> guard(handlerLock_);
    onFrame = onFrame_;
  }
  if (!onFrame) return;
  TFrameHeader header;
  header.StreamKind = info.StreamKind;
  header.FrameType = info.FrameType;
  const bool hasPayload = size > 0 && data != nullptr;
  header.DataSize = hasPayload ? size : 0;
  header.Stamp = info.StampValid ? info.Stamp : clock_.Now();
  (*onFrame)(info.SourceId, header, hasPayload ? data : nullptr);
}

void TStreamPlayer::SeekAndPlay(TDateTime) { Play(); }

void TStreamPlayer::PlayAtSpeed(double speed) {
  if (!source_) return;
  source_->SetSpeed(speed);
  source_->Play();
}

void TStreamPlayer::Play() {
  if (source_) source_->Play();
}

void TStreamPlayer::StepForward() {}

void TStreamPlayer::Stop() {
  if (source_) source_->Stop();
}

bool TStreamPlayer::Pause() { return source_ && source_->Pause(); }

bool TStreamPlayer::Resume() { return source_ && source_->Resume(); }

bool TStreamPlayer::Seek(TDateTime time) {
  if (source_) source_->Seek(time);
  return true;
}

void TStreamPlayer::SeekRelative(TDateTime delta) { Seek(GetPosition() + delta); }

TDateTime TStreamPlayer::GetPosition() { return source_ ? source_->GetPosition() : kNoTime; }

double TStreamPlayer::GetSpeed() { return source_ ? source_->GetSpeed() : 0.0; }

bool TStreamPlayer::SetSpeed(double speed) {
  if (!source_) return false;
  if (speed != 0.0) SetPaused(false);
  source_->SetSpeed(speed);
  return true;
}

bool TStreamPlayer::IsPaused() { return !source_ || !source_->IsActive(); }

void TStreamPlayer::SetPaused(bool value) {
  if (value)
    Pause();
  else
    Resume();
}

void TStreamPlayer::Faster() {
  if (source_) source_->Faster();
}

void TStreamPlayer::Slower() {
  if (source_) source_->Slower();
}

std::string TStreamPlayer::GetLastError() { return {}; }

}  // namespace ospry
