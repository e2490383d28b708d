// Child programs for the tests of the tools (POSIX): standard output and error in
// files, started again by start(), killed when dropped; and a free loopback port.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.h"

extern char** environ;

namespace test_support {

class Process {
 public:
  // With err empty, standard error goes where standard output goes.
  Process(std::vector<std::string> argv, std::string out, std::string err = {})
      : argv_(std::move(argv)), out_(std::move(out)), err_(std::move(err)) {
    start();
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() { kill(SIGKILL); }

  void start() {
    std::vector<char*> args;
    for (auto& a : argv_) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int append = O_WRONLY | O_CREAT | O_APPEND;
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), append, 0644);
    if (err_.empty()) {
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), append, 0644);
    }
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  void signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }
  // Reaps the child, killing it first when it still runs after timeout_ms (< 0: no
  // limit); its exit status, or -1 when a signal ended it.
  int wait(int timeout_ms = -1) {
    if (pid_ <= 0) return -1;
    int status = -1;
    const bool reaped =
        timeout_ms >= 0 &&
        eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout_ms);
    if (!reaped) {
      if (timeout_ms >= 0) ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int kill(int sig) {
    signal(sig);
    return wait();
  }

 private:
  std::vector<std::string> argv_;
  std::string out_, err_;
  pid_t pid_ = -1;
};

// In blocks: logs grow long, and a sanitizer makes a byte-by-byte read slow.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Connects to a loopback port, or (port 0) binds a free one; returns the port or 0.
inline uint16_t loopback(uint16_t port = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  socklen_t length = sizeof a;
  const bool ok = port ? ::connect(fd, reinterpret_cast<sockaddr*>(&a), length) == 0
                       : ::bind(fd, reinterpret_cast<sockaddr*>(&a), length) == 0 &&
                             ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0;
  ::close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}

inline uint16_t free_port() {
  return loopback();
}

}  // namespace test_support
