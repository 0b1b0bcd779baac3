#pragma once
// A fresh folder under the temporary folder for one test, removed with
// everything in it when the test ends.
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"

namespace ospry::testutil {

class TScratchFolder {
public:
  TScratchFolder() {
    std::string pattern = TempFolder() + "ospry-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~TScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  // The folder, with a trailing '/'.
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

private:
  std::string path_;
};

}  // namespace ospry::testutil
