#include "viewer/decoding/U_DecodeMPEG.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "viewer/render/DrawYUV_New.h"

namespace ospry {

namespace {

AVCodecID CodecForKind(std::uint8_t kind) {
  switch (kind) {
    case 3:
    case 5:
    case 6:
      return AV_CODEC_ID_H264;
    case 13:
    case 15:
      return AV_CODEC_ID_MPEG4;
    case 16:
      return AV_CODEC_ID_MJPEG;
    default:
      return AV_CODEC_ID_NONE;
  }
}

// Copies rows of width bytes from a plane with a (possibly negative) line
// size; rowStep 2 takes every second source row.
void CopyPlane(std::uint8_t* dest, int width, int rows, const std::uint8_t* source, int lineSize, int rowStep) {
  for (int row = 0; row < rows; ++row) {
    std::memcpy(dest + static_cast<std::size_t>(row) * width,
                source + static_cast<std::ptrdiff_t>(row) * rowStep * lineSize, width);
  }
}

}  // namespace

TDecodeMPEG::TDecodeMPEG(TWindowHandle window, TRendererFactory rendererFactory, int threadCount)
    : TDecodeBase(window),
      frame_(av_frame_alloc()),
      threadCount_(std::max(0, threadCount)),
      apiMutex_(kFfmpegMutexName) {
  if (rendererFactory) renderer_ = rendererFactory();
}

TDecodeMPEG::~TDecodeMPEG() { Close(); }

void TDecodeMPEG::Open(const TFrameHeader& header, const std::uint8_t* payload) {
  if (!context_) {
    const AVCodecID id = CodecForKind(header.StreamKind);
    if (id == AV_CODEC_ID_NONE || !frame_) return;
    TNamedMutexGuard api(apiMutex_);
    const AVCodec* codec = avcodec_find_decoder(id);
    if (codec == nullptr) return;
    TAvCodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return;
    context->thread_count = threadCount_;
    // A decoder that cannot be opened is freed and the decoder stays closed;
    // the next frame tries again.
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return;
    context_ = std::move(context);
  }
  DecodePacket(header, payload);
}

int TDecodeMPEG::Decode(const TFrameHeader& header, const std::uint8_t* payload) {
  if (!context_) {
    Open(header, payload);
    return -1;
  }
  return DecodePacket(header, payload);
}

int TDecodeMPEG::DecodePacket(const TFrameHeader& header, const std::uint8_t* payload) {
  if (header.DataSize <= 0 || payload == nullptr) return -1;
  // libavcodec reads past the end of its input, so the payload goes into a
  // padded packet buffer first.
  TAvPacketPtr packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), header.DataSize) < 0) return -1;
  std::memcpy(packet->data, payload, header.DataSize);
  if (header.FrameType == kFrameKey) packet->flags |= AV_PKT_FLAG_KEY;

  int result = 0;
  bool sent = false;
  while (true) {
    int sendStatus = 0;
    int receiveStatus = 0;
    {
      TNamedMutexGuard api(apiMutex_);
      if (!sent) {
        sendStatus = avcodec_send_packet(context_.get(), packet.get());
        if (sendStatus != AVERROR(EAGAIN)) sent = true;
      }
      receiveStatus = avcodec_receive_frame(context_.get(), frame_.get());
    }
    if (sendStatus < 0 && sendStatus != AVERROR(EAGAIN)) return result == 1 ? 1 : -1;
    // No picture: the packet is in (or, against the codec's contract, refused
    // although its output is empty; it is then dropped).
    if (receiveStatus < 0) break;
    const bool stored = StorePicture(frame_.get());
    av_frame_unref(frame_.get());
    if (!stored) continue;
    DeliverPicture(header);
    result = 1;
  }
  if (result == 0) lastHeader_ = header;
  return result;
}

bool TDecodeMPEG::StorePicture(const AVFrame* frame) {
  const int width = frame->width;
  const int height = frame->height;
  if (width <= 0 || height <= 0) return false;

  const AVFrame* source = frame;
  int chromaRowStep = 1;
  switch (frame->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P:
      break;
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_YUVJ422P:
      chromaRowStep = 2;
      break;
    default: {
      // Any other layout goes through libswscale to planar 4:2:0, so no plane
      // the format lacks is ever read.
      const auto format = static_cast<AVPixelFormat>(frame->format);
      scaler_.reset(sws_getCachedContext(scaler_.release(), width, height, format, width, height,
                                         AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
      if (!scaler_) return false;
      if (!converted_ || converted_->width != width || converted_->height != height) {
        converted_.reset(av_frame_alloc());
        if (!converted_) return false;
        converted_->format = AV_PIX_FMT_YUV420P;
        converted_->width = width;
        converted_->height = height;
        if (av_frame_get_buffer(converted_.get(), 0) < 0) {
          converted_.reset();
          return false;
        }
      }
      if (sws_scale(scaler_.get(), frame->data, frame->linesize, 0, height, converted_->data,
                    converted_->linesize) != height) {
        return false;
      }
      source = converted_.get();
      break;
    }
  }

  const std::size_t lumaBytes = static_cast<std::size_t>(width) * height;
  const std::size_t size = lumaBytes * 3 / 2;
  if (size > 0x7fffffff) return false;
  const int chromaWidth = width / 2;
  const int chromaRows = height / 2;
  TLockGuard<TLock> guard(pictureLock_);
  if (picture_.Data.size() < size) picture_.Data.resize(size);
  std::uint8_t* out = picture_.Data.data();
  CopyPlane(out, width, height, source->data[0], source->linesize[0], 1);
  std::uint8_t* cr = out + lumaBytes;
  std::uint8_t* cb = cr + lumaBytes / 4;
  // With odd sizes the planes are shorter than their quarter; keep the gap
  // neutral grey instead of stale bytes. Even sizes fill them exactly.
  if ((width | height) & 1) std::memset(cr, 128, size - lumaBytes);
  CopyPlane(cr, chromaWidth, chromaRows, source->data[2], source->linesize[2], chromaRowStep);
  CopyPlane(cb, chromaWidth, chromaRows, source->data[1], source->linesize[1], chromaRowStep);
  picture_.Size = static_cast<std::int32_t>(size);
  picture_.Width = width;
  picture_.Height = height;
  return true;
}

void TDecodeMPEG::DeliverPicture(const TFrameHeader& header) {
  // Only this thread writes the picture, so it can be read here without the
  // picture lock (which the callback must not be called under).
  TLockGuard<TLock> guard(callbackLock_);
  if (!onFrame_) {
    if (renderer_) {
      renderer_->DrawFrame(picture_.Data.data(), picture_.Width, picture_.Height, header.FrameType, Window);
    }
    return;
  }
  lastHeader_ = header;
  TFrameInfo info{};
  info.Width = picture_.Width;
  info.Height = picture_.Height;
  info.Window = Window;
  info.Stamp = lastHeader_.Stamp;
  info.FrameType = lastHeader_.FrameType;
  info.DataSize = picture_.Size;
  info.IsAudio = false;
  try {
    onFrame_(info, picture_.Data.data());
  } catch (...) {
    // A failing receiver loses this picture only.
  }
}

void TDecodeMPEG::Stop() {
  if (context_) avcodec_flush_buffers(context_.get());
}

void TDecodeMPEG::Close() {
  Stop();
  if (context_) {
    TNamedMutexGuard api(apiMutex_);
    context_.reset();
  }
}

std::vector<std::uint8_t> TDecodeMPEG::Snapshot() {
  TLockGuard<TLock> guard(pictureLock_);
  if (picture_.Size <= 0) return {};
  return TDrawYUV::MakeBitmap(picture_.Data.data(), picture_.Width, picture_.Height, true);
}

void TDecodeMPEG::SetOnFrame(TDecodedFrameEvent callback) {
  TLockGuard<TLock> guard(callbackLock_);
  onFrame_ = std::move(callback);
}

TPicByte TDecodeMPEG::Picture() const {
  TLockGuard<TLock> guard(pictureLock_);
  return picture_;
}

}  // namespace ospry
