// One link to one node for the length of a command.
#include "session.h"

#include <cctype>
#include <chrono>

#include "serial_device.h"

namespace naxctl {

namespace {

// Events beyond this many untaken ones are dropped rather than kept without bound.
constexpr size_t kMaxQueuedEvents = 10000;

// Bounds on nodes that connect in and are not claimed: anyone who reaches the port
// can open links, each with a thread of the library.
constexpr int32_t kMaxUnclaimed = 1000;
constexpr int32_t kClaimTimeoutMs = 60000;

bool starts_with_nocase(const std::string& text, const char* prefix) {
  for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

ConnTarget parse_conn(const std::string& conn) {
  ConnTarget target;
  if (!conn.empty() && conn.front() == '[') {
    target.error = "connection string \"" + conn +
                   "\": IPv6 addresses are not supported; give an IPv4 address or a host name";
    return target;
  }
  const std::size_t sep = conn.find_first_of(": ");
  if (conn.empty() || sep == std::string::npos || sep == 0) {
    target.error = "connection string \"" + conn + "\" is not DEVICE:PARAMETER";
    return target;
  }
  target.device = conn.substr(0, sep);
  const std::string rest = conn.substr(sep + 1);
  const std::string param = rest.substr(0, rest.find_first_of(": "));
  target.serial = starts_with_nocase(target.device, "tty") ||
                  starts_with_nocase(target.device, "com") || target.device[0] == '/';
  const bool digits = !param.empty() && param.find_first_not_of("0123456789") == std::string::npos;
  if (!digits) {
    target.error = "connection string \"" + conn + "\": " + (target.serial ? "baud rate" : "port") +
                   " \"" + param + "\" is not a number";
    return target;
  }
  if (!target.serial) {
    const bool in_range = param.size() <= 5 && std::stoul(param) >= 1 && std::stoul(param) <= 65535;
    if (!in_range) {
      target.error = "connection string \"" + conn + "\": port " + param + " is not 1 to 65535";
      return target;
    }
  } else {
    target.path = serial_device_path(target.device);
  }
  return target;
}

std::string status_message(const std::string& function, uint32_t status) {
  const char* meaning = nax_node_status_text(function.c_str(), status);
  return function + ": " + std::to_string(status) + " " +
         (meaning != nullptr ? meaning : nax_status_text(status));
}

NaxError::NaxError(const std::string& function, uint32_t status, const std::string& detail)
    : std::runtime_error(status_message(function, status) +
                         (detail.empty() ? "" : " (" + detail + ")")),
      status_(status) {}

void check(uint32_t status, const char* function) {
  if (status != NAX_OK) throw NaxError(function, status);
}

Session::Session(Options options) : options_(std::move(options)), node_(options_.node) {}

Session::~Session() {
  close();
}

void Session::open() {
  int32_t level = options_.log_level;
  if (level < 0) level = options_.log_path.empty() ? 0 : 3;
  check(nax_init(options_.log_path.empty() ? nullptr : options_.log_path.c_str(), level),
        "nax_init");
  initialised_ = true;
  if (options_.listen) {
    accept_link();
  } else {
    open_link();
  }
}

void Session::open_link() {
  const ConnTarget target = parse_conn(options_.conn);
  if (!target.error.empty()) throw UsageError(target.error);
  uint32_t status = 0;
  const uint32_t id =
      nax_open(&status, options_.source, static_cast<uint8_t>(options_.protocol),
               options_.conn.c_str(), options_.timeout_ms, this, on_user, on_aux, on_conn);
  if (id == 0) {
    if (status == NAX_ERR_BAD_CONN_STRING) throw UsageError(status_message("nax_open", status));
    const bool port_fault = status == NAX_ERR_SERIAL_OPEN || status == NAX_ERR_SERIAL_CONFIG ||
                            status == NAX_ERR_BAD_BAUD_RATE;
    throw NaxError("nax_open",
                   status == NAX_OK ? static_cast<uint32_t>(NAX_ERR_INVALID_ARG) : status,
                   target.serial && port_fault ? serial_open_detail(target.path) : "");
  }
  link_ = static_cast<int32_t>(id);
  check(nax_set_rcv_timeout(link_, static_cast<int32_t>(options_.timeout_ms)),
        "nax_set_rcv_timeout");
}

void Session::accept_link() {
  uint32_t status = 0;
  nax_set_listen_limits(kMaxUnclaimed, kClaimTimeoutMs);
  nax_listen(&status, options_.listen_port, static_cast<int32_t>(options_.timeout_ms), this,
             on_conn);
  check(status, "nax_listen");
  listening_ = true;
  uint32_t id = 0;
  uint16_t node = options_.expect_node;
  uint16_t port = options_.listen_port;
  const uint32_t status_accept =
      nax_accept(&id, &node, &port, static_cast<uint8_t>(options_.protocol), options_.source,
                 options_.accept_timeout_ms, static_cast<int32_t>(options_.timeout_ms));
  if (status_accept != NAX_OK && options_.expect_node != 0) {
    // The claim fails without saying which node came: claim whatever waits on the port,
    // read its number, and name it.  naxctl ends here anyway, closing that link too.
    uint32_t other_id = 0;
    uint16_t other_node = 0;
    if (nax_accept(&other_id, &other_node, &port, static_cast<uint8_t>(options_.protocol),
                   options_.source, 200, static_cast<int32_t>(options_.timeout_ms)) == NAX_OK) {
      nax_close(static_cast<int32_t>(other_id));
      // Scanning ends with 1059 at its time-out; the cause was the number, as 1057 says.
      throw NaxError("nax_accept", NAX_ERR_NODE_NUMBER,
                     "node " + std::to_string(other_node) + " connected, not node " +
                         std::to_string(options_.expect_node));
    }
  }
  if (status_accept == NAX_ERR_NO_SUCH_LINK) {
    // Scanning for any waiting link ends with "beyond every id" when none came.
    throw NaxError("nax_accept", status_accept,
                   "no node connected to port " + std::to_string(options_.listen_port) +
                       " within " + std::to_string(options_.accept_timeout_ms) + " ms");
  }
  check(status_accept, "nax_accept");
  link_ = static_cast<int32_t>(id);
  if (!options_.node_given) node_ = node;
  // A claimed link starts without callbacks; the node may report from now on.
  check(nax_set_callback_args(link_, this), "nax_set_callback_args");
  check(nax_set_user_callback(link_, on_user), "nax_set_user_callback");
  check(nax_set_aux_input_callback(link_, on_aux), "nax_set_aux_input_callback");
  check(nax_set_conn_callback(link_, on_conn), "nax_set_conn_callback");
}

void Session::close() {
  if (link_ != 0) {
    nax_close(link_);  // a link the node dropped is gone already; nothing to report then
    link_ = 0;
  }
  if (listening_) {
    nax_close_listen(1);
    listening_ = false;
  }
  if (initialised_) {
    nax_uninit();
    initialised_ = false;
  }
}

bool Session::next_event(Event& out, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                         [this] { return !events_.empty(); })) {
    return false;
  }
  out = events_.front();
  events_.pop_front();
  return true;
}

void Session::push(const Event& event) {
  // Notified under the lock: the main thread may end the session as soon as it
  // sees the event, and the condition variable must outlive the notify.
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.size() >= kMaxQueuedEvents) return;
  events_.push_back(event);
  arrived_.notify_one();
}

void Session::set_user_hook(UserHook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  user_hook_ = std::move(hook);
}

void NAX_CALL Session::on_user(void* args, int32_t link, uint32_t node, nax_user_event* event) {
  auto* self = static_cast<Session*>(args);
  UserHook hook;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    hook = self->user_hook_;
  }
  if (hook) hook(link, node, *event);
  Event e;
  e.kind = Event::Kind::User;
  e.link = link;
  e.node = node;
  e.user = *event;
  self->push(e);
}

void NAX_CALL Session::on_aux(void* args, int32_t link, uint32_t node, nax_aux_input_event* event) {
  auto* self = static_cast<Session*>(args);
  Event e;
  e.kind = Event::Kind::Aux;
  e.link = link;
  e.node = node;
  e.aux = *event;
  self->push(e);
}

void NAX_CALL Session::on_conn(void* args, int32_t link, uint32_t state) {
  auto* self = static_cast<Session*>(args);
  Event e;
  e.kind = Event::Kind::Conn;
  e.link = link;
  e.conn_state = state;
  self->push(e);
}

}  // namespace naxctl
