// Runs the naxctl program (or another) as a child process with its output in files and
// its run time bounded: a child still running at its deadline is killed and reported.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace naxctl_test {

struct Result {
  int exit_code = -1;  // -1 when killed or not started
  bool timed_out = false;
  std::string out;
  std::string err;
};

class Process {
 public:
  explicit Process(const std::vector<std::string>& args, const std::string& program = NAXCTL_PATH) {
    static int started = 0;
    files_ = "/tmp/naxctl_test_" + std::to_string(getpid()) + "_" + std::to_string(++started);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (files_ + ".out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (files_ + ".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> text = {program};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    std::remove((files_ + ".out").c_str());
    std::remove((files_ + ".err").c_str());
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // Waits for the end, at most timeout_ms in all since the start.
  Result finish(int timeout_ms = 15000) {
    Result r;
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > started_ + std::chrono::milliseconds(timeout_ms)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        r.timed_out = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (pid_ > 0 && !r.timed_out && WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    pid_ = -1;
    r.out = read(files_ + ".out");
    r.err = read(files_ + ".err");
    return r;
  }

 private:
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  pid_t pid_ = -1;
  std::string files_;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

inline Result run(const std::vector<std::string>& args, int timeout_ms = 15000,
                  const std::string& program = NAXCTL_PATH) {
  return Process(args, program).finish(timeout_ms);
}

// Lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace naxctl_test
