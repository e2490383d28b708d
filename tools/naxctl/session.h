// One link to one node for the length of a command: opened by connection string, or
// claimed from a node that connected in; closed and the library shut down at the end.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "vedodiroz.h"

namespace naxctl {

struct Options {
  std::string conn;
  int protocol = 2;
  uint16_t source = 0x0100;
  uint16_t node = 1;
  bool node_given = false;
  uint32_t timeout_ms = 3000;  // receive time-out, and the open time-out of a connection
  bool json = false;
  std::string log_path;
  int log_level = -1;  // -1: 3 when a log path is given, else no log
  // naxctl listen PORT ...
  bool listen = false;
  uint16_t listen_port = 0;
  uint32_t accept_timeout_ms = 10000;
  uint16_t expect_node = 0;
};

// A status other than success from one of the library's functions.
class NaxError : public std::runtime_error {
 public:
  // detail, when given, follows in parentheses: which record failed, how far it got.
  NaxError(const std::string& function, uint32_t status, const std::string& detail = "");
  uint32_t status() const { return status_; }

 private:
  uint32_t status_;
};

// A fault in what the operator typed (exit status 2), found before or by the library.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The operator stopped a command (Ctrl-C): the link is closed in order, and naxctl
// exits with exit_status (128 + the signal's number).
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int exit_status)
      : std::runtime_error("interrupted"), exit_status_(exit_status) {}
  int exit_status() const { return exit_status_; }

 private:
  int exit_status_;
};

// A connection string as naxctl checks it before the library sees it.
struct ConnTarget {
  std::string device;  // before the separator
  bool serial = false;
  std::string path;   // serial: the device file opened
  std::string error;  // empty when the string is acceptable
};
ConnTarget parse_conn(const std::string& conn);

// "nax_get_time: 1026 no answer within the link's receive time-out"; node statuses with
// their meaning for that function ("nax_add_user: 5 the user already exists").
std::string status_message(const std::string& function, uint32_t status);
// Throws NaxError unless status is NAX_OK.
void check(uint32_t status, const char* function);

// Something the node reported by itself, or a change of the connection.
struct Event {
  enum class Kind { User, Aux, Conn };
  Kind kind = Kind::User;
  int32_t link = 0;
  uint32_t node = 0;
  nax_user_event user{};
  nax_aux_input_event aux{};
  uint32_t conn_state = 0;
};

class Session {
 public:
  using UserHook = std::function<void(int32_t link, uint32_t node, const nax_user_event&)>;

  explicit Session(Options options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // nax_init, then nax_open or nax_listen with nax_accept.  Throws NaxError.
  void open();
  // Closes the link and the listener and shuts the library down; safe to repeat.
  void close();

  const Options& options() const { return options_; }
  bool json() const { return options_.json; }
  int32_t link() const { return link_; }
  uint16_t node() const { return node_; }
  int protocol() const { return options_.protocol; }

  // Runs on the link's reception thread for each user event, before the event is queued.
  // It may answer the event (nax_answer_user_event only sends).
  void set_user_hook(UserHook hook);

  // The oldest event not yet taken; false when none arrived within timeout_ms.
  bool next_event(Event& out, uint32_t timeout_ms);

 private:
  static void NAX_CALL on_user(void* args, int32_t link, uint32_t node, nax_user_event* event);
  static void NAX_CALL on_aux(void* args, int32_t link, uint32_t node, nax_aux_input_event* event);
  static void NAX_CALL on_conn(void* args, int32_t link, uint32_t state);
  void push(const Event& event);
  void open_link();
  void accept_link();

  Options options_;
  bool initialised_ = false;
  bool listening_ = false;
  int32_t link_ = 0;
  uint16_t node_ = 1;
  UserHook user_hook_;

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Event> events_;
};

}  // namespace naxctl
