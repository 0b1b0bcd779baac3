#pragma once
// The decoder for stream kind 0: accepts every call and discards every frame
// without a callback. Thread-safe (it has no state of its own).
#include "viewer/decoding/U_DecodeBase.h"

namespace ospry {

class TDecodeNone final : public TDecodeBase {
public:
  using TDecodeBase::TDecodeBase;
  void Open(const TFrameHeader&, const std::uint8_t*) override {}
  // Always 0: the frame is consumed without a result.
  int Decode(const TFrameHeader&, const std::uint8_t*) override { return 0; }
  void Stop() override {}
  void Close() override {}
  void SetOnFrame(TDecodedFrameEvent) override {}
  void ClearDisplay() override {}
};

}  // namespace ospry
