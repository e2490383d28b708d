// What arrives over MQTT: commands under the configured policy, answers to user events,
// and the replies, which never go to a topic the gateway itself listens to.
#include <mosquitto.h>

#include <algorithm>

#include "commands.h"
#include "gateway.h"
#include "log.h"

namespace naxgw {

namespace {

constexpr std::size_t kMaxQueued = 256;
constexpr std::size_t kMaxPayload = 64 * 1024;

// The statuses by which a node says a list is complete: the normal end, not a failure.
bool list_complete(const std::string& command, uint32_t status) {
  return (command == "list_users" && (status == 7 || status == 8)) ||
         (command == "list_marks" && (status == 8 || status == 21));
}

}  // namespace

bool Gateway::reply_topic_allowed(const std::string& topic, const std::string& node) {
  std::string why;
  if (topic.size() > 1024 || topic.find('\0') != std::string::npos) {
    why = "too long or not text";
  } else if (topic.find_first_of("+#") != std::string::npos) {
    why = "holds a wildcard";
  } else {
    for (const std::string& filter : filters_) {
      bool matches = false;
      mosquitto_topic_matches_sub(filter.c_str(), topic.c_str(), &matches);
      if (matches) {
        why = "is one the gateway listens to";
        break;
      }
    }
  }
  if (why.empty()) return true;
  log_warning(node + ": request not answered: its reply topic \"" + topic.substr(0, 200) + "\" " +
              why);
  return false;
}

void Gateway::reply(const Request& request, uint32_t status, const json& result,
                    const std::string& error) {
  if (request.reply_to.empty()) return;
  const char* meaning = nax_node_status_text(("nax_" + request.command).c_str(), status);
  json body = {{"status", status},
               {"text", meaning ? meaning : nax_status_text(status)},
               {"result", result}};
  if (list_complete(request.command, status)) body["complete"] = true;
  if (!request.correlation.is_null()) body["correlation"] = request.correlation;
  if (!error.empty()) body["error"] = error;
  broker_->publish(request.reply_to, to_text(body), 1, false,
                   request.has_correlation_data ? &request.correlation_data : nullptr);
}

void Gateway::run_request(Worker& w, Request& request) {
  json result;
  uint32_t status = 0;
  try {
    status = run_command(Target{w.link.load(), w.cfg.node}, request.command, request.args, result);
  } catch (const BadRequest& e) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr, e.what());
    return;
  } catch (const std::exception& e) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr,
          std::string("request not understood: ") + e.what());
    return;
  }
  reply(request, status, result);
  after_exchange(w, status);
}

void Gateway::handle_answer(Worker& w, const json& body) {
  const auto id = body.is_object() ? body.find("answer_id") : body.end();
  if (id == body.end() || !id->is_string()) {
    log_warning(w.cfg.name + ": answer without a valid answer_id ignored");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(answers_mutex_);
    const auto pending = answers_.find(id->get<std::string>());
    if (pending == answers_.end() || pending->second.worker != &w || pending->second.replied) {
      log_warning(w.cfg.name + ": answer for an unknown or expired event ignored");
      return;
    }
    pending->second.replied = true;
    pending->second.reply = body;
  }
  answers_cv_.notify_all();
}

void Gateway::handle_message(const Incoming& in) {
  const std::string head = config_.mqtt.prefix + "/";
  if (in.topic.compare(0, head.size(), head) != 0) return;
  const std::string rest = in.topic.substr(head.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return;
  const auto it = by_name_.find(rest.substr(0, slash));
  if (it == by_name_.end()) return;
  Worker& w = *it->second;
  const std::string kind = rest.substr(slash + 1);
  if (kind != "answer" && kind.compare(0, 4, "cmd/") != 0) return;

  // A retained request would run again at every reconnect of every gateway.
  if (in.retained) {
    std::lock_guard<std::mutex> lock(retained_mutex_);
    if (retained_logged_.insert(in.topic).second) {
      log_warning("retained message on " + in.topic +
                  " not executed (clear it with an empty "
                  "retained message)");
    }
    return;
  }
  // Another gateway serves the node: it answers, this one stays silent.
  if (!w.claimed.load()) return;

  json body =
      in.payload.size() > kMaxPayload
          ? json(json::value_t::discarded)
          : json::parse(in.payload.empty() ? std::string("{}") : in.payload, nullptr, false);
  if (kind == "answer") {
    handle_answer(w, body);
    return;
  }

  Request request;
  request.command = kind.substr(4);
  request.correlation_data = in.correlation;
  request.has_correlation_data = in.has_correlation;
  if (!in.response_topic.empty() && reply_topic_allowed(in.response_topic, w.cfg.name)) {
    request.reply_to = in.response_topic;
  }
  if (body.is_object()) {
    const auto reply_to = body.find("reply_to");
    if (in.response_topic.empty() && reply_to != body.end() && reply_to->is_string() &&
        !reply_to->get<std::string>().empty() &&
        reply_topic_allowed(reply_to->get<std::string>(), w.cfg.name)) {
      request.reply_to = reply_to->get<std::string>();
    }
    const auto correlation = body.find("correlation");
    if (correlation != body.end()) request.correlation = *correlation;
  }

  if (!body.is_object()) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr,
          body.is_discarded() ? "the request is not valid JSON (or larger than 64 KiB)"
                              : "the request must be a JSON object");
    return;
  }
  const std::vector<std::string> names = command_names();
  if (std::find(names.begin(), names.end(), request.command) == names.end()) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr, "unknown command \"" + request.command + "\"");
    return;
  }
  if (config_.allow && std::find(config_.allow->begin(), config_.allow->end(), request.command) ==
                           config_.allow->end()) {
    log_info(w.cfg.name + ": command " + request.command + " refused by [commands] allow");
    reply(request, NAX_ERR_INVALID_ARG, nullptr,
          "command \"" + request.command + "\" is not allowed by [commands] allow");
    return;
  }
  if (!w.online.load()) {
    reply(request, NAX_ERR_LINK_UNAVAILABLE, nullptr, "node offline");
    return;
  }
  request.args = std::move(body);
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.requests.size() >= kMaxQueued) {
      request.args = nullptr;
    } else {
      w.requests.push_back(std::move(request));
      request.reply_to.clear();
    }
  }
  if (!request.reply_to.empty()) {
    reply(request, NAX_ERR_LINK_BUSY, nullptr, "too many requests queued for this node");
    return;
  }
  w.cv.notify_all();
}

}  // namespace naxgw
