// Runs the naxctl program as a child process with its output captured and its run time
// bounded: a child still running at its deadline is killed and reported as timed out.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace naxctl_test {

struct Result {
  int exit_code = -1;  // -1 when killed or not started
  bool timed_out = false;
  std::string out;
  std::string err;
  int64_t elapsed_ms = 0;
};

class Process {
 public:
  // Starts naxctl with args; standard input is the file stdin_path (default /dev/null).
  explicit Process(const std::vector<std::string>& args,
                   const std::string& stdin_path = "/dev/null")
      : Process(NAXCTL_PATH, args, stdin_path) {}
  // Starts another program the same way.
  Process(const std::string& program, const std::vector<std::string>& args,
          const std::string& stdin_path)
      : started_(std::chrono::steady_clock::now()) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> argv_text = {program};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
  }
  ~Process() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Stdout gathered so far, reading for up to wait_ms more.
  const std::string& out_so_far(int wait_ms) {
    pump(wait_ms);
    return result_.out;
  }

  void signal(int sig) {
    if (pid_ > 0 && !reaped_) kill(pid_, sig);
  }

  // Waits for the end, at most timeout_ms in all since the start.
  Result finish(int timeout_ms = 15000) {
    const auto deadline = started_ + std::chrono::milliseconds(timeout_ms);
    while (out_fd_ >= 0 || err_fd_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) {
        result_.timed_out = true;
        break;
      }
      pump(static_cast<int>(left));
    }
    if (pid_ > 0) {
      if (result_.timed_out) kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      reaped_ = true;
      if (WIFEXITED(status)) result_.exit_code = WEXITSTATUS(status);
    }
    result_.elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
    return result_;
  }

 private:
  void pump(int wait_ms) {
    pollfd fds[2];
    int n = 0;
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (n == 0 || poll(fds, static_cast<nfds_t>(n), wait_ms) <= 0) return;
    for (int i = 0; i < n; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      const bool is_out = fds[i].fd == out_fd_;
      if (got <= 0) {
        close(fds[i].fd);
        (is_out ? out_fd_ : err_fd_) = -1;
        continue;
      }
      (is_out ? result_.out : result_.err).append(buffer, static_cast<size_t>(got));
    }
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::chrono::steady_clock::time_point started_;
  Result result_;
};

inline Result run(const std::vector<std::string>& args, int timeout_ms = 15000,
                  const std::string& stdin_path = "/dev/null") {
  Process p(args, stdin_path);
  return p.finish(timeout_ms);
}

inline Result run_program(const std::string& program, const std::vector<std::string>& args,
                          int timeout_ms) {
  Process p(program, args, "/dev/null");
  return p.finish(timeout_ms);
}

// Lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace naxctl_test
