#pragma once
// Media for vendor streams, encoded with FFmpeg: a moving test picture as
// H.264 (libx264, no B-frames, one picture per access unit) and a tone as
// 16-bit PCM or G.711 mu-law. Used by tests and to make sample clips.
//
// Error policy: an empty stream means the encoder was unavailable or failed.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/writer/vendor/VendorWriter.h"

namespace ospry::writer {

struct TVendorMediaOptions {
  int width = 64;
  int height = 48;
  int framesPerSecond = 25;
  int frameCount = 25;
  int keyInterval = 25;      // a key frame every so many pictures
  // vendor::kAudioNone, kAudioPcm16, kAudioMulaw or kAudioDefault.
  std::uint16_t audioCodec = vendor::kAudioNone;
  int audioChannels = 1;
  int audioSampleRate = 8000;
  int audioBlockMs = 40;     // one block per this many ms of sound
};

struct TEncodedPicture {
  std::string bytes;  // one access unit, Annex B
  std::int64_t stampMs = 0;
  bool isKey = false;
};

// Encodes options.frameCount pictures; empty on failure.
std::vector<TEncodedPicture> EncodeTestPictures(const TVendorMediaOptions& options);

// The whole stream: header and frames in time order (audio blocks between the
// pictures whose times they fall between). Empty frames on failure.
TVendorStream MakeVendorStream(const TVendorMediaOptions& options);

}  // namespace ospry::writer
