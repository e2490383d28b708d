// Where Windows matters to the answers a host expects: nax_uninit with links
// still open gives back the port and the sockets, and a bind error other than
// "address in use" is not waited for.
#include <gtest/gtest.h>

#include <string>

#include "remote_sim.h"

namespace {

using wine::kHostNode;
using wine::kSimNode;

uint16_t listen_port() {
  return static_cast<uint16_t>(std::atoi(wine::env("NAXSIM_LISTEN_PORT").c_str()));
}

class WineInterfaceAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(wine::control("faults"), "ok") << "is the simulator's control channel up?";
    ASSERT_TRUE(wine::fresh_serial_line());
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  void TearDown() override { nax_uninit(); }
  uint32_t open(const std::string& conn, uint8_t protocol) {
    uint32_t status = 0;
    const uint32_t id =
        nax_open(&status, kHostNode, protocol, conn.c_str(), 1000, &rec_, wine::Recorder::user_cb,
                 wine::Recorder::aux_cb, wine::Recorder::conn_cb);
    EXPECT_EQ(status, NAX_OK) << conn;
    return id;
  }
  wine::Recorder rec_;
};

// The COM port is opened without sharing and the listener binds its port
// exclusively: both open again at once only if nax_uninit closed them.
TEST_F(WineInterfaceAnswers, UninitClosesWhatIsStillOpenSoThatItOpensAgain) {
  const std::string com = wine::sim_com() + ":115200";
  ASSERT_NE(open(wine::sim_conn(), 2), 0u);
  ASSERT_NE(open(com, 1), 0u);
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, listen_port(), 1000, &rec_, wine::Recorder::conn_cb), 1u);
  ASSERT_EQ(wine::control("connect 127.0.0.1 " + std::to_string(listen_port()) + " 1"), "ok");
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) == 1; }));

  EXPECT_EQ(nax_uninit(), NAX_OK);
  EXPECT_EQ(rec_.size_of(rec_.conn), 1u);  // closing reports nothing
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const uint32_t again = open(com, 1);
  EXPECT_EQ(again, 1u);  // a fresh registry
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(again), kSimNode, &got), NAX_OK);
  EXPECT_EQ(nax_listen(&status, listen_port(), 0, nullptr, nullptr), 1u);
  EXPECT_EQ(status, NAX_OK);
}

// A port another socket of this process holds exclusively is refused with
// WSAEACCES: that is no "port in use" to wait out.
TEST_F(WineInterfaceAnswers, BindRefusedForAnotherReasonIsNotWaitedFor) {
  SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(other, INVALID_SOCKET);
  BOOL on = TRUE;
  ASSERT_EQ(setsockopt(other, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                       sizeof on),
            0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(listen_port());
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  uint32_t status = 0;
  EXPECT_EQ(nax_listen(&status, listen_port(), 3000, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_BIND);
  closesocket(other);
}

// A serial line whose other end hangs up fails its reads with 1020, which the
// reception thread retries; the keepalive finds the node gone and reports it.
TEST_F(WineInterfaceAnswers, SerialHangUpIsFoundByTheKeepalive) {
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(300, 1, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const int32_t link = static_cast<int32_t>(open(wine::sim_com() + ":115200", 2));
  ASSERT_NE(link, 0);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  ASSERT_EQ(wine::control("faults no-answer"), "ok");
  ASSERT_EQ(wine::control("drop"), "ok");
  const uint32_t waited = nax_get_time(link, kSimNode, &got);
  EXPECT_TRUE(waited == NAX_ERR_IO || waited == NAX_ERR_NODE_LOST) << waited;
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) >= 1; }));
  EXPECT_EQ(rec_.conn[0], std::make_pair(link, static_cast<uint32_t>(NAX_CONN_NO_KEEPALIVE)));
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
}

}  // namespace
