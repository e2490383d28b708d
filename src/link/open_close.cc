// nax_open, nax_close and the internal close shared by every way a link ends.
#include <cstring>
#include <new>

#include "core/lifecycle.h"
#include "core/log.h"
#include "link/conn_string.h"
#include "link/link.h"
#include "link/transport.h"

namespace nax {

void reception_thread_main(uint32_t link_id);

uint32_t create_reception_thread(Link* link, uint32_t link_id) {
  log_printf(1, "node", "creatting reception thread for link id = %d", link_id);
  link->tx_mutex.reset(new (std::nothrow) platform::Mutex());
  link->answer_mutex.reset(new (std::nothrow) platform::Mutex());
  link->answer_event.reset(new (std::nothrow) platform::Event(false));
  link->stop_event.reset(new (std::nothrow)
                             platform::Event(true, transport_of(link).waitable_stop));
  link->started_event.reset(new (std::nothrow) platform::Event(true));
  link->ready_event.reset(new (std::nothrow) platform::Event(true));
  if (!link->tx_mutex || !link->answer_mutex || !link->answer_event || !link->stop_event ||
      !link->stop_event->valid() || !link->started_event || !link->ready_event) {
    return NAX_ERR_SYNC_CREATE;
  }
  if (!link->rx_thread.start([link_id] { reception_thread_main(link_id); })) {
    return NAX_ERR_THREAD_START;
  }
  if (!link->started_event->wait(kThreadStartWaitMs)) return NAX_ERR_THREAD_START;
  return NAX_OK;
}

uint32_t close_link(uint32_t link_id, bool wait, const char* context) {
  log_printf(1, context, "close link id = %d", link_id);
  Link* link = nullptr;
  uint32_t status = is_initialised();
  // The host's close waits for the reception thread: never from that thread.  A link
  // that thread is closing already (its connection callback reports the loss) answers
  // as any link already closing does.
  if (status == NAX_OK && wait && current_reception_link() == link_id) {
    status = link_acquire(link_id, &link, {.states = kStatesClosable, .max_holds = kAnyHolds});
    if (status == NAX_OK) {
      link_release(link_id);
      status = NAX_ERR_OWN_THREAD;
    }
  }
  if (status == NAX_OK) {
    status = link_acquire(
        link_id, &link,
        {.states = kStatesClosable, .new_state = LINK_CLOSING, .max_holds = kAnyHolds});
  }
  if (status != NAX_OK) {
    log_printf(3, context, "close link id = %d, ret_val = %d", link_id, status);
    return status;
  }
  if (wait && link->stop_event) {
    link->stop_event->set();
    if (link->ready_event) link->ready_event->set();
    // A command waiting for its answer ends now rather than at its time-out.
    if (link->answer_mutex && link->answer_event) {
      Packet closed{};
      closed.status = NAX_ERR_CONN_CLOSED;
      answer_handover(link, closed);
    }
  }
  status = transport_of(link).close(link);
  log_printf(2, context, "Wait for thread finish for link id = %d", link_id);
  if (wait) {
    link->rx_thread.join();
    link_release(link_id);
    link_free(link_id);
  } else {
    link_release(link_id);
  }
  log_printf(3, context, "close link id = %d, ret_val = %d", link_id, status);
  return status;
}

void close_everything() {
  bool listening = false;
  {
    ListenerRegistry& lr = listeners();
    platform::MutexLock lock(lr.mutex);
    listening = lr.listener != nullptr;
  }
  if (listening) nax_close_listen(1);
  // A link its own thread is closing refuses (1056); that thread frees it.
  for (uint32_t id = registry_next_live(0); id != 0; id = registry_next_live(id)) {
    close_link(id, true, "node");
  }
  registry_wait_all_freed();
}

}  // namespace nax

using namespace nax;

extern "C" {

NAX_API uint32_t NAX_CALL nax_open(uint32_t* status_out, uint16_t source_node,
                                   uint8_t packet_protocol, const char* conn, uint32_t timeout,
                                   void* callback_args, nax_user_callback callback_user,
                                   nax_aux_input_callback callback_aux_input,
                                   nax_conn_callback callback_conn) {
  log_printf(2, "node", "open source node = %d string = %s, protocol = %d, timeout = %dmS",
             source_node, conn != nullptr ? conn : "(null)", packet_protocol, timeout);
  uint32_t link_id = 0;
  Link* link = nullptr;
  uint32_t status = is_initialised();
  if (status == NAX_OK && packet_protocol != 1 && packet_protocol != 2) {
    status = NAX_ERR_BAD_PROTOCOL;
  }
  if (status == NAX_OK) status = link_alloc(&link, &link_id);
  if (status == NAX_OK) {
    log_printf(1, "node",
               "link id assigned = %d, callbacks( args = %p, user = %p, input = %p, conn = %p)",
               link_id, callback_args, reinterpret_cast<void*>(callback_user),
               reinterpret_cast<void*>(callback_aux_input), reinterpret_cast<void*>(callback_conn));
    link->callback_args = callback_args;
    link->callback_user = callback_user;
    link->callback_aux_input = callback_aux_input;
    link->callback_conn = callback_conn;
    link->link_state = LINK_OPENING;
    link->snd_timeout = kDefaultTimeoutMs;
    link->rcv_timeout = kDefaultTimeoutMs;
    link->interbyte_timeout = kDefaultInterbyteMs;
    status = parse_connection_string(link, conn);
    if (status == NAX_OK) {
      log_printf(2, "node", "device_name = %s, device_param = %s", link->device_name,
                 link->device_param);
      link->packet_protocol = packet_protocol;
      link->source_node = source_node;
      status = transport_of(link).open(link, timeout);
      if (link->device_type == kDeviceSerial) {
        log_printf(2, "node", "handle = %d for link id = %d", static_cast<int>(link->handle),
                   link_id);
      } else {
        log_printf(2, "node", "socket = %d, OS error code = %d for link id = %d",
                   static_cast<int>(link->socket.load()), link->os_error, link_id);
      }
    }
    if (status == NAX_OK) status = create_reception_thread(link, link_id);
    if (status == NAX_OK) {
      link_ready(link, LINK_OPEN);
    } else {
      close_link(link_id, true, "node");
      link_id = 0;
    }
  }
  log_printf(3, "node", "connection status = %d", status);
  if (status_out != nullptr) *status_out = status;
  return link_id;
}

NAX_API uint32_t NAX_CALL nax_close(int32_t link_id) {
  return close_link(static_cast<uint32_t>(link_id), true, "node");
}

}  // extern "C"
