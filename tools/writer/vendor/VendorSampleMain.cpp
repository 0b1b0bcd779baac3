// ospry-vendor-sample: writes vendor-format media made with FFmpeg, as a raw
// vendor file, or the sample clip container with the library inside.
#include <CLI/CLI.hpp>

#include <iostream>
#include <map>

#include "tools/writer/vendor/VendorClip.h"
#include "tools/writer/vendor/VendorMedia.h"

int main(int argc, char** argv) {
  CLI::App app{"ospry-vendor-sample: write vendor-format test media", "ospry-vendor-sample"};
  std::string rawPath;
  ospry::writer::TVendorMediaOptions options;
  options.width = 352;
  options.height = 288;
  options.frameCount = 250;
  options.keyInterval = 50;
  std::string audio = "none";
  std::string containerPath;
  std::string libraryPath;
  auto* raw = app.add_option("--raw", rawPath, "write a raw vendor file to this path");
  auto* container = app.add_option("--sample-container", containerPath,
                                   "write the sample clip container (fixed content) to this path");
  app.add_option("--library", libraryPath, "the libVPlay.so the sample container carries")
      ->check(CLI::ExistingFile)
      ->needs(container);
  raw->excludes(container);
  container->needs("--library");
  app.add_option("--width", options.width, "picture width")->check(CLI::Range(16, 4096));
  app.add_option("--height", options.height, "picture height")->check(CLI::Range(16, 4096));
  app.add_option("--fps", options.framesPerSecond, "frames per second")->check(CLI::Range(1, 120));
  app.add_option("--frames", options.frameCount, "number of pictures")->check(CLI::Range(1, 100000));
  app.add_option("--key-interval", options.keyInterval, "pictures between key frames")->check(CLI::Range(1, 10000));
  app.add_option("--audio", audio, "audio: none, pcm, mulaw or default (16 kHz mono PCM)")
      ->check(CLI::IsMember({"none", "pcm", "mulaw", "default"}));
  app.add_option("--sample-rate", options.audioSampleRate, "audio sample rate")->check(CLI::Range(1000, 96000));
  app.add_option("--channels", options.audioChannels, "audio channels")->check(CLI::Range(1, 8));
  CLI11_PARSE(app, argc, argv);
  if (rawPath.empty() && containerPath.empty()) {
    std::cerr << "ospry-vendor-sample: give --raw or --sample-container\n";
    return 1;
  }
  if (!containerPath.empty()) {
    if (!ospry::writer::WriteVendorSampleContainer(containerPath, libraryPath)) {
      std::cerr << "ospry-vendor-sample: could not write " << containerPath << "\n";
      return 1;
    }
    std::cout << containerPath << ": 466 pictures in 3 clips\n";
    return 0;
  }

  const std::map<std::string, std::uint16_t> codecs = {{"none", ospry::vendor::kAudioNone},
                                                       {"pcm", ospry::vendor::kAudioPcm16},
                                                       {"mulaw", ospry::vendor::kAudioMulaw},
                                                       {"default", ospry::vendor::kAudioDefault}};
  options.audioCodec = codecs.at(audio);
  const ospry::writer::TVendorStream stream = ospry::writer::MakeVendorStream(options);
  if (stream.frames.empty()) {
    std::cerr << "ospry-vendor-sample: encoding failed (is libx264 available?)\n";
    return 1;
  }
  if (!ospry::writer::WriteRawVendorFile(rawPath, stream)) {
    std::cerr << "ospry-vendor-sample: could not write " << rawPath << "\n";
    return 1;
  }
  std::cout << rawPath << ": " << stream.VideoFrameCount() << " pictures, "
            << stream.frames.size() - stream.VideoFrameCount() << " audio blocks\n";
  return 0;
}
