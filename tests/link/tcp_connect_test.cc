// TCP connect of a link against real loopback sockets: the status and the OS
// error code it leaves in the link record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/transport.h"
#include "platform/socket.h"

namespace {

using namespace nax;

class TcpConnect : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::net_startup()); }
  void TearDown() override {
    for (platform::Socket s : sockets_) platform::socket_close(s);
    platform::net_cleanup();
  }
  // A socket bound to a port of the system's choice; listening or not.
  uint16_t bound_port(bool listening) {
    platform::Socket s = platform::socket_create_tcp();
    EXPECT_NE(s, platform::kNoSocket);
    sockets_.push_back(s);
    EXPECT_EQ(platform::socket_bind_any(s, 0), NAX_OK);
    if (listening) {
      EXPECT_TRUE(platform::socket_listen(s));
    }
    return platform::socket_local_port(s);
  }
  std::vector<platform::Socket> sockets_;
};

TEST_F(TcpConnect, OsErrorIsClearedOnceThePendingErrorHasBeenRead) {
  struct Case {
    const char* name;
    bool listening;
    uint32_t expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"node listening", true, NAX_OK},
      {"port bound but not listening: refused after the wait", false, NAX_ERR_CONN_REFUSED},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = "127.0.0.1";
    std::string param = std::to_string(bound_port(c.listening));
    Link link;
    link.device_type = kDeviceTcp;
    link.device_name = name.data();
    link.device_param = param.data();
    link.os_error = -7;  // whatever an earlier step left
    uint32_t status = kTcpTransport.open(&link, 5000);
    platform::socket_close(link.socket.exchange(platform::kNoSocket));
    if (status == NAX_ERR_CONNECT) {
      // Some stacks refuse at once; then the error of the start stays.
      EXPECT_FALSE(c.listening);
      EXPECT_NE(link.os_error, 0);
      continue;
    }
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(link.os_error, 0);
  }
}

TEST_F(TcpConnect, AddressesAreCheckedBeforeAnySocketIsMade) {
  struct Case {
    const char* name;
    uint32_t expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"255.255.255.255", NAX_ERR_BAD_ADDRESS},
      {"1.2.3.x", NAX_ERR_BAD_ADDRESS},
      {"no-such-host.invalid", NAX_ERR_HOST_NOT_FOUND},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = c.name;
    std::string param = "3001";
    Link link;
    link.device_name = name.data();
    link.device_param = param.data();
    EXPECT_EQ(kTcpTransport.open(&link, 100), c.expected);
    EXPECT_EQ(link.socket.load(), platform::kNoSocket);
  }
}

}  // namespace
