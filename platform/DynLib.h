#pragma once
// Loading a shared library at run time and resolving its functions. Failure
// gives an invalid library and null symbols, never a crash.
#include <string>

namespace ospry {

class TDynLib {
public:
  TDynLib() = default;
  explicit TDynLib(const std::string& path) { Load(path); }
  ~TDynLib();
  TDynLib(const TDynLib&) = delete;
  TDynLib& operator=(const TDynLib&) = delete;

  bool Load(const std::string& path);  // unloads first
  void Unload();
  bool IsLoaded() const { return handle_ != nullptr; }
  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;
  // The loader's last error text.
  const std::string& LastError() const { return lastError_; }

private:
  void* handle_ = nullptr;
  std::string lastError_;
};

}  // namespace ospry
