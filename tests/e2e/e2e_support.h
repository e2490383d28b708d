// Shared set-up for end-to-end tests: the library against a simulated node
// with short time-outs.  The suite that runs on every platform talks to the
// node through Node alone: in-process here, a naxsim process reached through
// its control channel under Wine.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/support.h"
#include "vedodiroz.h"
#ifdef _WIN32
#include "wine/remote_sim.h"
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control.h"
#include "naxsim.h"
#endif

namespace e2e {

using namespace test_support;  // NOLINT: what every test of the suite shares

// The simulated node: control lines as naxsim's control channel takes them
// ("faults no-answer", "user ID INDEX EVENT DIRECTION", "count", ...).
class Node {
 public:
#ifdef _WIN32
  bool start() {
    return control("faults") == "ok";
  }
  std::string control(const std::string& line) {
    return wine::control(line);
  }
  std::string tcp() const {
    return wine::sim_conn();
  }
  // A fresh serial line, by the name the host opens it by.
  std::string serial() {
    return wine::fresh_serial_line() ? wine::sim_com() : "";
  }
  uint16_t free_port() const {
    return static_cast<uint16_t>(std::atoi(wine::env("NAXSIM_LISTEN_PORT").c_str()));
  }
#else
  bool start() {
    sim_ = std::make_unique<naxsim::Simulator>(naxsim::Config{.node = kSimNode});
    return sim_->start();
  }
  std::string control(const std::string& line) {
    return naxsim::control_command(*sim_, line);
  }
  std::string tcp() const {
    return sim_->conn_string();
  }
  std::string serial() {
    const std::string answer = control("serial");
    return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : "";
  }
  naxsim::Simulator& sim() {
    return *sim_;
  }
  uint16_t free_port() const;
#endif
  // Connections, requests and keepalives the node has seen.
  struct Counts {
    unsigned long connections = 0, requests = 0, keepalives = 0;
  };
  Counts counts() {
    Counts c;
    std::sscanf(control("count").c_str(), "ok %lu %lu %lu", &c.connections, &c.requests,
                &c.keepalives);
    return c;
  }

 private:
#ifndef _WIN32
  std::unique_ptr<naxsim::Simulator> sim_;
#endif
};

#ifndef _WIN32
// A socket bound to a port of its own, which is left in *port.
inline int bound_socket(uint16_t* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  socklen_t n = sizeof a;
  *port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), n) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    *port = ntohs(a.sin_port);
  }
  return fd;
}

inline uint16_t Node::free_port() const {
  uint16_t port = 0;
  ::close(bound_socket(&port));
  return port;
}
#endif

// The node started and the library initialised; open() makes links to it,
// closed again at the end.
class NodeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(node_.start()) << "is the simulator up?";
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  void TearDown() override {
    for (uint32_t id : links_) nax_close(static_cast<int32_t>(id));
    node_.control("faults");
    nax_uninit();
  }
  int32_t open(uint8_t protocol, int32_t rcv_timeout_ms = 500) {
    return open(node_.tcp(), protocol, rcv_timeout_ms);
  }
  int32_t open(const std::string& conn, uint8_t protocol, int32_t rcv_timeout_ms = 500) {
    uint32_t status = 0;
    uint32_t id = nax_open(&status, kHostNode, protocol, conn.c_str(), 1000, &rec_,
                           Recorder::user_cb, Recorder::aux_cb, Recorder::conn_cb);
    EXPECT_EQ(status, NAX_OK) << conn;
    EXPECT_NE(id, 0u);
    if (id != 0) {
      links_.push_back(id);
      EXPECT_EQ(nax_set_rcv_timeout(static_cast<int32_t>(id), rcv_timeout_ms), NAX_OK);
    }
    return static_cast<int32_t>(id);
  }
  void forget(int32_t id) { std::erase(links_, static_cast<uint32_t>(id)); }

  Node node_;
  Recorder rec_;
  std::vector<uint32_t> links_;
};

// How many lines of a log file are text after their time stamp (or, not whole, hold it).
inline int count_log_lines(const std::string& path, const std::string& text, bool whole = true) {
  std::ifstream in(path);
  int n = 0;
  for (std::string line; std::getline(in, line);) {
    n += whole ? line.size() > 20 && line.substr(20) == text : line.find(text) != std::string::npos;
  }
  return n;
}

// A transport and a protocol: every shared test runs over each.
struct Route {
  const char* name;
  bool serial;
  uint8_t protocol;
};

class RouteFixture : public NodeFixture, public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    conn_ = GetParam().serial ? node_.serial() : node_.tcp();
    ASSERT_FALSE(conn_.empty());
    if (GetParam().serial) conn_ += ":115200";
  }
  bool p1() const { return GetParam().protocol == 1; }
  int32_t open_route(int32_t rcv_timeout_ms = 500) {
    return open(conn_, GetParam().protocol, rcv_timeout_ms);
  }
  std::string conn_;
};

inline auto routes() {
  return ::testing::Values(Route{"tcp_p1", false, 1}, Route{"tcp_p2", false, 2},
                           Route{"com_p1", true, 1}, Route{"com_p2", true, 2});
}
inline std::string route_name(const ::testing::TestParamInfo<Route>& route) {
  return route.param.name;
}

}  // namespace e2e
