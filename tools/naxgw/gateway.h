// The gateway: one worker thread per configured node keeps its link up and serialises
// everything sent to it (MQTT commands, mark downloads, clock sync); events arrive on the
// library's reception threads and go straight to the broker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "mqtt.h"
#include "records.h"
#include "store.h"

namespace naxgw {

class Gateway {
 public:
  explicit Gateway(Config config);  // opens the database; throws StoreError
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  // Starts the library, the broker client, the workers and the listener.  Throws
  // std::runtime_error with the reason when something cannot start.
  void start();
  // Closes every link, says offline for every node and for itself, disconnects.
  void stop();

 private:
  struct Worker;
  struct Request {
    std::string command;
    json args;
    std::string reply_to;
    json correlation;              // echoed in the reply's body when the request had one
    std::string correlation_data;  // MQTT 5 property
    bool has_correlation_data = false;
  };
  struct PendingAnswer {
    Worker* worker = nullptr;
    int32_t link = 0;
    uint32_t node = 0;
    nax_user_event event{};
    std::chrono::steady_clock::time_point deadline;
    bool replied = false;
    json reply;
  };

  static void on_user(void* args, int32_t link, uint32_t node, nax_user_event* event);
  static void on_aux(void* args, int32_t link, uint32_t node, nax_aux_input_event* event);
  static void on_conn(void* args, int32_t link, uint32_t state);
  static void on_listen_conn(void* args, int32_t link, uint32_t state);

  void handle_message(const Incoming& in);
  void reply(const Request& request, uint32_t status, const json& result,
             const std::string& error = "");
  void publish_status(Worker& w);
  void publish_gateway(const char* state);
  void run_worker(Worker& w);
  void run_acceptor();
  void run_answers();
  void send_answer(const PendingAnswer& pending, const json* reply);
  uint32_t download_marks(Worker& w);
  uint32_t download_p1(Worker& w);
  uint32_t download_p2(Worker& w);
  void publish_marks(Worker& w, const std::vector<nax_mark>& marks);
  bool owns(const Worker& w, int32_t link);
  void claim(Worker& w, int32_t link);
  void drop_link(Worker& w, uint32_t status, bool close);
  std::string topic(const std::string& name, const std::string& rest) const;

  Config config_;
  Store store_;
  std::unique_ptr<Broker> broker_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::map<std::string, Worker*> by_name_;
  std::map<uint16_t, Worker*> by_listener_node_;
  std::atomic<bool> stopping_{false};
  bool library_up_ = false;
  bool listening_ = false;
  bool started_ = false;

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
  std::map<uint64_t, PendingAnswer> answers_;
  uint64_t next_answer_id_ = 1;
  std::thread answerer_;
};

}  // namespace naxgw
