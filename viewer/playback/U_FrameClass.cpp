#include "viewer/playback/U_FrameClass.h"

#include <cstring>

namespace ospry {

TFrameClass::TFrameClass(const TFrameInfo& header, const std::uint8_t* payload) {
  Assign(header, payload);
}

void TFrameClass::Assign(const TFrameInfo& header, const std::uint8_t* payload) {
  header_ = header;
  if (header_.DataSize <= 0 || payload == nullptr) {
    header_.DataSize = 0;
    return;
  }
  const auto size = static_cast<std::size_t>(header_.DataSize);
  if (data_.size() < size) data_.resize(size);
  std::memcpy(data_.data(), payload, size);
}

}  // namespace ospry
