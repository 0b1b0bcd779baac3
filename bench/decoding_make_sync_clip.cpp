// Writes the playback benchmark's fixture: a multi-clip file of CHANNELS
// synchronised clips of D1 H.264 at 25 frames per second, SECONDS long, for
// `ospry-clip play`. Usage: decoding_make_sync_clip OUT [CHANNELS] [SECONDS]
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

extern "C" {
#include <libavutil/log.h>
}

#include "tools/writer/ClipWriter.h"
#include "tools/writer/media/MediaClip.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: decoding_make_sync_clip OUT [CHANNELS] [SECONDS]\n";
    return 2;
  }
  const std::string path = argv[1];
  const int channels = argc > 2 ? std::atoi(argv[2]) : 16;
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 25;
  if (channels < 1 || channels > 64 || seconds < 1 || seconds > 3600) {
    std::cerr << "decoding_make_sync_clip: 1..64 channels, 1..3600 seconds\n";
    return 2;
  }
  av_log_set_level(AV_LOG_ERROR);
  ospry::media::TVideoSettings settings;
  settings.Codec = ospry::media::TVideoCodec::H264;
  settings.Width = 704;
  settings.Height = 576;
  settings.FrameRate = 25;
  settings.Frames = seconds * 25;
  settings.GopSize = 50;
  settings.BitRate = 1500000;
  std::vector<ospry::media::TEncodedPacket> packets;
  std::string error;
  // Every channel carries the same pictures: the decoding work is the same
  // as for different cameras of that picture size and rate.
  if (!ospry::media::EncodeVideo(settings, packets, &error)) {
    std::cerr << "decoding_make_sync_clip: " << error << "\n";
    return 1;
  }
  ospry::writer::TFileOutput out;
  if (!out.Create(path)) {
    std::cerr << "decoding_make_sync_clip: cannot create " << path << "\n";
    return 1;
  }
  ospry::writer::TMultiClipWriter multi(out);
  const ospry::TDateTime start = ospry::DateOf(ospry::NowDateTime()) + 0.5;
  for (int channel = 0; channel < channels; ++channel) {
    ospry::writer::TContainerWriter container(out, false);
    const ospry::TDateTime end = ospry::media::AddEncodedClip(container, start, 3, packets);
    ospry::TDvrInfo info;
    info.DvrName = "bench";
    info.ChannelName = "Camera " + std::to_string(channel + 1);
    info.StartTime = start;
    info.EndTime = end;
    container.AddDvrInfo(info);
    container.SetDescription("Synchronised D1 channel " + std::to_string(channel + 1));
    if (!container.Finish()) {
      std::cerr << "decoding_make_sync_clip: writing failed\n";
      return 1;
    }
    multi.AddClip(info, out.Position());
  }
  multi.SetMode(ospry::kModeSyncPlay);
  multi.SetDescription(std::to_string(channels) + " synchronised D1 channels");
  if (!multi.Finish() || !out.Close()) {
    std::cerr << "decoding_make_sync_clip: writing failed\n";
    return 1;
  }
  std::cout << path << ": " << channels << " channels, " << packets.size() << " frames each\n";
  return 0;
}
