#pragma once
// Subcommands of ospry-clip register themselves here; each lives in its own
// Cmd_*.cpp file, added to the executable by its cmd_*.cmake fragment.
#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

namespace ospry::clip {

// A registrar adds one subcommand to the application; the subcommand's
// callback returns the process exit code through SetExitCode.
using TCommandRegistrar = std::function<void(CLI::App& app)>;

std::vector<TCommandRegistrar>& CommandRegistry();
void SetExitCode(int code);
int ExitCode();

struct TRegisterCommand {
  explicit TRegisterCommand(TCommandRegistrar registrar) { CommandRegistry().push_back(std::move(registrar)); }
};

}  // namespace ospry::clip
