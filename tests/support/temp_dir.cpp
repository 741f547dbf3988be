// Scratch directories for tests.
#include "tests/support/temp_dir.h"

#include <fstream>
#include <random>

namespace norva_test {

TempDir::TempDir() {
  std::random_device seed;
  root_ = std::filesystem::temp_directory_path() / ("norva-test-" + std::to_string(seed()));
  std::filesystem::create_directories(root_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(root_, ignored);
}

std::string TempDir::Path(const std::string& name) const { return (root_ / name).string(); }

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

}  // namespace norva_test
