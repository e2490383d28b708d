// Per-link settings: one setter per field, each taking the link as a command does.
#include "core/log.h"
#include "link/link.h"

namespace nax {
namespace {

// Every per-link setter: entry line, link_get, validate and store, release, result line.
template <typename Store>
uint32_t set_on_link(int32_t link_id, const char* result_format, Store&& store) {
  Link* link = nullptr;
  uint32_t status = link_get(static_cast<uint32_t>(link_id), &link);
  if (status == NAX_OK) {
    status = store(*link);
    link_release(static_cast<uint32_t>(link_id));
  }
  log_printf(3, "cmd", result_format, link_id, status);
  return status;
}

const void* fn_ptr(auto f) {
  return reinterpret_cast<const void*>(f);
}

}  // namespace

}  // namespace nax

using namespace nax;

extern "C" {

NAX_API uint32_t NAX_CALL nax_set_source_node(int32_t link_id, uint16_t node) {
  log_printf(2, "init", "set source node for link id = %d to %d", link_id, node);
  return set_on_link(link_id, "set source node for link id = %d ret_val = %d", [&](Link& l) {
    l.source_node = node;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_packet_protocol(int32_t link_id, uint8_t packet_protocol) {
  log_printf(2, "init", "set packet protocol for link id = %d to %d", link_id, packet_protocol);
  return set_on_link(link_id, "set packet protocol for link id = %d ret_val = %d", [&](Link& l) {
    if (packet_protocol != 1 && packet_protocol != 2) {
      return uint32_t{NAX_ERR_BAD_PROTOCOL};
    }
    l.packet_protocol = packet_protocol;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint8_t NAX_CALL nax_get_packet_protocol(int32_t link_id) {
  uint8_t protocol = 0;
  Link* link = nullptr;
  uint32_t status = link_get(static_cast<uint32_t>(link_id), &link);
  if (status == NAX_OK) {
    protocol = link->packet_protocol.load();
    link_release(static_cast<uint32_t>(link_id));
  }
  log_printf(2, "init", "get packet protocol = %d for link id = %d", protocol, link_id);
  log_printf(3, "cmd", "get packet protocol for link id = %d ret_val = %d", link_id, status);
  return protocol;
}

NAX_API uint32_t NAX_CALL nax_set_user_callback(int32_t link_id, nax_user_callback callback) {
  log_printf(2, "init", "set user callback for link id = %d to %p", link_id, fn_ptr(callback));
  return set_on_link(link_id, "set user callback for link id = %d ret_val = %d", [&](Link& l) {
    l.callback_user = callback;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_aux_input_callback(int32_t link_id,
                                                     nax_aux_input_callback callback) {
  log_printf(2, "init", "set aux input callback for link id = %d to %p", link_id, fn_ptr(callback));
  return set_on_link(link_id, "set aux input callback for link id = %d ret_val = %d", [&](Link& l) {
    l.callback_aux_input = callback;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_conn_callback(int32_t link_id, nax_conn_callback callback) {
  log_printf(2, "init", "set conn callback for link id = %d to %p", link_id, fn_ptr(callback));
  return set_on_link(link_id, "set conn callback for link id = %d ret_val = %d", [&](Link& l) {
    l.callback_conn = callback;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_callback_args(int32_t link_id, void* callback_args) {
  log_printf(2, "init", "set callbacks args for link id = %d to %p", link_id, callback_args);
  return set_on_link(link_id, "set callbacks args for link id = %d ret_val = %d", [&](Link& l) {
    l.callback_args = callback_args;
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_rcv_timeout(int32_t link_id, int32_t timeout) {
  log_printf(2, "init", "set receive timeout for link id = %d to %d mS", link_id, timeout);
  return set_on_link(link_id, "set receive timeout for link id = %d ret_val = %d", [&](Link& l) {
    l.rcv_timeout = static_cast<uint32_t>(timeout);
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_snd_timeout(int32_t link_id, int32_t timeout) {
  log_printf(2, "init", "set send timeout for link id = %d to %d mS", link_id, timeout);
  return set_on_link(link_id, "set send timeout for link id = %d ret_val = %d", [&](Link& l) {
    l.snd_timeout = static_cast<uint32_t>(timeout);
    return uint32_t{NAX_OK};
  });
}

NAX_API uint32_t NAX_CALL nax_set_interbyte_timeout(int32_t link_id, int32_t timeout) {
  log_printf(2, "init", "set interbyte timeout for link id = %d to %d mS", link_id, timeout);
  return set_on_link(link_id, "set interbyte timeout for link id = %d ret_val = %d", [&](Link& l) {
    l.interbyte_timeout = static_cast<uint32_t>(timeout);
    return uint32_t{NAX_OK};
  });
}

}  // extern "C"
