// Directory search and the few file operations of the text file writer.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tov32/platform/seam.h"

namespace tov32::platform {

struct SearchResult {
  bool found = false;
  bool isDirectory = false;  // of the first entry found
};

class WritableFile {
 public:
  virtual ~WritableFile() = default;  // closes the file if still open
  virtual bool Write(std::string_view bytes) = 0;
  virtual bool Close() = 0;
};

struct NewFile {
  std::unique_ptr<WritableFile> file;  // nullptr when not created
  bool nameTaken = false;              // an entry of that name exists
};

class Files {
 public:
  virtual ~Files() = default;
  // A directory search for `pattern` (the wildcards * and ? allowed in its
  // last part, every attribute accepted, dot-files included): does it find
  // an entry, and is the first one a directory?
  virtual SearchResult Search(const std::string& pattern) = 0;
  // The entry of exactly this name, every byte taken as it is.
  virtual SearchResult Entry(const std::string& path) = 0;
  // Deletes a file; false when refused. A file that nobody may write to is
  // refused, whoever asks.
  virtual bool Delete(const std::string& path) = 0;
  // Creates an empty file, replacing any; nullptr on failure.
  virtual std::unique_ptr<WritableFile> Create(const std::string& path) = 0;
  // Creates an empty file only if no entry of that name exists, in one step
  // that no other process can come between.
  virtual NewFile CreateNew(const std::string& path) = 0;
  // Opens an existing file for writing at its end, without creating or
  // truncating it; nullptr on failure.
  virtual std::unique_ptr<WritableFile> OpenForAppend(const std::string& path) = 0;
};

template <>
Files& Native<Files>();

}  // namespace tov32::platform
