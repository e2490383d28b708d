// nax_init, nax_uninit, nax_lib_version and nax_status_text.
#include "core/lifecycle.h"

#include <cstring>

#include "core/log.h"
#include "link/link.h"
#include "link/registry.h"
#include "platform/socket.h"
#include "vedodiroz.h"

namespace nax {
namespace {

std::atomic<bool> g_initialised{false};

}  // namespace

uint32_t is_initialised() {
  return g_initialised.load() ? NAX_OK : NAX_ERR_NOT_INIT;
}

ListenLimitSettings& listen_limits() {
  static ListenLimitSettings settings;
  return settings;
}

ListenerRegistry& listeners() {
  static ListenerRegistry registry;
  return registry;
}

}  // namespace nax

using namespace nax;

extern "C" {

NAX_API uint32_t NAX_CALL nax_init(const char* log_path, int32_t log_level) {
  if (g_initialised.load()) return NAX_ERR_ALREADY_INIT;
  if (!platform::net_startup()) {
    platform::net_cleanup();
    return NAX_ERR_SOCKET_LAYER;
  }
  log_setup(log_path, log_level);
  log_printf(1, "init", "log level = %ld, version = %s", static_cast<long>(log_level), kLibVersion);
  uint32_t status = registry_create();
  if (status != NAX_OK) return status;
  {
    ListenerRegistry& lr = listeners();
    platform::MutexLock lock(lr.mutex);
    lr.created = true;
  }
  g_initialised.store(true);
  return NAX_OK;
}

NAX_API uint32_t NAX_CALL nax_uninit(void) {
  if (!g_initialised.load()) return NAX_ERR_NOT_INIT;
  // Links and the listener still open own threads that use the registries: they
  // are closed first, each waiting for its thread, which a callback running on
  // one of those threads cannot do.
  if (current_reception_link() != 0 || on_listen_thread()) {
    log_printf(1, "init", "finish refused: called on a thread of the library");
    return NAX_ERR_OWN_THREAD;
  }
  close_everything();
  log_printf(1, "init", "finish");
  log_teardown();
  platform::net_cleanup();
  uint32_t status = registry_destroy();
  if (status != NAX_OK) return status;
  {
    ListenerRegistry& lr = listeners();
    platform::MutexLock lock(lr.mutex);
    lr.created = false;
  }
  g_initialised.store(false);
  return NAX_OK;
}

NAX_API char* NAX_CALL nax_lib_version(char* buffer) {
  if (buffer == nullptr) return nullptr;
  std::memcpy(buffer, kLibVersion, std::strlen(kLibVersion) + 1);
  return buffer;
}

NAX_API const char* NAX_CALL nax_status_text(uint32_t status) {
  switch (status) {
#define NAX_STATUS_TEXT_CASE_(name, code, text) \
  case code:                                    \
    return text;
    NAX_STATUS_LIST(NAX_STATUS_TEXT_CASE_)
#undef NAX_STATUS_TEXT_CASE_
    default:
      break;
  }
  if (status >= 1000) return "unknown library status";
  return "status reported by the node";
}

}  // extern "C"
