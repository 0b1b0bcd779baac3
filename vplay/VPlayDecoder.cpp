#include "vplay/VPlayDecoder.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace ospry::vendor {

void TH264Decoder::TContextFree::operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
void TH264Decoder::TFrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }
void TH264Decoder::TPacketFree::operator()(AVPacket* p) const { av_packet_free(&p); }
void TH264Decoder::TSwsFree::operator()(SwsContext* s) const { sws_freeContext(s); }

TH264Decoder::TH264Decoder() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) return;
  std::unique_ptr<AVCodecContext, TContextFree> context(avcodec_alloc_context3(codec));
  if (!context) return;
  // One picture out for every access unit in: no frame threads, low delay.
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return;
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_) return;
  context_ = std::move(context);
}

TH264Decoder::~TH264Decoder() = default;

void TH264Decoder::Decode(const std::uint8_t* data, std::size_t size, std::int64_t pts,
                          std::vector<TPicture>& out) {
  if (!context_ || data == nullptr || size == 0 || size > INT32_MAX / 2) return;
  // libavcodec reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end.
  if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) return;
  std::memcpy(packet_->data, data, size);
  packet_->pts = pts;
  const int sent = avcodec_send_packet(context_.get(), packet_.get());
  av_packet_unref(packet_.get());
  if (sent < 0 && sent != AVERROR(EAGAIN)) return;
  Collect(out);
}

void TH264Decoder::Flush() {
  if (context_) avcodec_flush_buffers(context_.get());
}

void TH264Decoder::Collect(std::vector<TPicture>& out) {
  while (avcodec_receive_frame(context_.get(), frame_.get()) == 0) {
    const int w = frame_->width;
    const int h = frame_->height;
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) {
      av_frame_unref(frame_.get());
      continue;
    }
    const int cw = w / 2;
    const int ch = h / 2;
    TPicture picture;
    picture.width = w;
    picture.height = h;
    picture.pts = frame_->pts == AV_NOPTS_VALUE ? frame_->best_effort_timestamp : frame_->pts;
    picture.yv12.resize(static_cast<std::size_t>(w) * h + 2 * static_cast<std::size_t>(cw) * ch);
    auto* dst = reinterpret_cast<std::uint8_t*>(picture.yv12.data());
    std::uint8_t* planes[3] = {dst, dst + static_cast<std::size_t>(w) * h + static_cast<std::size_t>(cw) * ch,
                               dst + static_cast<std::size_t>(w) * h};  // Y, U (after V), V
    const int pitches[3] = {w, cw, cw};
    const auto format = static_cast<AVPixelFormat>(frame_->format);
    if (format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P) {
      for (int plane = 0; plane < 3; ++plane) {
        const int pw = plane == 0 ? w : cw;
        const int ph = plane == 0 ? h : ch;
        for (int y = 0; y < ph; ++y)
          std::memcpy(planes[plane] + static_cast<std::size_t>(y) * pitches[plane],
                      frame_->data[plane] + static_cast<std::ptrdiff_t>(y) * frame_->linesize[plane], pw);
      }
    } else {
      scaler_.reset(sws_getCachedContext(scaler_.release(), w, h, format, w, h, AV_PIX_FMT_YUV420P,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr));
      if (!scaler_) {
        av_frame_unref(frame_.get());
        continue;
      }
      sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, h, planes, pitches);
    }
    av_frame_unref(frame_.get());
    out.push_back(std::move(picture));
  }
}

}  // namespace ospry::vendor
