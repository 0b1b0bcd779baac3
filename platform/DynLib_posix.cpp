#include "platform/DynLib.h"

#include <dlfcn.h>

namespace ospry {

namespace {

std::string TakeLoaderError(const char* fallback) {
  const char* error = ::dlerror();
  return error != nullptr ? error : fallback;
}

}  // namespace

TDynLib::~TDynLib() { Unload(); }

bool TDynLib::Load(const std::string& path) {
  Unload();
  // dlopen(NULL) would hand out the running program itself.
  if (path.empty()) {
    lastError_ = "empty library path";
    return false;
  }
  ::dlerror();
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    lastError_ = TakeLoaderError("could not load library");
    return false;
  }
  lastError_.clear();
  return true;
}

void TDynLib::Unload() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

void* TDynLib::Symbol(const std::string& name) const {
  if (handle_ == nullptr) {
    lastError_ = "library not loaded";
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name.c_str());
  if (address == nullptr) lastError_ = TakeLoaderError("symbol not found");
  return address;
}

}  // namespace ospry
