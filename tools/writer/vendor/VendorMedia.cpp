#include "tools/writer/vendor/VendorMedia.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace ospry::writer {
namespace {

struct TContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TFrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct TPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using TContextPtr = std::unique_ptr<AVCodecContext, TContextFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

// Drains the encoder into out; false on an encoder error.
bool Drain(AVCodecContext* context, AVPacket* packet, std::vector<TEncodedPicture>& out, int fps) {
  for (;;) {
    const int got = avcodec_receive_packet(context, packet);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return true;
    if (got < 0) return false;
    TEncodedPicture picture;
    picture.bytes.assign(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
    picture.stampMs = packet->pts * 1000 / fps;
    picture.isKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    out.push_back(std::move(picture));
    av_packet_unref(packet);
  }
}

// size bytes of sound starting at sample index first: 16-bit PCM, or mu-law
// encoded by FFmpeg.
std::string EncodeSound(std::uint16_t codec, int channels, int rate, std::int64_t first, int samples) {
  std::string pcm(static_cast<std::size_t>(samples) * channels * 2, '\0');
  for (int i = 0; i < samples; ++i) {
    const double t = static_cast<double>(first + i) / rate;
    const auto value = static_cast<std::int16_t>(std::lround(8000.0 * std::sin(2 * M_PI * 440.0 * t)));
    for (int c = 0; c < channels; ++c) {
      const std::size_t at = (static_cast<std::size_t>(i) * channels + c) * 2;
      pcm[at] = static_cast<char>(value & 0xFF);
      pcm[at + 1] = static_cast<char>((value >> 8) & 0xFF);
    }
  }
  if (codec != vendor::kAudioMulaw) return pcm;

  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_MULAW);
  if (encoder == nullptr) return {};
  TContextPtr context(avcodec_alloc_context3(encoder));
  TFramePtr frame(av_frame_alloc());
  TPacketPtr packet(av_packet_alloc());
  if (!context || !frame || !packet) return {};
  context->sample_fmt = AV_SAMPLE_FMT_S16;
  context->sample_rate = rate;
  av_channel_layout_default(&context->ch_layout, channels);
  if (avcodec_open2(context.get(), encoder, nullptr) < 0) return {};
  frame->format = AV_SAMPLE_FMT_S16;
  frame->sample_rate = rate;
  frame->nb_samples = samples;
  if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0)
    return {};
  std::copy(pcm.begin(), pcm.end(), reinterpret_cast<char*>(frame->data[0]));
  if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_receive_packet(context.get(), packet.get()) < 0)
    return {};
  return std::string(reinterpret_cast<const char*>(packet->data), static_cast<std::size_t>(packet->size));
}

}  // namespace

std::vector<TEncodedPicture> EncodeTestPictures(const TVendorMediaOptions& options) {
  std::vector<TEncodedPicture> out;
  const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
  if (encoder == nullptr || options.width < 16 || options.height < 16 || options.framesPerSecond < 1 ||
      options.frameCount < 1)
    return out;
  TContextPtr context(avcodec_alloc_context3(encoder));
  TFramePtr frame(av_frame_alloc());
  TPacketPtr packet(av_packet_alloc());
  if (!context || !frame || !packet) return out;
  context->width = options.width & ~1;
  context->height = options.height & ~1;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, options.framesPerSecond};
  context->framerate = AVRational{options.framesPerSecond, 1};
  context->gop_size = std::max(1, options.keyInterval);
  context->max_b_frames = 0;
  context->thread_count = 1;
  av_opt_set(context->priv_data, "preset", "ultrafast", 0);
  av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  // Key frames exactly every keyInterval pictures, each with its parameter sets.
  av_opt_set(context->priv_data, "x264-params", "scenecut=0:repeat-headers=1:log=-1", 0);
  if (avcodec_open2(context.get(), encoder, nullptr) < 0) return out;

  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = context->width;
  frame->height = context->height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return out;
  for (int i = 0; i < options.frameCount; ++i) {
    if (av_frame_make_writable(frame.get()) < 0) return {};
    for (int y = 0; y < frame->height; ++y)
      for (int x = 0; x < frame->width; ++x)
        frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(x * 2 + y + i * 3);
    for (int y = 0; y < frame->height / 2; ++y)
      for (int x = 0; x < frame->width / 2; ++x) {
        frame->data[1][y * frame->linesize[1] + x] = static_cast<std::uint8_t>(128 + i);
        frame->data[2][y * frame->linesize[2] + x] = static_cast<std::uint8_t>(64 + x);
      }
    frame->pts = i;
    frame->pict_type = i % context->gop_size == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (avcodec_send_frame(context.get(), frame.get()) < 0 || !Drain(context.get(), packet.get(), out, options.framesPerSecond))
      return {};
  }
  if (avcodec_send_frame(context.get(), nullptr) < 0 || !Drain(context.get(), packet.get(), out, options.framesPerSecond))
    return {};
  if (static_cast<int>(out.size()) != options.frameCount) return {};
  return out;
}

TVendorStream MakeVendorStream(const TVendorMediaOptions& options) {
  TVendorStream stream;
  vendor::TStreamHeader& h = stream.header;
  h.width = static_cast<std::uint16_t>(options.width & ~1);
  h.height = static_cast<std::uint16_t>(options.height & ~1);
  h.frameRateNum = static_cast<std::uint32_t>(std::max(1, options.framesPerSecond));
  h.frameRateDen = 1;
  h.audioCodec = options.audioCodec;
  const bool isDefault = options.audioCodec == vendor::kAudioDefault;
  if (h.HasAudio()) {
    h.channels = static_cast<std::uint8_t>(isDefault ? 1 : std::clamp(options.audioChannels, 1, 8));
    h.bitsPerSample = 16;
    h.sampleRate = static_cast<std::uint32_t>(isDefault ? 16000 : std::max(1000, options.audioSampleRate));
  }

  const std::vector<TEncodedPicture> pictures = EncodeTestPictures(options);
  if (pictures.empty()) return stream;
  const int blockMs = std::max(1, options.audioBlockMs);
  std::int64_t nextAudioMs = 0;
  const std::int64_t endMs = static_cast<std::int64_t>(options.frameCount) * 1000 / std::max(1, options.framesPerSecond);
  for (const TEncodedPicture& picture : pictures) {
    while (h.HasAudio() && nextAudioMs < endMs && nextAudioMs < picture.stampMs) {
      const int samples = static_cast<int>(static_cast<std::int64_t>(h.sampleRate) * blockMs / 1000);
      const std::string sound = EncodeSound(h.audioCodec, h.channels, static_cast<int>(h.sampleRate),
                                            nextAudioMs * h.sampleRate / 1000, samples);
      if (sound.empty()) return {};
      stream.frames.push_back(TVendorMuxer::AudioBlock(reinterpret_cast<const std::uint8_t*>(sound.data()),
                                                       sound.size(), nextAudioMs));
      nextAudioMs += blockMs;
    }
    stream.frames.push_back(TVendorMuxer::VideoFrame(reinterpret_cast<const std::uint8_t*>(picture.bytes.data()),
                                                     picture.bytes.size(), picture.stampMs, picture.isKey));
  }
  return stream;
}

}  // namespace ospry::writer
