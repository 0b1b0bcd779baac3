#include "tools/writer/media/MediaWriter.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace ospry::media {

namespace {

struct TCodecContextDeleter {
  void operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
};
struct TFrameDeleter {
  void operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
};
struct TPacketDeleter {
  void operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
};
struct TOutputDeleter {
  void operator()(AVFormatContext* context) const noexcept {
    if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
    avformat_free_context(context);
  }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextDeleter>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameDeleter>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketDeleter>;
using TOutputPtr = std::unique_ptr<AVFormatContext, TOutputDeleter>;

// Receives each encoded packet (time stamps in the encoder's time base).
using TPacketSink = std::function<bool(AVPacket* packet)>;

bool Fail(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
  return false;
}

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

AVPixelFormat PixelFormat(TVideoCodec codec) {
  switch (codec) {
    case TVideoCodec::H264_444:
      return AV_PIX_FMT_YUV444P;
    case TVideoCodec::Mjpeg420:
      return AV_PIX_FMT_YUVJ420P;
    case TVideoCodec::Mjpeg422:
      return AV_PIX_FMT_YUVJ422P;
    default:
      return AV_PIX_FMT_YUV420P;
  }
}

bool OpenVideoEncoder(const TVideoSettings& settings, bool globalHeader, TCodecContextPtr& out, std::string* error) {
  const char* name = "libx264";
  if (settings.Codec == TVideoCodec::Mpeg4) name = "mpeg4";
  if (settings.Codec == TVideoCodec::Mjpeg420 || settings.Codec == TVideoCodec::Mjpeg422) name = "mjpeg";
  if (settings.Codec == TVideoCodec::RawVideo) name = "rawvideo";
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (codec == nullptr) return Fail(error, std::string("no encoder ") + name);
  TCodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return Fail(error, "out of memory");
  context->width = settings.Width;
  context->height = settings.Height;
  context->pix_fmt = PixelFormat(settings.Codec);
  context->time_base = AVRational{1, settings.FrameRate};
  context->framerate = AVRational{settings.FrameRate, 1};
  context->gop_size = settings.GopSize;
  context->max_b_frames = settings.BFrames;
  if (settings.BitRate > 0) context->bit_rate = settings.BitRate;
  if (globalHeader) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (std::strcmp(name, "libx264") == 0) {
    context->keyint_min = settings.GopSize;
    av_opt_set(context->priv_data, "preset", "veryfast", 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0", 0);
    if (settings.BFrames == 0) av_opt_set(context->priv_data, "tune", "zerolatency", 0);
  } else if (settings.BitRate <= 0) {
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 3;
  }
  const int status = avcodec_open2(context.get(), codec, nullptr);
  if (status < 0) return Fail(error, std::string("cannot open ") + name + ": " + AvError(status));
  out = std::move(context);
  return true;
}

bool Drain(AVCodecContext* context, AVPacket* packet, const TPacketSink& sink, std::string* error) {
  while (true) {
    const int status = avcodec_receive_packet(context, packet);
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return true;
    if (status < 0) return Fail(error, "encoding failed: " + AvError(status));
    const bool kept = sink(packet);
    av_packet_unref(packet);
    if (!kept) return Fail(error, "cannot store packet");
  }
}

bool RunVideo(const TVideoSettings& settings, AVCodecContext* context, const TPacketSink& sink, std::string* error) {
  TFramePtr frame(av_frame_alloc());
  TPacketPtr packet(av_packet_alloc());
  if (!frame || !packet) return Fail(error, "out of memory");
  frame->format = context->pix_fmt;
  frame->width = settings.Width;
  frame->height = settings.Height;
  if (av_frame_get_buffer(frame.get(), 0) < 0) return Fail(error, "out of memory");
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(context->pix_fmt);
  std::vector<std::uint8_t> y, u, v;
  for (int index = 0; index < settings.Frames; ++index) {
    if (av_frame_make_writable(frame.get()) < 0) return Fail(error, "out of memory");
    MakeTestPicture(index, settings.Width, settings.Height, descriptor->log2_chroma_w, descriptor->log2_chroma_h, y, u, v);
    const int chromaWidth = AV_CEIL_RSHIFT(settings.Width, descriptor->log2_chroma_w);
    const int chromaHeight = AV_CEIL_RSHIFT(settings.Height, descriptor->log2_chroma_h);
    for (int row = 0; row < settings.Height; ++row) {
      std::memcpy(frame->data[0] + row * frame->linesize[0], y.data() + row * settings.Width, settings.Width);
    }
    for (int row = 0; row < chromaHeight; ++row) {
      std::memcpy(frame->data[1] + row * frame->linesize[1], u.data() + row * chromaWidth, chromaWidth);
      std::memcpy(frame->data[2] + row * frame->linesize[2], v.data() + row * chromaWidth, chromaWidth);
    }
    frame->pts = index;
    frame->pict_type = index % settings.GopSize == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    const int status = avcodec_send_frame(context, frame.get());
    if (status < 0) return Fail(error, "encoding failed: " + AvError(status));
    if (!Drain(context, packet.get(), sink, error)) return false;
  }
  avcodec_send_frame(context, nullptr);
  return Drain(context, packet.get(), sink, error);
}

int AudioBitRate(const TAudioSettings& settings) {
  if (settings.Codec == TAudioCodec::Mulaw) return 64000;
  if (settings.Codec == TAudioCodec::G726) {
    const int bits = settings.SampleRate > 0 ? settings.BitRate / settings.SampleRate : 0;
    return bits >= 2 && bits <= 5 ? settings.BitRate : 4 * settings.SampleRate;
  }
  return settings.BitRate;
}

bool OpenAudioEncoder(const TAudioSettings& settings, bool globalHeader, TCodecContextPtr& out, std::string* error) {
  const char* name = "pcm_mulaw";
  AVSampleFormat format = AV_SAMPLE_FMT_S16;
  int rate = settings.SampleRate;
  int channels = settings.Channels;
  if (settings.Codec == TAudioCodec::G726) name = "g726";
  if (settings.Codec == TAudioCodec::Aac) {
    name = "aac";
    format = AV_SAMPLE_FMT_FLTP;
  } else {
    rate = 8000;
    channels = 1;
  }
  const AVCodec* codec = avcodec_find_encoder_by_name(name);
  if (codec == nullptr) return Fail(error, std::string("no encoder ") + name);
  TCodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return Fail(error, "out of memory");
  context->sample_fmt = format;
  context->sample_rate = rate;
  av_channel_layout_default(&context->ch_layout, channels);
  context->bit_rate = AudioBitRate(settings);
  context->time_base = AVRational{1, rate};
  if (globalHeader) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int status = avcodec_open2(context.get(), codec, nullptr);
  if (status < 0) return Fail(error, std::string("cannot open ") + name + ": " + AvError(status));
  out = std::move(context);
  return true;
}

bool RunAudio(const TAudioSettings& settings, AVCodecContext* context, const TPacketSink& sink, std::string* error) {
  TFramePtr frame(av_frame_alloc());
  TPacketPtr packet(av_packet_alloc());
  if (!frame || !packet) return Fail(error, "out of memory");
  const int frameSamples = context->frame_size > 0 ? context->frame_size : 160;
  const int channels = context->ch_layout.nb_channels;
  const std::int64_t total = static_cast<std::int64_t>(settings.Seconds * context->sample_rate);
  frame->format = context->sample_fmt;
  frame->nb_samples = frameSamples;
  frame->sample_rate = context->sample_rate;
  if (av_channel_layout_copy(&frame->ch_layout, &context->ch_layout) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
    return Fail(error, "out of memory");
  }
  // Whole frames only: not every encoder accepts a short last frame.
  for (std::int64_t start = 0; start + frameSamples <= total; start += frameSamples) {
    if (av_frame_make_writable(frame.get()) < 0) return Fail(error, "out of memory");
    for (int i = 0; i < frameSamples; ++i) {
      const double value = 0.5 * std::sin(2 * M_PI * 440.0 * static_cast<double>(start + i) / context->sample_rate);
      for (int channel = 0; channel < channels; ++channel) {
        if (context->sample_fmt == AV_SAMPLE_FMT_FLTP) {
          reinterpret_cast<float*>(frame->data[channel])[i] = static_cast<float>(value);
        } else {
          reinterpret_cast<std::int16_t*>(frame->data[0])[i * channels + channel] =
              static_cast<std::int16_t>(value * 32767);
        }
      }
    }
    frame->pts = start;
    const int status = avcodec_send_frame(context, frame.get());
    if (status < 0) return Fail(error, "encoding failed: " + AvError(status));
    if (!Drain(context, packet.get(), sink, error)) return false;
  }
  avcodec_send_frame(context, nullptr);
  return Drain(context, packet.get(), sink, error);
}

TPacketSink CollectInto(std::vector<TEncodedPacket>& packets) {
  return [&packets](AVPacket* packet) {
    TEncodedPacket copy;
    copy.Data.assign(packet->data, packet->data + packet->size);
    copy.IsKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    copy.Pts = packet->pts;
    copy.Dts = packet->dts;
    packets.push_back(std::move(copy));
    return true;
  };
}

}  // namespace

void MakeTestPicture(int index, int width, int height, int chromaShiftX, int chromaShiftY, std::vector<std::uint8_t>& y,
                     std::vector<std::uint8_t>& u, std::vector<std::uint8_t>& v) {
  const int chromaWidth = (width + (1 << chromaShiftX) - 1) >> chromaShiftX;
  const int chromaHeight = (height + (1 << chromaShiftY) - 1) >> chromaShiftY;
  y.resize(static_cast<std::size_t>(width) * height);
  u.resize(static_cast<std::size_t>(chromaWidth) * chromaHeight);
  v.resize(u.size());
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      // A diagonal ramp moving right with a bright block moving down.
      int value = 32 + ((col + 2 * row + 4 * index) % 192);
      if (((col / 32) + ((row + 3 * index) / 32)) % 5 == 0) value = 220;
      y[static_cast<std::size_t>(row) * width + col] = static_cast<std::uint8_t>(value);
    }
  }
  for (int row = 0; row < chromaHeight; ++row) {
    for (int col = 0; col < chromaWidth; ++col) {
      const std::size_t at = static_cast<std::size_t>(row) * chromaWidth + col;
      u[at] = static_cast<std::uint8_t>(96 + ((col * 2 + index) % 64));
      v[at] = static_cast<std::uint8_t>(96 + ((row * 3 + 2 * index) % 64));
    }
  }
}

bool EncodeVideo(const TVideoSettings& settings, std::vector<TEncodedPacket>& packets, std::string* error) {
  packets.clear();
  if (settings.Width <= 0 || settings.Height <= 0 || settings.Frames < 0 || settings.FrameRate <= 0 || settings.GopSize <= 0) {
    return Fail(error, "bad video settings");
  }
  TCodecContextPtr context;
  if (!OpenVideoEncoder(settings, false, context, error)) return false;
  return RunVideo(settings, context.get(), CollectInto(packets), error);
}

bool EncodeAudio(const TAudioSettings& settings, std::vector<TEncodedPacket>& packets, std::string* error) {
  packets.clear();
  if (settings.SampleRate <= 0 || settings.Channels <= 0 || settings.Seconds < 0) return Fail(error, "bad audio settings");
  TCodecContextPtr context;
  if (!OpenAudioEncoder(settings, false, context, error)) return false;
  return RunAudio(settings, context.get(), CollectInto(packets), error);
}

bool WriteMediaFile(const std::string& path, const std::string& format, const TVideoSettings* video,
                    const TAudioSettings* audio, std::string* error) {
  return WriteMediaFile(path, format, video, audio, TMediaMetadata{}, error);
}

bool WriteMediaFile(const std::string& path, const std::string& format, const TVideoSettings* video,
                    const TAudioSettings* audio, const TMediaMetadata& metadata, std::string* error) {
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, format.c_str(), path.c_str()) < 0 || raw == nullptr) {
    return Fail(error, "unknown format " + format);
  }
  TOutputPtr output(raw);
  for (const auto& [name, value] : metadata) {
    if (av_dict_set(&output->metadata, name.c_str(), value.c_str(), 0) < 0) return Fail(error, "out of memory");
  }
  const bool globalHeader = (output->oformat->flags & AVFMT_GLOBALHEADER) != 0;

  struct TTrack {
    TCodecContextPtr context;
    AVStream* stream = nullptr;
  };
  TTrack tracks[2];
  if (video != nullptr && !OpenVideoEncoder(*video, globalHeader, tracks[0].context, error)) return false;
  if (audio != nullptr && !OpenAudioEncoder(*audio, globalHeader, tracks[1].context, error)) return false;
  for (TTrack& track : tracks) {
    if (!track.context) continue;
    track.stream = avformat_new_stream(output.get(), nullptr);
    if (track.stream == nullptr ||
        avcodec_parameters_from_context(track.stream->codecpar, track.context.get()) < 0) {
      return Fail(error, "cannot add stream");
    }
    track.stream->time_base = track.context->time_base;
  }
  if (!(output->oformat->flags & AVFMT_NOFILE) && avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
    return Fail(error, "cannot create " + path);
  }
  int status = avformat_write_header(output.get(), nullptr);
  if (status < 0) return Fail(error, "cannot write header: " + AvError(status));

  auto sinkFor = [&output](TTrack& track) -> TPacketSink {
    return [&output, &track](AVPacket* packet) {
      av_packet_rescale_ts(packet, track.context->time_base, track.stream->time_base);
      packet->stream_index = track.stream->index;
      return av_interleaved_write_frame(output.get(), packet) >= 0;
    };
  };
  if (tracks[0].context && !RunVideo(*video, tracks[0].context.get(), sinkFor(tracks[0]), error)) return false;
  if (tracks[1].context && !RunAudio(*audio, tracks[1].context.get(), sinkFor(tracks[1]), error)) return false;
  status = av_write_trailer(output.get());
  if (status < 0) return Fail(error, "cannot finish file: " + AvError(status));
  return true;
}

}  // namespace ospry::media
