// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace norva_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The path of `name` inside the directory, in the platform's form.
  std::string Path(const std::string& name) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace norva_test
