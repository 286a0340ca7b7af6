// A fresh, empty working directory for the length of a test: the process changes into
// it, and back (removing it with its contents) when the guard goes.
#pragma once

#include <filesystem>
#include <string>

namespace fake {

class TempWorkingDirectory {
 public:
  TempWorkingDirectory();
  ~TempWorkingDirectory();
  TempWorkingDirectory(const TempWorkingDirectory&) = delete;
  TempWorkingDirectory& operator=(const TempWorkingDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The whole content of a file in the directory (binary), "" when it does not exist.
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

}  // namespace fake
