// Listening for nodes that connect in: the one listener, its thread, and the
// links it creates in the incoming state until the host claims them.
#include <new>

#include "core/lifecycle.h"
#include "core/log.h"
#include "link/link.h"
#include "link/transport.h"
#include "platform/socket.h"

namespace nax {

struct Listener {
  platform::Socket listen_socket = platform::kNoSocket;
  uint32_t port = 0;
  platform::Thread thread;
  std::unique_ptr<platform::Event> stop_event;  // manual reset, waitable
  nax_conn_callback callback_conn = nullptr;
  void* callback_args = nullptr;
};

namespace {

constexpr int32_t kListenId = 1;

uint32_t create_listen_socket(Listener* l, int32_t timeout_ms) {
  platform::Socket fd = platform::socket_create_tcp();
  if (fd == platform::kNoSocket) return NAX_ERR_SOCKET;
  l->listen_socket = fd;
  uint32_t status = platform::socket_bind_any(fd, static_cast<uint16_t>(l->port));
  if (status != NAX_ERR_PORT_IN_USE) return status;
  int retries = timeout_ms > 99 ? timeout_ms / 100 : 1;
  for (int i = 0; i < retries; ++i) {
    platform::sleep_ms(kRetryPauseMs);
    status = platform::socket_bind_any(fd, static_cast<uint16_t>(l->port));
    if (status != NAX_ERR_PORT_IN_USE) return status;
  }
  return NAX_ERR_PORT_IN_USE;
}

// One connected node becomes a link in the incoming state.
uint32_t take_node(Listener* l, platform::Socket fd) {
  Link* link = nullptr;
  uint32_t link_id = 0;
  uint32_t status = link_alloc(&link, &link_id);
  if (status != NAX_OK) {
    platform::socket_close(fd);  // nothing could use it
    return status;
  }
  log_printf(1, "node", "link id assigned = %d", link_id);
  link->unclaimed = true;
  listen_limits().unclaimed.fetch_add(1);
  transport_adopt_socket(link, fd);
  link->port = l->port;
  link->link_state = LINK_OPENING;
  log_printf(2, "node",
             "callback_args = %p callback_user = %p, callback_aux_input = %p, callback_conn = %p",
             link->callback_args.load(), reinterpret_cast<void*>(link->callback_user.load()),
             reinterpret_cast<void*>(link->callback_aux_input.load()),
             reinterpret_cast<void*>(link->callback_conn.load()));
  link->snd_timeout = kDefaultTimeoutMs;
  link->rcv_timeout = kDefaultTimeoutMs;
  link->interbyte_timeout = kDefaultInterbyteMs;
  status = create_reception_thread(link, link_id);
  if (status != NAX_OK) {
    close_link(link_id, true, "node");
    return status;
  }
  link_ready(link, LINK_INCOMING);
  if (l->callback_conn == nullptr) return NAX_ERR_NO_CONN_CALLBACK;
  l->callback_conn(l->callback_args, static_cast<int32_t>(link_id), NAX_CONN_CONNECTED);
  return NAX_OK;
}

thread_local bool t_listen_thread = false;

void listen_thread_main(Listener* l) {
  t_listen_thread = true;
  log_printf(1, "lthr", "init thread for listen id = %d", kListenId);
  for (;;) {
    uint32_t status = NAX_OK;
    char peer[64] = "unknow";
    platform::Socket fd = platform::kNoSocket;
    if (!platform::socket_listen(l->listen_socket)) {
      status = NAX_ERR_LISTEN_WAIT;
    } else {
      bool stopped = false;
      fd = platform::socket_accept(l->listen_socket, l->stop_event.get(), peer, sizeof peer,
                                   &stopped);
      if (stopped) break;
      if (fd == platform::kNoSocket) status = NAX_ERR_ACCEPT_FAILED;
    }
    if (status == NAX_OK) {
      log_printf(1, "lthr", "new node ip = %s for listen id = %d", peer, kListenId);
      const uint32_t cap = listen_limits().max_unclaimed.load();
      if (cap != 0 && listen_limits().unclaimed.load() >= cap) {
        // A flood must not cost a thread and descriptors per connection.
        platform::socket_close(fd);
        log_printf(1, "lthr", "node ip = %s refused: %u links not claimed yet", peer, cap);
        status = NAX_ERR_LINK_UNAVAILABLE;
      } else {
        status = take_node(l, fd);
      }
    }
    log_printf(1, "lthr", "listen thread for the listen id = %d, ret_val = %d", kListenId, status);
    if (l->stop_event->is_set()) break;
    // A failing listen socket would otherwise spin the thread.
    if (status == NAX_ERR_LISTEN_WAIT || status == NAX_ERR_ACCEPT_FAILED) {
      platform::sleep_ms(kRetryPauseMs);
    }
  }
  log_printf(1, "lthr", "exit thread for listen id = %d", kListenId);
}

uint32_t close_listener(Listener* l) {
  uint32_t status = NAX_OK;
  if (l->stop_event) l->stop_event->set();
  if (l->listen_socket == platform::kNoSocket) {
    status = NAX_ERR_SOCKET_NOT_OPEN;
  } else {
    platform::socket_shutdown(l->listen_socket);
  }
  l->thread.join();
  platform::socket_close(l->listen_socket);
  delete l;
  return status;
}

}  // namespace

bool on_listen_thread() {
  return t_listen_thread;
}

uint16_t listener_port() {
  ListenerRegistry& lr = listeners();
  platform::MutexLock lock(lr.mutex);
  return lr.listener != nullptr ? static_cast<uint16_t>(lr.listener->port) : 0;
}

}  // namespace nax

using namespace nax;

extern "C" {

NAX_API uint32_t NAX_CALL nax_listen(uint32_t* status_out, uint16_t port, int32_t timeout,
                                     void* callback_args, nax_conn_callback callback_conn) {
  log_printf(1, "lsnt", "listen thread for nodes in port = %d, timeout = %dmS", port, timeout);
  uint32_t status = is_initialised();
  int32_t listen_id = 0;
  Listener* l = nullptr;
  if (status == NAX_OK) {
    ListenerRegistry& lr = listeners();
    platform::MutexLock lock(lr.mutex);
    if (lr.listener != nullptr) {
      status = NAX_ERR_LISTENER_EXISTS;
    } else if ((l = new (std::nothrow) Listener()) == nullptr) {
      status = NAX_ERR_NO_MEMORY;
    } else {
      lr.listener = l;
      listen_id = kListenId;
    }
  }
  if (status == NAX_OK) {
    log_printf(1, "lsnt", "listen thread id assigned = %d callbacks( args = %p, conn = %p)",
               listen_id, callback_args, reinterpret_cast<void*>(callback_conn));
    l->port = port;
    l->callback_conn = callback_conn;
    l->callback_args = callback_args;
    status = create_listen_socket(l, timeout);
    // Listening before nax_listen returns: a node may dial the moment it does.
    if (status == NAX_OK && !platform::socket_listen(l->listen_socket)) {
      status = NAX_ERR_LISTEN_WAIT;
    }
    // Port 0 asks the system for a free port; links then report the real one.
    if (status == NAX_OK && port == 0) l->port = platform::socket_local_port(l->listen_socket);
    if (status == NAX_OK) {
      log_printf(1, "lsnt", "creatting listen thread for listen id = %d", listen_id);
      // The stop event exists before the thread starts, so the thread can wait on it.
      l->stop_event.reset(new (std::nothrow) platform::Event(true, true));
      if (!l->stop_event || !l->stop_event->valid()) {
        status = NAX_ERR_LISTEN_EVENT;
      } else if (!l->thread.start([l] { listen_thread_main(l); })) {
        status = NAX_ERR_LISTEN_THREAD;
      }
    }
    if (status != NAX_OK) {
      nax_close_listen(listen_id);
      listen_id = 0;
    }
  }
  log_printf(1, "lsnt", "listen thread status = %d", status);
  if (status_out != nullptr) *status_out = status;
  return static_cast<uint32_t>(listen_id);
}

NAX_API uint32_t NAX_CALL nax_close_listen(int32_t listen_id) {
  log_printf(1, "lsnt", "close listen id = %d", listen_id);
  uint32_t status = is_initialised();
  Listener* l = nullptr;
  if (status == NAX_OK && on_listen_thread()) status = NAX_ERR_OWN_THREAD;
  if (status == NAX_OK) {
    ListenerRegistry& lr = listeners();
    platform::MutexLock lock(lr.mutex);
    if (listen_id != kListenId || lr.listener == nullptr) {
      status = NAX_ERR_NO_LISTENER;
    } else {
      l = lr.listener;
      lr.listener = nullptr;
    }
  }
  if (l != nullptr) status = close_listener(l);
  log_printf(3, "lsnt", "close listen id = %d, ret_val = %d", listen_id, status);
  return status;
}

NAX_API uint32_t NAX_CALL nax_set_listen_limits(int32_t max_unclaimed, int32_t claim_timeout) {
  log_printf(2, "init", "set listen limits - max unclaimed = %d, claim timeout = %d mS",
             max_unclaimed, claim_timeout);
  ListenLimitSettings& limits = listen_limits();
  uint32_t status = NAX_OK;
  if (max_unclaimed < 0 || claim_timeout < 0) {
    status = NAX_ERR_INVALID_ARG;
  } else {
    limits.max_unclaimed = static_cast<uint32_t>(max_unclaimed);
    limits.claim_timeout_ms = static_cast<uint32_t>(claim_timeout);
  }
  log_printf(3, "cmd",
             "set listen limits - max unclaimed = %d, claim timeout = %d mS, ret_val = %d",
             static_cast<int32_t>(limits.max_unclaimed.load()),
             static_cast<int32_t>(limits.claim_timeout_ms.load()), status);
  return status;
}

}  // extern "C"
