// Shared set-up for end-to-end tests: the library against an in-process
// simulated node over loopback, with short time-outs.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "naxsim.h"
#include "vedodiroz.h"

namespace e2e {

inline constexpr uint16_t kHostNode = 0x0100;
inline constexpr uint16_t kSimNode = 7;

// Waits up to timeout for pred to hold.
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
  std::function<void(int32_t link, const nax_user_event&)> on_user;

  static void NAX_CALL user_cb(void* args, int32_t link, uint32_t node, nax_user_event* ev) {
    auto* r = static_cast<Recorder*>(args);
    std::function<void(int32_t, const nax_user_event&)> hook;
    {
      std::lock_guard<std::mutex> lock(r->m);
      r->users.push_back(*ev);
      r->user_nodes.push_back(node);
      hook = r->on_user;
    }
    if (hook) hook(link, *ev);
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
  size_t user_count() {
    std::lock_guard<std::mutex> lock(m);
    return users.size();
  }
  size_t conn_count() {
    std::lock_guard<std::mutex> lock(m);
    return conn.size();
  }
};

// A started simulator and an initialised library; open() makes links to it.
class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    naxsim::Config config;
    config.node = kSimNode;
    sim_ = std::make_unique<naxsim::Simulator>(config);
    ASSERT_TRUE(sim_->start());
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  void TearDown() override {
    for (uint32_t id : links_) nax_close(static_cast<int32_t>(id));
    sim_->stop();
    nax_uninit();
  }

  // Opens a link in the given protocol with short time-outs; fails the test on error.
  uint32_t open(uint8_t protocol, uint32_t rcv_timeout_ms = 500) {
    uint32_t status = 0;
    uint32_t id = nax_open(&status, kHostNode, protocol, sim_->conn_string().c_str(), 1000,
                           &recorder_, Recorder::user_cb, Recorder::aux_cb, Recorder::conn_cb);
    EXPECT_EQ(status, NAX_OK);
    EXPECT_NE(id, 0u);
    if (id != 0) {
      links_.push_back(id);
      EXPECT_EQ(nax_set_rcv_timeout(static_cast<int32_t>(id), static_cast<int32_t>(rcv_timeout_ms)),
                NAX_OK);
    }
    return id;
  }
  // The link is gone (closed by the test or lost): do not close it again.
  void forget(uint32_t id) { std::erase(links_, id); }

  std::unique_ptr<naxsim::Simulator> sim_;
  Recorder recorder_;
  std::vector<uint32_t> links_;
};

}  // namespace e2e
