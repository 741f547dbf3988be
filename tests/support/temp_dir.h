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

// A fresh directory that is the current directory for its lifetime, for a
// test whose files land in the current directory.
class TempCurrentDir {
 public:
  TempCurrentDir() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.root()); }
  ~TempCurrentDir() { std::filesystem::current_path(previous_); }
  TempCurrentDir(const TempCurrentDir&) = delete;
  TempCurrentDir& operator=(const TempCurrentDir&) = delete;
  const TempDir& dir() const { return dir_; }

 private:
  std::filesystem::path previous_;
  TempDir dir_;
};

void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace norva_test
