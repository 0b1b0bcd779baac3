#include "viewer/playback/U_FrameBuffer.h"

#include <cstring>

namespace ospry {

bool IsDrawablePicture(const TFrameInfo& header) {
  if (header.IsAudio || header.Width <= 0 || header.Height <= 0 || header.DataSize <= 0) return false;
  const std::int64_t needed =
      static_cast<std::int64_t>(header.Width) * header.Height * 3 / 2;
  return header.DataSize >= needed;
}

TFrameBuffer::TFrameBuffer(int initialCapacity, std::unique_ptr<IYuvRenderer> renderer)
    : initialCapacity_(initialCapacity < 1 ? 1 : initialCapacity),
      renderer_(std::move(renderer)),
      ring_(std::make_unique<TLinkedList>(initialCapacity_)),
      writePos_(ring_->Head()),
      readPos_(ring_->Head()) {}

TFrameBuffer::~TFrameBuffer() = default;

void TFrameBuffer::Push(const TFrameInfo& header, const std::uint8_t* payload) {
  std::lock_guard<std::mutex> guard(lock_);
  if (writePos_->Next == readPos_) ring_->InsertAfter(writePos_, ring_->Count());
  if (writePos_->Data)
    writePos_->Data->Assign(header, payload);
  else
    writePos_->Data = std::make_unique<TFrameClass>(header, payload);
  writePos_ = writePos_->Next;
}

bool TFrameBuffer::PopNewest(TFrameInfo& header, const std::uint8_t*& payload) {
  std::lock_guard<std::mutex> guard(lock_);
  if (readPos_ == writePos_) return false;
  TLink* node = writePos_->Prev;
  header = node->Data->Header();
  payload = node->Data->Data().data();
  writePos_ = node;
  return true;
}

TFrameInfo TFrameBuffer::PeekNextHeader() {
  std::lock_guard<std::mutex> guard(lock_);
  if (readPos_ != writePos_ && readPos_->Data) return readPos_->Data->Header();
  return TFrameInfo{};
}

bool TFrameBuffer::RenderNextLocked() {
  while (readPos_ != writePos_) {
    TLink* node = readPos_;
    readPos_ = node->Next;
    if (!node->Data || !IsDrawablePicture(node->Data->Header())) continue;
    const TFrameInfo& info = node->Data->Header();
    if (renderer_)
      renderer_->DrawFrame(node->Data->Data().data(), info.Width, info.Height, info.FrameType,
                           info.Window);
    return true;
  }
  return false;
}

bool TFrameBuffer::RenderNext() {
  std::lock_guard<std::mutex> guard(lock_);
  return RenderNextLocked();
}

void TFrameBuffer::StepBack() {
  std::lock_guard<std::mutex> guard(lock_);
  TLink* older = readPos_->Prev->Prev;
  if (older == writePos_ || !older->Data || !IsDrawablePicture(older->Data->Header())) return;
  // Also refuse when the older node is pending (a ring of two nodes), which
  // would make the pending frames look drawn.
  if (readPos_->Prev == writePos_) return;
  readPos_ = older;
  RenderNextLocked();
}

void TFrameBuffer::PeekDisplayed(TFrameInfo& header, const std::uint8_t*& payload) {
  std::lock_guard<std::mutex> guard(lock_);
  TLink* shown = readPos_->Prev;
  if (shown == writePos_ || !shown->Data || shown->Data->Header().DataSize <= 0) {
    header = TFrameInfo{};
    payload = nullptr;
    return;
  }
  header = shown->Data->Header();
  payload = shown->Data->Data().data();
}

bool TFrameBuffer::CopyDisplayed(TFrameInfo& header, std::vector<std::uint8_t>& picture) {
  std::lock_guard<std::mutex> guard(lock_);
  TLink* shown = readPos_->Prev;
  if (shown == writePos_ || !shown->Data || !IsDrawablePicture(shown->Data->Header())) {
    header = TFrameInfo{};
    picture.clear();
    return false;
  }
  header = shown->Data->Header();
  const auto size = static_cast<std::size_t>(header.DataSize);
  picture.assign(shown->Data->Data().begin(), shown->Data->Data().begin() + size);
  return true;
}

int TFrameBuffer::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  return TLinkedList::Distance(readPos_, writePos_);
}

int TFrameBuffer::Capacity() {
  std::lock_guard<std::mutex> guard(lock_);
  return ring_->Count();
}

void TFrameBuffer::MoveAllFrom(TFrameBuffer& other) {
  if (&other == this) return;
  TFrameInfo header;
  const std::uint8_t* payload = nullptr;
  while (other.PopNewest(header, payload)) Push(header, payload);
}

void TFrameBuffer::Clear() {
  auto fresh = std::make_unique<TLinkedList>(initialCapacity_);
  {
    std::lock_guard<std::mutex> guard(lock_);
    ring_.swap(fresh);
    writePos_ = ring_->Head();
    readPos_ = ring_->Head();
  }
  // fresh now holds the old ring; it is freed here, outside the lock.
}

void TFrameBuffer::Repaint() {
  std::lock_guard<std::mutex> guard(lock_);
  if (renderer_) renderer_->Repaint();
}

}  // namespace ospry
