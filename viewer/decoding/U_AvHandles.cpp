#include "viewer/decoding/U_AvHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace ospry {

void TAvCodecContextDeleter::operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
void TAvFrameDeleter::operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
void TAvPacketDeleter::operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
void TSwsContextDeleter::operator()(SwsContext* context) const noexcept { sws_freeContext(context); }
void TSwrContextDeleter::operator()(SwrContext* context) const noexcept { swr_free(&context); }

}  // namespace ospry
