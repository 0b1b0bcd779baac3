#pragma once
// One stored decoded frame: its record and a payload array that is reused
// from frame to frame and only ever grows.
//
// Threading: not thread-safe; the frame buffer that holds it serialises use.
#include <cstdint>
#include <vector>

#include "viewer/decoding/U_FrameInfo.h"

namespace ospry {

class TFrameClass {
public:
  // Copies the record and header.DataSize bytes of payload (none when
  // DataSize <= 0 or payload is null; DataSize is then stored as 0).
  TFrameClass(const TFrameInfo& header, const std::uint8_t* payload);

  // Reuses the object for another frame: the payload array grows when it is
  // too short and never shrinks.
  void Assign(const TFrameInfo& header, const std::uint8_t* payload);

  const TFrameInfo& Header() const { return header_; }
  // The first Header().DataSize bytes are the payload; the array may be longer.
  const std::vector<std::uint8_t>& Data() const { return data_; }

private:
  TFrameInfo header_;
  std::vector<std::uint8_t> data_;
};

}  // namespace ospry
