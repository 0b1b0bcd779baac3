#pragma once
// Owning handles for the libavcodec, libswscale and libswresample objects the
// FFmpeg decoders use. Each frees its object with the library's own call.
#include <memory>

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;
struct SwrContext;
}

namespace ospry {

// The named system mutex that serialises opening, decoding and closing calls
// into libavcodec across every FFmpeg decoder of every viewer process.
inline constexpr const char* kFfmpegMutexName = "ffmpeg_api_hack_mutex";

struct TAvCodecContextDeleter { void operator()(AVCodecContext* context) const noexcept; };
struct TAvFrameDeleter { void operator()(AVFrame* frame) const noexcept; };
struct TAvPacketDeleter { void operator()(AVPacket* packet) const noexcept; };
struct TSwsContextDeleter { void operator()(SwsContext* context) const noexcept; };
struct TSwrContextDeleter { void operator()(SwrContext* context) const noexcept; };

using TAvCodecContextPtr = std::unique_ptr<AVCodecContext, TAvCodecContextDeleter>;
using TAvFramePtr = std::unique_ptr<AVFrame, TAvFrameDeleter>;
using TAvPacketPtr = std::unique_ptr<AVPacket, TAvPacketDeleter>;
using TSwsContextPtr = std::unique_ptr<SwsContext, TSwsContextDeleter>;
using TSwrContextPtr = std::unique_ptr<SwrContext, TSwrContextDeleter>;

}  // namespace ospry
