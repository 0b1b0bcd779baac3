#pragma once
// INI files: sections of key=value lines. Reading gives the default when the
// key is missing; writing keeps every other line of the file as it was.
// Section and key names are matched without regard to case.
#include <string>

namespace ospry {

class TIniFile {
public:
  explicit TIniFile(std::string path) : path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  int ReadInteger(const std::string& section, const std::string& key, int defaultValue) const;
  // Writes through to the file at once; false when it cannot be written.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInteger(const std::string& section, const std::string& key, int value);

private:
  std::string path_;
};

}  // namespace ospry
