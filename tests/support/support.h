// What every test program shares: the node numbers of the suite, waiting for a
// condition, a recorder of what the callbacks saw, and the descriptors and threads
// a process holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "vedodiroz.h"
#ifndef _WIN32
#include <dirent.h>
#endif

namespace test_support {

inline constexpr uint16_t kHostNode = 0x0100;
inline constexpr uint16_t kSimNode = 7;

// Waits up to timeout_ms for pred to hold.
inline bool eventually(const std::function<bool()>& pred, int timeout_ms = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

inline int64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

// Everything the callbacks saw, safe to read from the test thread.
struct Recorder {
  std::mutex m;
  std::vector<nax_user_event> users;
  std::vector<uint32_t> user_nodes;
  std::vector<nax_aux_input_event> aux;
  std::vector<std::pair<int32_t, uint32_t>> conn;  // link id, state

  static void NAX_CALL user_cb(void* args, int32_t, uint32_t node, nax_user_event* ev) {
    auto* r = static_cast<Recorder*>(args);
    std::lock_guard<std::mutex> lock(r->m);
    r->users.push_back(*ev);
    r->user_nodes.push_back(node);
  }
  static void NAX_CALL aux_cb(void* args, int32_t, uint32_t, nax_aux_input_event* ev) {
    auto* r = static_cast<Recorder*>(args);
    std::lock_guard<std::mutex> lock(r->m);
    r->aux.push_back(*ev);
  }
  static void NAX_CALL conn_cb(void* args, int32_t link, uint32_t state) {
    auto* r = static_cast<Recorder*>(args);
    std::lock_guard<std::mutex> lock(r->m);
    r->conn.emplace_back(link, state);
  }
  template <class T>
  size_t size_of(const std::vector<T>& v) {
    std::lock_guard<std::mutex> lock(m);
    return v.size();
  }
  size_t user_count() { return size_of(users); }
  size_t conn_count() { return size_of(conn); }
};

#ifndef _WIN32
inline int count_entries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n;
}

inline int open_descriptors() {
  return count_entries("/proc/self/fd") - 1;  // less the one reading the folder
}

inline int running_threads() {
  return count_entries("/proc/self/task");
}
#endif

}  // namespace test_support
