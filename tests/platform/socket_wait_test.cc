// Socket waits keep their time-out when signals interrupt them: a host whose
// threads receive signals (timers, profilers, runtimes) must still see a
// quiet link time out on time.
#include <gtest/gtest.h>
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

// A connected pair: `near` is the library's non-blocking socket. A local
// stream pair rather than TCP, whose loopback buffers can open up again on
// their own (the kernel compacts a full receive queue), so that a send that
// found them full keeps waiting.
struct Pair {
  int near = -1;
  int far = -1;

  Pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    near = fds[0];
    far = fds[1];
    platform::socket_set_nonblocking(near);
  }
  ~Pair() {
    for (int fd : {near, far}) {
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
         // Fill the pair's buffers first; the last send then has to wait.
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
