// Events of the nodes, and the answers to user events: each event carries an id nobody
// can guess, and only a reply carrying it, in time, decides whether a door opens.
#include <sys/random.h>

#include <algorithm>

#include "gateway.h"
#include "log.h"

namespace naxgw {

using std::chrono::milliseconds;

namespace {

// 128 bits from the kernel's cryptographic source, as 32 lowercase hex digits.
std::string unguessable_id() {
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  static const char digits[] = "0123456789abcdef";
  std::string id;
  for (const unsigned char b : bytes) {
    id += digits[b >> 4];
    id += digits[b & 15];
  }
  return id;
}

void copy_field(char* out, std::size_t capacity, const std::string& text) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, out);
  out[n] = '\0';
}

}  // namespace

void Gateway::on_user(void* args, int32_t link, uint32_t node, nax_user_event* event) {
  auto* w = static_cast<Worker*>(args);
  if (!w || !event) return;
  Gateway& self = *w->gateway;
  json body = user_event_to_json(*event);
  body["node"] = node;
  if (w->cfg.answer) {
    PendingAnswer pending;
    pending.worker = w;
    pending.link = link;
    pending.node = node;
    pending.event = *event;
    pending.deadline = Clock::now() + milliseconds(w->cfg.answer->timeout_ms);
    const std::string id = unguessable_id();
    {
      std::lock_guard<std::mutex> lock(self.answers_mutex_);
      self.answers_[id] = pending;
    }
    body["answer_id"] = id;
    self.answers_cv_.notify_all();
  }
  self.broker_->publish_event(self.topic(w->cfg.name, "event/user"), to_text(body));
}

void Gateway::on_aux(void* args, int32_t, uint32_t node, nax_aux_input_event* event) {
  auto* w = static_cast<Worker*>(args);
  if (!w || !event) return;
  json body = aux_event_to_json(*event);
  body["node"] = node;
  w->gateway->broker_->publish_event(w->gateway->topic(w->cfg.name, "event/aux"), to_text(body));
}

// Answers each user event once: with the reply that came on MQTT, or with the node's
// configured default when none came in time.
void Gateway::run_answers() {
  std::unique_lock<std::mutex> lock(answers_mutex_);
  while (!stopping_.load()) {
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    std::vector<PendingAnswer> due;
    for (auto it = answers_.begin(); it != answers_.end();) {
      if (it->second.replied || it->second.deadline <= now) {
        due.push_back(std::move(it->second));
        it = answers_.erase(it);
      } else {
        next = std::min(next, it->second.deadline);
        ++it;
      }
    }
    if (due.empty()) {
      if (next == Clock::time_point::max()) {
        answers_cv_.wait(lock);
      } else {
        answers_cv_.wait_until(lock, next);
      }
      continue;
    }
    lock.unlock();
    for (const PendingAnswer& p : due) send_answer(p, p.replied ? &p.reply : nullptr);
    lock.lock();
  }
}

void Gateway::send_answer(const PendingAnswer& pending, const json* reply) {
  const AnswerConfig& fallback = *pending.worker->cfg.answer;
  nax_user_event_answer answer{};
  answer.date_time = local_now();
  answer.user.mask = NAX_USER_ID | NAX_USER_ST;
  answer.user.id = pending.event.id;
  uint8_t st = fallback.st;
  std::string text1 = fallback.text1;
  std::string text2 = fallback.text2;
  if (reply) {
    try {
      st = static_cast<uint8_t>(get_uint(*reply, "st", 0xFF, fallback.st));
      if (reply->contains("text1")) text1 = get_text(*reply, "text1", 254);
      if (reply->contains("text2")) text2 = get_text(*reply, "text2", 254);
      if (reply->contains("print")) {
        if (!(*reply)["print"].is_boolean()) throw BadRequest("field \"print\" must be a boolean");
        answer.print_enable = (*reply)["print"].get<bool>() ? 1 : 0;
      }
      if (reply->contains("aux")) {
        const json& lines = get_array(*reply, "aux", 10);
        char* fields[] = {answer.aux0, answer.aux1, answer.aux2, answer.aux3, answer.aux4,
                          answer.aux5, answer.aux6, answer.aux7, answer.aux8, answer.aux9};
        for (std::size_t i = 0; i < lines.size(); ++i) {
          if (!lines[i].is_string()) throw BadRequest("aux lines must be strings");
          copy_field(fields[i], sizeof answer.aux0, lines[i].get<std::string>());
        }
      }
    } catch (const BadRequest& e) {
      log_warning(pending.worker->cfg.name + ": answer refused (" + e.what() + "); default sent");
      answer = nax_user_event_answer{};
      answer.date_time = local_now();
      answer.user.mask = NAX_USER_ID | NAX_USER_ST;
      answer.user.id = pending.event.id;
      st = fallback.st;
      text1 = fallback.text1;
      text2 = fallback.text2;
    }
  }
  answer.user.st = st;
  if (!text1.empty()) {
    answer.user.mask |= NAX_USER_TEXT1;
    copy_field(answer.user.text1, sizeof answer.user.text1, text1);
  }
  if (!text2.empty()) {
    answer.user.mask |= NAX_USER_TEXT2;
    copy_field(answer.user.text2, sizeof answer.user.text2, text2);
  }
  nax_answer_user_event(pending.link, static_cast<uint16_t>(pending.node), &answer);
}

}  // namespace naxgw
