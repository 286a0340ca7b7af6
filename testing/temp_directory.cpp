#include "testing/temp_directory.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fake {

TempWorkingDirectory::TempWorkingDirectory() : previous_(std::filesystem::current_path()) {
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto candidate = base / ("pavo-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      break;
    }
  }
  if (path_.empty()) {
    throw std::runtime_error("cannot create a temporary directory");
  }
  std::filesystem::current_path(path_);
}

TempWorkingDirectory::~TempWorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempWorkingDirectory::Read(const std::string& name) const {
  std::ifstream file(path_ / name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool TempWorkingDirectory::Exists(const std::string& name) const {
  return std::filesystem::exists(path_ / name);
}

}  // namespace fake
