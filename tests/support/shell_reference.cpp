#include "tests/support/shell_reference.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace norva_test {

std::string ShellOutput(const std::string& command, const std::string& directory) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "PATH=", 5) != 0) entries.emplace_back(*entry);
  }
  const char* path = std::getenv("PATH");
  entries.push_back(std::string("PATH=.:") + (path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin"));
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string commandLine = command;
  char shell[] = "/bin/sh", option[] = "-c";
  char* argv[] = {shell, option, commandLine.data(), nullptr};

  int ends[2];
  if (pipe(ends) != 0) return "(no pipe)";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  pid_t child = -1;
  const bool started = posix_spawn(&child, shell, &actions, nullptr, argv, envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t count; started && (count = read(ends[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<std::size_t>(count));
  }
  close(ends[0]);
  if (started) waitpid(child, nullptr, 0);
  return started ? output : "(not started)";
}

}  // namespace norva_test
#endif
