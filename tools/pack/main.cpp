// ospry-pack: makes clip packages (the launcher with a clip behind it).
#include <CLI/CLI.hpp>

#include <iostream>

#include "platform/Files.h"
#include "tools/pack/MediaPack.h"
#include "tools/pack/Pack.h"
#include "viewer/container/U_ClipSplitter.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "ospry-pack: " << message << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ospry-pack: make a clip package, the launcher followed by a clip that plays when it is run.\n"
               "The input is a clip container or multi-clip file (re-based behind the launcher), or one or more\n"
               "media files, one per channel, whose packets are copied into clips without re-encoding.",
               "ospry-pack"};
  app.set_version_flag("--version", std::string("ospry-pack ") + OSPRY_VERSION);
  std::vector<std::string> inputs;
  std::string outputPath;
  std::string launcherPath = ospry::ProgramFolder() + "Ospry-launcher";
  std::string description;
  std::string mode;
  bool vendorFormat = false;
  bool noAudio = false;
  std::string libraryPath = ospry::ProgramFolder() + "libVPlay.so";
  std::string recorder, user, host;
  std::vector<std::string> channels, starts;

  app.add_option("inputs", inputs,
                 "A clip container or multi-clip file (a package is accepted too), or media files, one per channel")
      ->required();
  app.add_option("-o,--output", outputPath, "Package to write (replaced only when complete)")->required();
  app.add_option("--launcher", launcherPath, "Launcher executable to put in front")->capture_default_str();
  auto* descriptionOption =
      app.add_option("--description", description, "Description of the container or of the multi-clip file");
  auto* modeOption = app.add_option("--mode", mode, "Play mode of a multi-clip file (several media files: playlist)")
                         ->check(CLI::IsMember({"playlist", "sync"}));
  auto* vendorOption = app.add_flag("--vendor", vendorFormat,
                                    "Media files: write H.264 video (and mu-law or 16-bit PCM sound) in the vendor "
                                    "format, stream kind 2");
  auto* noAudioOption = app.add_flag("--no-audio", noAudio, "Media files: leave the sound out");
  auto* libraryOption = app.add_option("--library", libraryPath,
                                       "With --vendor: the vendor library carried in the clip (skipped when the "
                                       "default is missing)")
                            ->capture_default_str();
  auto* recorderOption = app.add_option("--recorder", recorder, "Media files: recorder name (default N/A)");
  // One value per occurrence: an input named after --channel or --start stays
  // an input.
  auto* channelOption = app.add_option("--channel", channels,
                                       "Media files: channel name, once for all or once per input (default: the "
                                       "file's name)")
                            ->expected(1)
                            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                          ->allow_extra_args(false);
  auto* userOption = app.add_option("--user", user, "Media files: user name (default N/A)");
  auto* hostOption = app.add_option("--host", host, "Media files: recorder's host name (default N/A)");
  auto* startOption = app.add_option("--start", starts,
                                     "Media files: start time \"yyyy-mm-dd hh:nn:ss[.zzz]\" in local time, once for "
                                     "all or once per input (default: the recording's creation time, else the "
                                     "file's modification time)")
                          ->expected(1)
                          ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                          ->allow_extra_args(false);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  std::optional<std::uint8_t> playMode;
  if (*modeOption) playMode = mode == "sync" ? ospry::kModeSyncPlay : ospry::kModePlayList;
  std::optional<std::string> descriptionValue;
  if (*descriptionOption) descriptionValue = description;

  std::string error;
  if (inputs.size() == 1 && ospry::pack::IsClipFile(inputs[0])) {
    const std::vector<const CLI::Option*> mediaOnly = {vendorOption, noAudioOption, libraryOption, recorderOption,
                                                       channelOption, userOption,  hostOption,    startOption};
    for (const CLI::Option* option : mediaOnly) {
      if (option->count() > 0)
        return Fail(option->get_name() + " applies to media files only; " + inputs[0] + " is a clip file");
    }
    ospry::pack::TPackOptions options{launcherPath, inputs[0], outputPath, descriptionValue, playMode};
    if (!ospry::pack::PackClipFile(options, error)) return Fail(error);
  } else {
    for (const std::string& input : inputs) {
      if (inputs.size() > 1 && ospry::pack::IsClipFile(input))
        return Fail(input + " is a clip file; several inputs must all be media files");
    }
    ospry::pack::TMediaPackOptions options;
    options.launcherPath = launcherPath;
    options.inputPaths = inputs;
    options.outputPath = outputPath;
    options.description = descriptionValue;
    options.mode = playMode;
    options.vendorFormat = vendorFormat;
    options.withAudio = !noAudio;
    if (vendorFormat) {
      if (ospry::FileExists(libraryPath)) {
        options.libraryPath = libraryPath;
      } else if (libraryOption->count() > 0) {
        return Fail(libraryPath + ": cannot read the vendor library");
      } else {
        std::cerr << "ospry-pack: " << libraryPath
                  << " not found; the clip carries no vendor library (the launcher still does)\n";
      }
    }
    if (*recorderOption) options.recorderName = recorder;
    if (*userOption) options.userName = user;
    if (*hostOption) options.hostName = host;
    options.channelNames = channels;
    for (const std::string& text : starts) {
      ospry::TDateTime start = 0;
      if (!ospry::pack::ParseStartTime(text, start))
        return Fail("--start \"" + text + "\" is not a time of the form yyyy-mm-dd hh:nn:ss");
      options.startTimes.push_back(start);
    }
    if (!ospry::pack::PackMediaFiles(options, error)) return Fail(error);
  }
  std::cout << "ospry-pack: wrote " << outputPath << " (" << ospry::FileSize(outputPath) << " bytes)\n";
  return 0;
}
