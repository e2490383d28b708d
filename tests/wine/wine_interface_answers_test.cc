// Where Windows matters to the answers a host expects: nax_uninit with links still
// open gives back the port and the sockets, a port another socket holds is refused
// (waited out only when it is "in use"), and a serial line hung up is found by the
// keepalive.
#include "e2e/e2e_support.h"

namespace {

using e2e::kSimNode;

class WineInterfaceAnswers : public e2e::NodeFixture {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    ASSERT_TRUE(wine::fresh_serial_line());
    com_ = wine::sim_com() + ":115200";
  }
  // A socket of this process on the listen port: exclusively bound, or listening.
  SOCKET hold_listen_port(bool exclusive) {
    SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(other, INVALID_SOCKET);
    BOOL on = TRUE;
    if (exclusive) {
      EXPECT_EQ(setsockopt(other, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                           reinterpret_cast<const char*>(&on), sizeof on),
                0);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(node_.free_port());
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(bind(other, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    if (!exclusive) {
      EXPECT_EQ(listen(other, 4), 0);
    }
    return other;
  }
  std::string com_;
};

// The COM port is opened without sharing and the listener binds its port
// exclusively: both open again at once only if nax_uninit closed them.
TEST_F(WineInterfaceAnswers, UninitClosesWhatIsStillOpenSoThatItOpensAgain) {
  const uint16_t port = node_.free_port();
  open(node_.tcp(), 2);
  open(com_, 1);
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, port, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
  ASSERT_EQ(node_.control("connect 127.0.0.1 " + std::to_string(port) + " 1"), "ok");
  ASSERT_TRUE(e2e::eventually([&] { return rec_.conn_count() == 1; }));

  EXPECT_EQ(nax_uninit(), NAX_OK);
  links_.clear();
  EXPECT_EQ(rec_.conn_count(), 1u);  // closing reports nothing
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const int32_t again = open(com_, 1);
  EXPECT_EQ(again, 1);  // a fresh registry
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(again, kSimNode, &got), NAX_OK);
  EXPECT_EQ(nax_listen(&status, port, 0, nullptr, nullptr), 1u);
  EXPECT_EQ(status, NAX_OK);
}

// A port another program's listener holds stays its own; one held exclusively is
// refused with WSAEACCES, which is no "port in use" to wait out.
TEST_F(WineInterfaceAnswers, PortHeldByAnotherSocketIsRefused) {
  const struct {
    bool exclusive;
    uint32_t retry_ms;
    uint32_t expected;
  } cases[] = {{false, 300, NAX_ERR_PORT_IN_USE}, {true, 3000, NAX_ERR_BIND}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.exclusive ? "exclusive" : "listening");
    const SOCKET other = hold_listen_port(c.exclusive);
    uint32_t status = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(nax_listen(&status, node_.free_port(), c.retry_ms, nullptr, nullptr), 0u);
    EXPECT_EQ(status, c.expected);
    if (c.exclusive) {
      EXPECT_LT(e2e::elapsed_ms(start), 2000);
    }
    closesocket(other);
  }
}

// A serial line whose other end hangs up fails its reads with 1020, which the
// reception thread retries; the keepalive finds the node gone and reports it.
TEST_F(WineInterfaceAnswers, SerialHangUpIsFoundByTheKeepalive) {
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(300, 1, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const int32_t link = open(com_, 2, 3000);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  ASSERT_EQ(node_.control("faults no-answer"), "ok");
  ASSERT_EQ(node_.control("drop"), "ok");
  const uint32_t waited = nax_get_time(link, kSimNode, &got);
  EXPECT_TRUE(waited == NAX_ERR_IO || waited == NAX_ERR_NODE_LOST) << waited;
  ASSERT_TRUE(e2e::eventually([&] { return rec_.conn_count() >= 1; }));
  EXPECT_EQ(rec_.conn[0], std::make_pair(link, static_cast<uint32_t>(NAX_CONN_NO_KEEPALIVE)));
  forget(link);
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
}

}  // namespace
