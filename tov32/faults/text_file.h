// Writes a text into a file and answers with a result code.
#pragma once

#include <cstdint>
#include <string>

namespace tov32 {

// Writes `Content` byte for byte to `FilePath`: with `bAppend` false any
// file of that name is deleted first and the file made anew; with `bAppend`
// true an existing file is added to. Never throws. Returns:
//    1  the file was created and holds exactly `Content`;
//    2  `bAppend` was true and `Content` was added to the existing file;
//   -1  `Content` was empty: nothing was touched;
//   -2  the deletion was reported done but the file is still there;
//   -3  the file reappeared after the deletion and `Content` was added to it;
//   -4  the deletion failed: the file is untouched;
//   -5  creating, opening, writing or closing failed, or any other fault.
// `CallingFunction` names the requester and changes nothing. The file is
// closed on every way out.
std::int32_t WriteTextFile(const std::string& Content, const std::string& FilePath, bool bAppend,
                           const std::string& CallingFunction);

enum class NewFileResult { kWritten, kNameTaken, kFailed };

// Writes `Content` into a file that this call creates: when any entry of
// that name exists, nothing is touched and the result is kNameTaken. The
// check and the creation are one step, so two processes that pick one name
// never share the file. kFailed: creating, writing or closing failed, or
// `Content` was empty. Never throws.
NewFileResult WriteNewTextFile(const std::string& Content, const std::string& FilePath);

}  // namespace tov32
