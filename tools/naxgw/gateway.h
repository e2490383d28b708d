// The gateway: one worker thread per configured node keeps its link up and serialises
// everything sent to it (MQTT commands, mark downloads, clock sync); events arrive on the
// library's reception threads and go straight to the broker; marks go from the database
// to the broker through the outbox.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "mqtt.h"
#include "records.h"
#include "store.h"

namespace naxgw {

using Clock = std::chrono::steady_clock;

struct Request {
  std::string command;
  json args;
  std::string reply_to;
  json correlation;              // echoed in the reply's body when the request had one
  std::string correlation_data;  // MQTT 5 property
  bool has_correlation_data = false;
};

// Where a node's worker stands with its link.
enum class LinkState {
  unclaimed,   // another gateway serves the node (or the database cannot say yet)
  waiting,     // between attempts (back-off), or for a node to connect in
  connecting,  // opening the link and proving it with a clock read
  online,      // serving commands, checks and mark downloads
};

class Gateway;

struct Worker {
  Gateway* gateway = nullptr;
  NodeConfig cfg;
  bool connects_in = false;
  std::thread thread;
  std::atomic<int32_t> link{0};
  std::atomic<bool> online{false};
  std::atomic<bool> claimed{false};

  std::mutex mutex;  // guards what follows up to the status fields
  std::condition_variable cv;
  std::deque<Request> requests;
  int32_t offered = 0;  // a link the listener claimed for this node
  bool lost = false;
  uint32_t lost_status = 0;

  std::mutex status_mutex;  // guards the retained status
  std::string state = "offline";
  std::string since;
  uint32_t status = 0;
  std::string warning;  // e.g. marks beyond the node's 16-bit index
  std::string error;    // e.g. marks that could not be stored

  // The worker thread's own.
  LinkState link_state = LinkState::unclaimed;
  uint32_t backoff = 0;
  int silent = 0;  // commands in a row without an answer
  Clock::time_point retry_at, next_marks, next_check;
  std::mt19937 rng{std::random_device{}()};
};

class Gateway {
 public:
  explicit Gateway(Config config);  // opens the database; throws StoreError
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Starts the library, the broker client, the workers and the listener.  Throws
  // std::runtime_error with the reason when something cannot start.
  void start();
  // Closes every link, says offline for every node and for itself, hands over what is
  // queued for the broker (up to mqtt.stop_timeout_ms) and disconnects.
  void stop();

 private:
  struct PendingAnswer {
    Worker* worker = nullptr;
    int32_t link = 0;
    uint32_t node = 0;
    nax_user_event event{};
    Clock::time_point deadline;
    bool replied = false;
    json reply;
  };

  // gateway.cc: life cycle and statuses.
  void publish_status(Worker& w);
  void publish_gateway();
  void set_database_error(const std::string& error);
  bool set_state(Worker& w, const char* state, uint32_t status);
  std::string topic(const std::string& name, const std::string& rest) const;

  // worker.cc: links and their states.
  static void on_conn(void* args, int32_t link, uint32_t state);
  static void on_listen_conn(void* args, int32_t link, uint32_t state);
  void run_worker(Worker& w);
  void step_unclaimed(Worker& w);
  void step_waiting(Worker& w);
  void step_connecting(Worker& w);
  void step_online(Worker& w);
  void after_exchange(Worker& w, uint32_t status);
  void schedule_retry(Worker& w);
  void refuse_queued(Worker& w, uint32_t status, const char* why);
  bool still_claimed(Worker& w);
  void run_acceptor();
  bool owns(const Worker& w, int32_t link);
  void claim_link(Worker& w, int32_t link);
  void drop_link(Worker& w, uint32_t status, bool close);

  // routing.cc: what arrives over MQTT, and replies.
  void handle_message(const Incoming& in);
  void handle_answer(Worker& w, const json& body);
  bool reply_topic_allowed(const std::string& topic, const std::string& node);
  void reply(const Request& request, uint32_t status, const json& result,
             const std::string& error = "");
  void run_request(Worker& w, Request& request);

  // answers.cc: user events and their answers.
  static void on_user(void* args, int32_t link, uint32_t node, nax_user_event* event);
  static void on_aux(void* args, int32_t link, uint32_t node, nax_aux_input_event* event);
  void run_answers();
  void send_answer(const PendingAnswer& pending, const json* reply);

  // marks.cc: downloads into the database, and the outbox from it to the broker.
  uint32_t download_marks(Worker& w);
  uint32_t download_p1(Worker& w);
  uint32_t download_p2(Worker& w);
  void stored(Worker& w, const nax_mark* marks, std::size_t count, uint64_t cursor);
  void run_outbox();
  void acknowledged(int mid);

  Config config_;
  std::unique_ptr<Store> store_;
  std::unique_ptr<Broker> broker_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::map<std::string, Worker*> by_name_;
  std::map<uint16_t, Worker*> by_listener_node_;
  std::vector<std::string> filters_;  // what the gateway subscribes to
  std::atomic<bool> stopping_{false};
  bool library_up_ = false;
  bool listening_ = false;
  bool started_ = false;

  std::mutex gateway_mutex_;  // the gateway's own status
  std::string gateway_state_ = "online";
  std::string gateway_since_;
  std::string gateway_reason_;
  std::string database_error_;
  uint64_t dropped_published_ = 0;

  std::mutex retained_mutex_;  // retained requests already logged, by topic
  std::set<std::string> retained_logged_;

  // Which worker holds each link id: the library reuses the id of a freed link at once,
  // so a worker whose id now belongs to another has lost its link.
  std::mutex owners_mutex_;
  std::map<int32_t, Worker*> owners_;

  std::mutex accept_mutex_;
  std::condition_variable accept_cv_;
  std::deque<int32_t> incoming_;
  std::thread acceptor_;

  std::mutex answers_mutex_;
  std::condition_variable answers_cv_;
  std::map<std::string, PendingAnswer> answers_;
  std::thread answerer_;

  std::mutex outbox_mutex_;
  std::condition_variable outbox_cv_;
  bool outbox_wake_ = false;
  std::map<int, int64_t> outbox_pending_;  // broker message id -> mark row
  std::vector<int64_t> outbox_acked_;
  std::thread outbox_;
};

}  // namespace naxgw
