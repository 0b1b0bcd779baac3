// ospry-pack: makes clip packages (the launcher with a clip behind it).
#include <CLI/CLI.hpp>

#include <iostream>

#include "platform/Files.h"
#include "tools/pack/Pack.h"
#include "viewer/container/U_ClipSplitter.h"

int main(int argc, char** argv) {
  CLI::App app{"ospry-pack: make a clip package, the launcher followed by a clip that plays when it is run",
               "ospry-pack"};
  app.set_version_flag("--version", std::string("ospry-pack ") + OSPRY_VERSION);
  ospry::pack::TPackOptions options;
  options.launcherPath = ospry::ProgramFolder() + "Ospry-launcher";
  std::string description;
  std::string mode;
  app.add_option("input", options.inputPath, "Clip container or multi-clip file (a package is accepted too)")
      ->required();
  app.add_option("-o,--output", options.outputPath, "Package to write (replaced only when complete)")->required();
  app.add_option("--launcher", options.launcherPath, "Launcher executable to put in front")
      ->capture_default_str();
  auto* descriptionOption = app.add_option("--description", description,
                                           "Description of the container or of the multi-clip file");
  auto* modeOption = app.add_option("--mode", mode, "Play mode of a multi-clip file")
                         ->check(CLI::IsMember({"playlist", "sync"}));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (*descriptionOption) options.description = description;
  if (*modeOption) options.mode = mode == "sync" ? ospry::kModeSyncPlay : ospry::kModePlayList;

  std::string error;
  if (!ospry::pack::PackClipFile(options, error)) {
    std::cerr << "ospry-pack: " << error << "\n";
    return 1;
  }
  std::cout << "ospry-pack: wrote " << options.outputPath << " (" << ospry::FileSize(options.outputPath)
            << " bytes)\n";
  return 0;
}
