#pragma once
// H.264 access units to tightly packed YV12 pictures (luma, then Cr, then
// Cb), through libavcodec. Built for one decoding thread: not thread-safe.
//
// Error policy: an access unit that cannot be decoded gives no picture; no
// call throws except std::bad_alloc.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace ospry::vendor {

struct TPicture {
  int width = 0;
  int height = 0;
  std::int64_t pts = 0;  // the pts given with the access unit that made it
  std::string yv12;  // width * height + 2 * (width / 2) * (height / 2) bytes
};

class TH264Decoder {
public:
  TH264Decoder();
  ~TH264Decoder();
  TH264Decoder(const TH264Decoder&) = delete;
  TH264Decoder& operator=(const TH264Decoder&) = delete;

  bool IsOpen() const { return context_ != nullptr; }
  // Decodes one access unit stamped pts; appends every picture it completes
  // to out.
  void Decode(const std::uint8_t* data, std::size_t size, std::int64_t pts, std::vector<TPicture>& out);
  // Forgets references and queued pictures (after a seek or a reset).
  void Flush();

private:
  void Collect(std::vector<TPicture>& out);

  struct TContextFree { void operator()(AVCodecContext* c) const; };
  struct TFrameFree { void operator()(AVFrame* f) const; };
  struct TPacketFree { void operator()(AVPacket* p) const; };
  struct TSwsFree { void operator()(SwsContext* s) const; };
  std::unique_ptr<AVCodecContext, TContextFree> context_;
  std::unique_ptr<AVFrame, TFrameFree> frame_;
  std::unique_ptr<AVPacket, TPacketFree> packet_;
  std::unique_ptr<SwsContext, TSwsFree> scaler_;  // only for sources not already 4:2:0
};

}  // namespace ospry::vendor
