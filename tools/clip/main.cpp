// ospry-clip: the command-line window on Ospry's clip readers and engine.
#include <iostream>

#include "tools/clip/Commands.h"

namespace ospry::clip {

namespace {
int gExitCode = 0;
}

std::vector<TCommandRegistrar>& CommandRegistry() {
  static std::vector<TCommandRegistrar> registry;
  return registry;
}

void SetExitCode(int code) { gExitCode = code; }
int ExitCode() { return gExitCode; }

}  // namespace ospry::clip

int main(int argc, char** argv) {
  CLI::App app{"ospry-clip: inspect, verify and play exported CCTV clips", "ospry-clip"};
  app.set_version_flag("--version", std::string("ospry-clip ") + OSPRY_VERSION);
  app.require_subcommand(0, 1);
  for (auto& registrar : ospry::clip::CommandRegistry()) registrar(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  if (app.get_subcommands().empty()) {
    std::cout << app.help();
    return 0;
  }
  return ospry::clip::ExitCode();
}
