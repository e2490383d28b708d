// State of one simulated node and the table of command handlers it answers with.
#include <ctime>

#include "naxsim.h"

namespace naxsim {

namespace {

struct DefaultHandlers {
  std::mutex mutex;
  std::map<std::pair<int, uint16_t>, Handler> table;
};

// Built on first use: family files register from static initialisers in any order.
DefaultHandlers& default_handlers() {
  static DefaultHandlers handlers;
  return handlers;
}

bool is_leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Events from the host that only acknowledge ours; a node does not answer them.
bool is_event_acknowledgement(int protocol, uint16_t cmd) {
  if (protocol == 1) return cmd == kCmdUserEventP1;
  return cmd == kCmdUserEventP2 || cmd == kCmdAuxEventP2;
}

}  // namespace

void register_default_handler(int protocol, uint16_t cmd, Handler handler) {
  DefaultHandlers& defaults = default_handlers();
  std::lock_guard<std::mutex> lock(defaults.mutex);
  defaults.table[{protocol, cmd}] = std::move(handler);
}

void refuse(nax::Packet& answer, int protocol, uint16_t status, uint8_t error) {
  if (protocol == 1) {
    answer.data[0] = kResultRefused;
    answer.data[1] = error;
    answer.size = 2;
  } else {
    answer.status = status;
    answer.size = 0;
  }
}

Node::Node(uint16_t number, int64_t clock_offset_s)
    : number_(number), clock_offset_s_(clock_offset_s) {}

uint16_t Node::number() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return number_;
}

void Node::set_number(uint16_t number) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  number_ = number;
}

int64_t Node::clock_offset_s() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return clock_offset_s_;
}

void Node::set_clock_offset_s(int64_t offset) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  clock_offset_s_ = offset;
}

nax_date_time Node::time() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const time_t now = ::time(nullptr) + static_cast<time_t>(clock_offset_s_);
  struct tm local {};
  localtime_r(&now, &local);
  nax_date_time dt{};
  dt.hour = static_cast<uint8_t>(local.tm_hour);
  dt.minute = static_cast<uint8_t>(local.tm_min);
  dt.second = static_cast<uint8_t>(local.tm_sec);
  dt.year = static_cast<uint8_t>(local.tm_year % 100);
  dt.month = static_cast<uint8_t>(local.tm_mon + 1);
  dt.day = static_cast<uint8_t>(local.tm_mday);
  dt.weekday = static_cast<uint8_t>((local.tm_wday + weekday_shift_) % 7);
  return dt;
}

bool Node::set_time(const nax_date_time& time) {
  if (time.hour > 23 || time.minute > 59 || time.second > 59 || time.year > 99 || time.month < 1 ||
      time.month > 12 || time.day < 1 || time.day > days_in_month(2000 + time.year, time.month)) {
    return false;
  }
  struct tm local {};
  local.tm_sec = time.second;
  local.tm_min = time.minute;
  local.tm_hour = time.hour;
  local.tm_mday = time.day;
  local.tm_mon = time.month - 1;
  local.tm_year = 100 + time.year;
  local.tm_isdst = -1;
  const time_t wanted = mktime(&local);
  if (wanted == static_cast<time_t>(-1)) return false;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  clock_offset_s_ = static_cast<int64_t>(wanted) - static_cast<int64_t>(::time(nullptr));
  // Keep counting the weekday the way the host does, whatever its first day is.
  weekday_shift_ = ((time.weekday - local.tm_wday) % 7 + 7) % 7;
  return true;
}

void Node::register_handler(int protocol, uint16_t cmd, Handler handler) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (handler) {
    handlers_[{protocol, cmd}] = std::move(handler);
  } else {
    handlers_.erase({protocol, cmd});
  }
}

Handler Node::find_handler(int protocol, uint16_t cmd) const {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto own = handlers_.find({protocol, cmd});
    if (own != handlers_.end()) return own->second;
  }
  DefaultHandlers& defaults = default_handlers();
  std::lock_guard<std::mutex> lock(defaults.mutex);
  auto found = defaults.table.find({protocol, cmd});
  return found == defaults.table.end() ? Handler() : found->second;
}

bool Node::handle(const nax::Packet& request, nax::Packet& answer, int protocol) {
  answer.sou_node = request.des_node;
  answer.des_node = request.sou_node;
  answer.cmd = request.cmd;
  answer.size = 0;
  answer.status = kStatusDone;
  // Called without the node's lock, so a handler may take it through the node's methods.
  if (Handler handler = find_handler(protocol, request.cmd)) {
    return handler(*this, request, answer, protocol);
  }
  if (is_event_acknowledgement(protocol, request.cmd)) return false;
  refuse(answer, protocol, kStatusUnknownCommand, kErrorUnknownCommand);
  return true;
}

}  // namespace naxsim
