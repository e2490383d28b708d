// Socket waits keep their time-out when signals interrupt them: a host whose
// threads receive signals (timers, profilers, runtimes) must still see a
// quiet link time out on time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace platform = nax::platform;

void on_signal(int) {}

// A connected loopback pair: `near` is the library's non-blocking socket.
struct Pair {
  int listener = -1;
  int near = -1;
  int far = -1;

  Pair() {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      return;
    }
    near = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(near, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return;
    far = ::accept(listener, nullptr, nullptr);
    platform::socket_set_nonblocking(near);
  }
  ~Pair() {
    for (int fd : {listener, near, far}) {
      if (fd >= 0) ::close(fd);
    }
  }
};

TEST(SocketWait, SignalsDoNotRestartTheTimeOut) {
  struct sigaction action {};
  action.sa_handler = on_signal;  // no SA_RESTART: every signal interrupts the wait
  struct sigaction saved {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);

  struct Case {
    const char* name;
    std::function<uint32_t(Pair&)> wait;  // waits 300 ms on the pair's near socket
  };
  const std::vector<Case> cases = {
      {"receive on a quiet socket",
       [](Pair& p) {
         uint8_t buffer[16];
         uint32_t count = 0;
         return platform::socket_receive(p.near, nullptr, 300, buffer, sizeof buffer, &count);
       }},
      {"send to a peer that reads nothing",
       [](Pair& p) {
         // Fill both socket buffers first; the last send then has to wait.
         std::vector<uint8_t> block(65536, 0x55);
         while (::send(p.near, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
         }
         return platform::socket_send(p.near, block.data(), block.size(), 300);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pair pair;
    ASSERT_GE(pair.far, 0);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> status{0};
    std::atomic<int64_t> took_ms{0};
    std::thread waiter([&] {
      const auto start = Clock::now();
      status = c.wait(pair);
      took_ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      done = true;
    });
    // A signal every 20 ms for up to 3 s: ten times the time-out.
    const auto until = Clock::now() + std::chrono::seconds(3);
    while (!done.load() && Clock::now() < until) {
      pthread_kill(waiter.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    waiter.join();
    EXPECT_EQ(status.load(), static_cast<uint32_t>(NAX_ERR_TIMEOUT));
    EXPECT_GE(took_ms.load(), 295);
    EXPECT_LT(took_ms.load(), 1500);
  }
  sigaction(SIGUSR1, &saved, nullptr);
}

}  // namespace
