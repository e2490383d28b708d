// What only Windows has: a port held by another program's listener stays its own.
#include "e2e/e2e_support.h"

namespace {

class WineOnly : public e2e::NodeFixture {};

TEST_F(WineOnly, PortHeldByAnotherListenerIsRefused) {
  const uint16_t port = node_.free_port();
  SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(other, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(listen(other, 4), 0);
  uint32_t status = 0;
  EXPECT_EQ(nax_listen(&status, port, 300, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_PORT_IN_USE);
  closesocket(other);
}

}  // namespace
