// ospry-clip verify FILE [--json]: headless authentication of a clip file:
// every frame of every clip container, then the file checksum. Reads only.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "tools/clip/Commands.h"
#include "viewer/container/U_Authenticate.h"

namespace ospry::clip {
namespace {

using nlohmann::json;

// Files smaller than this finish too fast for progress to help.
constexpr std::int64_t kProgressFromBytes = 64 << 20;
constexpr std::int64_t kProgressFromFrames = 200000;

int RunVerify(const std::string& path, bool asJson) {
  int lastPercent = -1;
  std::string lastStage;
  auto progress = [&](const std::string& stage, std::int64_t done, std::int64_t total) {
    const bool large = stage == "file" ? total >= kProgressFromBytes : total >= kProgressFromFrames;
    if (!large || total <= 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == lastPercent && stage == lastStage) return;
    lastPercent = percent;
    lastStage = stage;
    std::fprintf(stderr, "\rChecking %s: %3d%%%s", stage.c_str(), percent, done == total ? "\n" : "");
    std::fflush(stderr);
  };
  const TAuthenticationReport report = AuthenticateFile(path, progress);
  if (asJson) {
    json d = {{"file", path},
              {"frames", report.FrameStatus},
              {"fileStatus", report.FileStatus},
              {"checkedContainers", report.CheckedSources},
              {"corruptFrames", report.CorruptFrames},
              {"messages", report.Messages},
              {"result", report.Result},
              {"successful", report.Successful()}};
    if (report.ChecksumKind != TFileChecksumKind::None) {
      char stored[16], computed[16];
      std::snprintf(stored, sizeof stored, "0x%08x", report.StoredChecksum);
      std::snprintf(computed, sizeof computed, "0x%08x", report.ComputedChecksum);
      d["storedChecksum"] = stored;
      if (report.FileReadable) d["computedChecksum"] = computed;
    }
    std::cout << d.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
  } else {
    std::cout << "Frames: " << report.FrameStatus << "\n";
    std::cout << "File: " << report.FileStatus << "\n";
    if (report.Successful())
      std::cout << kAuthenticationSuccessful << "\n";
    else
      for (const auto& line : report.Messages) std::cout << line << "\n";
  }
  if (!report.FileReadable) std::cerr << "ospry-clip verify: " << path << " could not be read in full\n";
  return report.Successful() ? 0 : 1;
}

TRegisterCommand reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("verify", "Authenticate the frames and the file checksum of a clip file");
  auto path = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  cmd->add_option("FILE", *path, "The file to authenticate")->required();
  cmd->add_flag("--json", *asJson, "Print one JSON object instead of text");
  cmd->callback([path, asJson] { SetExitCode(RunVerify(*path, *asJson)); });
});

}  // namespace
}  // namespace ospry::clip
