// The text file writer.
#include "tov32/faults/text_file.h"

#include <exception>
#include <memory>

#include "tov32/platform/files.h"

namespace tov32 {
namespace {

// An entry of exactly this name exists and is no directory.
bool FileOfThatNameExists(platform::Files& files, const std::string& path) {
  const platform::SearchResult found = files.Entry(path);
  return found.found && !found.isDirectory;
}

std::int32_t WriteContent(const std::string& Content, const std::string& FilePath, bool bAppend) {
  if (Content.empty()) return -1;
  platform::Files& files = platform::Use<platform::Files>();
  if (!bAppend && FileOfThatNameExists(files, FilePath)) {
    if (!files.Delete(FilePath)) return -4;
    if (FileOfThatNameExists(files, FilePath)) return -2;
  }
  std::int32_t result = 1;
  std::unique_ptr<platform::WritableFile> file;
  if (FileOfThatNameExists(files, FilePath)) {
    result = bAppend ? 2 : -3;
    file = files.OpenForAppend(FilePath);
  } else {
    file = files.Create(FilePath);
  }
  if (!file || !file->Write(Content) || !file->Close()) return -5;
  return result;
}

NewFileResult WriteNewContent(const std::string& Content, const std::string& FilePath) {
  if (Content.empty()) return NewFileResult::kFailed;
  platform::NewFile created = platform::Use<platform::Files>().CreateNew(FilePath);
  if (created.nameTaken) return NewFileResult::kNameTaken;
  if (!created.file || !created.file->Write(Content) || !created.file->Close()) return NewFileResult::kFailed;
  return NewFileResult::kWritten;
}

}  // namespace

std::int32_t WriteTextFile(const std::string& Content, const std::string& FilePath, bool bAppend,
                           const std::string& /*CallingFunction*/) {
  try {
    return WriteContent(Content, FilePath, bAppend);
  } catch (const std::exception&) {
    return -5;
  }
}

NewFileResult WriteNewTextFile(const std::string& Content, const std::string& FilePath) {
  try {
    return WriteNewContent(Content, FilePath);
  } catch (const std::exception&) {
    return NewFileResult::kFailed;
  }
}

}  // namespace tov32
