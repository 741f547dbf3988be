// Plain commands: no quoting, expansion, redirection, list, pipe, comment,
// assignment or job control, and a first word that names a program.
#include "tov32/platform/posix/plain_command.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace tov32::platform {
namespace {

// POSIX reserved words, special built-ins and the regular built-ins it
// names as such, then those that dash and bash also build in: each runs
// inside the shell, with behaviour of its own.
constexpr const char* kShellWords[] = {
    // reserved words
    "!", "{", "}", "case", "do", "done", "elif", "else", "esac", "fi", "for", "if", "in", "then", "until", "while",
    "[[", "]]", "function", "select", "time", "coproc",
    // special built-ins
    "break", ":", "continue", ".", "eval", "exec", "exit", "export", "readonly", "return", "set", "shift", "times",
    "trap", "unset",
    // regular built-ins
    "alias", "bg", "cd", "command", "false", "fc", "fg", "getopts", "hash", "jobs", "kill", "newgrp", "pwd", "read",
    "true", "type", "ulimit", "umask", "unalias", "wait",
    // further built-ins of common shells
    "echo", "printf", "test", "[", "local", "let", "source", "declare", "typeset", "builtin", "enable", "help",
    "history", "logout", "mapfile", "readarray", "shopt", "suspend", "disown", "dirs", "pushd", "popd", "caller",
    "bind", "compgen", "complete", "compopt", "chdir",
};

bool IsPlainByte(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         (byte != '\0' && std::strchr("-_./,:+@", byte) != nullptr);
}

bool IsSeparator(char byte) { return byte == ' ' || byte == '\t'; }

bool IsShellWord(const std::string& word) {
  return std::any_of(std::begin(kShellWords), std::end(kShellWords),
                     [&](const char* shellWord) { return word == shellWord; });
}

}  // namespace

std::vector<std::string> PlainCommandWords(const std::string& command) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < command.size();) {
    if (IsSeparator(command[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < command.size() && !IsSeparator(command[i])) {
      if (!IsPlainByte(command[i])) return {};
      ++i;
    }
    words.push_back(command.substr(start, i - start));
  }
  if (words.empty() || IsShellWord(words.front())) return {};
  return words;
}

}  // namespace tov32::platform
