// Marks: downloaded page by page into the database, deleted on the node only after they
// committed, and published from the database until the broker acknowledged each one.
#include <algorithm>

#include "gateway.h"
#include "log.h"

namespace naxgw {

namespace {

constexpr std::size_t kOutboxBatch = 500;
constexpr auto kAckWait = std::chrono::seconds(10);

}  // namespace

void Gateway::stored(Worker& w, const nax_mark* marks, std::size_t count, uint64_t cursor) {
  if (!store_->store(w.cfg.name, marks, count, cursor).empty()) {
    std::lock_guard<std::mutex> lock(outbox_mutex_);
    outbox_wake_ = true;
    outbox_cv_.notify_all();
  }
}

uint32_t Gateway::download_marks(Worker& w) {
  std::string error;
  uint32_t status = NAX_OK;
  try {
    status = w.cfg.protocol == 1 ? download_p1(w) : download_p2(w);
  } catch (const StoreError& e) {
    error = std::string("marks not stored: ") + e.what();
  }
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(w.status_mutex);
    changed = w.error != error;
    w.error = error;
  }
  if (changed) {
    if (error.empty()) {
      log_info(w.cfg.name + ": marks stored again");
    } else {
      log_error(w.cfg.name + ": " + error);
    }
    publish_status(w);
  }
  return status;
}

uint32_t Gateway::download_p2(Worker& w) {
  const bool remove = config_.marks.delete_after_store;
  const int32_t link = w.link.load();
  uint64_t cursor = remove ? 0 : store_->cursor(w.cfg.name);
  std::vector<nax_mark> page(config_.marks.page);
  uint16_t stored_count = 0;
  uint32_t status = 0;
  if (cursor > 0) {
    // The mark before the cursor must be one already stored; if not, the log was emptied
    // or replaced behind the gateway's back, and is read again from its start.
    status = nax_list_marks(link, w.cfg.node, static_cast<uint32_t>(cursor - 1), 1, page.data(),
                            &stored_count);
    if (status != NAX_OK && status != 8) return status;
    if (stored_count == 0 || !store_->contains(w.cfg.name, page[0])) cursor = 0;
  }
  bool beyond_index = false;
  for (;;) {
    if (cursor > 0xFFFF) {
      beyond_index = true;  // positions travel in 16 bits
      break;
    }
    status = nax_list_marks(link, w.cfg.node, static_cast<uint32_t>(cursor),
                            static_cast<uint16_t>(page.size()), page.data(), &stored_count);
    if (status != NAX_OK && status != 8) return status;
    stored_count = std::min<uint16_t>(stored_count, static_cast<uint16_t>(page.size()));
    if (stored_count > 0) {
      cursor += stored_count;
      stored(w, page.data(), stored_count, remove ? 0 : cursor);
    }
    if (status == 8 || stored_count == 0) break;
  }
  const std::string warning =
      beyond_index && !remove
          ? "the node holds more marks than its 16-bit index reaches (65535); the rest stay "
            "unread until its log is emptied (marks.delete_after_store)"
          : "";
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(w.status_mutex);
    changed = w.warning != warning;
    w.warning = warning;
  }
  if (changed) {
    if (!warning.empty()) log_warning(w.cfg.name + ": " + warning);
    publish_status(w);
  }
  // Only now, with every mark read committed, may the node forget them.  Marks the node
  // took since are behind them in its log and stay.
  while (remove && cursor > 0) {
    const auto count = static_cast<uint16_t>(std::min<uint64_t>(cursor, 0xFFFF));
    uint16_t deleted = 0;
    status = nax_del_records(link, w.cfg.node, config_.marks.table, count, &deleted);
    if (status != NAX_OK) return status;
    if (deleted == 0) break;
    cursor -= std::min<uint64_t>(cursor, deleted);
  }
  return NAX_OK;
}

// Protocol 1 reads the log one mark at a time from its start; the cursor says how many of
// the first ones are stored already.
uint32_t Gateway::download_p1(Worker& w) {
  const int32_t link = w.link.load();
  const uint64_t skip = store_->cursor(w.cfg.name);
  std::vector<nax_mark> batch;
  uint64_t position = 0;
  auto flush = [&] {
    if (batch.empty()) return;
    stored(w, batch.data(), batch.size(), position);
    batch.clear();
  };
  nax_mark mark{};
  uint16_t got = 0;
  uint32_t status = nax_list_marks(link, w.cfg.node, 0, 1, &mark, &got);
  while (status == NAX_OK && got == 1) {
    if (position >= skip) batch.push_back(mark);
    ++position;
    if (batch.size() >= config_.marks.page) flush();
    status = nax_list_marks(link, w.cfg.node, 1, 1, &mark, &got);
  }
  flush();
  if (status != 21 && status != 8 && status != NAX_OK) return status;
  if (position < skip) {
    // The log is shorter than what was stored from it: it was emptied; start over.
    store_->set_cursor(w.cfg.name, 0);
    return download_p1(w);
  }
  return NAX_OK;
}

void Gateway::acknowledged(int mid) {
  std::lock_guard<std::mutex> lock(outbox_mutex_);
  const auto it = outbox_pending_.find(mid);
  if (it == outbox_pending_.end()) return;
  outbox_acked_.push_back(it->second);
  outbox_pending_.erase(it);
  if (outbox_pending_.empty()) outbox_cv_.notify_all();
}

// Publishes the stored marks of the nodes this gateway serves, a batch at a time, and
// marks a row published only once the broker acknowledged it: a kill or an outage at any
// moment leaves the rest to be sent again (consumers drop repeats by the mark's key).
// Also keeps the count of dropped events in the gateway's status current.
void Gateway::run_outbox() {
  std::unique_lock<std::mutex> lock(outbox_mutex_);
  while (!stopping_.load()) {
    outbox_cv_.wait_for(lock, std::chrono::seconds(1),
                        [&] { return stopping_.load() || outbox_wake_; });
    outbox_wake_ = false;
    if (stopping_.load()) break;
    lock.unlock();
    {
      bool dropped_changed = false;
      {
        std::lock_guard<std::mutex> g(gateway_mutex_);
        dropped_changed = broker_->dropped_events() != dropped_published_;
      }
      if (dropped_changed) publish_gateway();
    }
    std::vector<std::string> nodes;
    for (const auto& w : workers_) {
      if (w->claimed.load()) nodes.push_back(w->cfg.name);
    }
    std::vector<OutgoingMark> batch;
    if (broker_->connected() && !nodes.empty()) {
      try {
        batch = store_->unpublished(nodes, kOutboxBatch);
      } catch (const StoreError& e) {
        log_warning(std::string("outbox: ") + e.what());
      }
    }
    lock.lock();
    outbox_pending_.clear();
    outbox_acked_.clear();
    for (const OutgoingMark& m : batch) {
      int mid = 0;
      // Under the outbox lock, so that no acknowledgement is looked up before its entry.
      if (!broker_->publish(topic(m.node, "mark"), to_text(m.body), 1, false, nullptr, &mid)) {
        break;
      }
      outbox_pending_[mid] = m.id;
    }
    if (batch.empty()) continue;
    outbox_cv_.wait_for(lock, kAckWait,
                        [&] { return stopping_.load() || outbox_pending_.empty(); });
    std::vector<int64_t> acked;
    acked.swap(outbox_acked_);
    outbox_pending_.clear();
    lock.unlock();
    try {
      store_->set_published(acked);
    } catch (const StoreError& e) {
      log_warning(std::string("outbox: ") + e.what());
    }
    lock.lock();
    // A full batch means more may wait: go again at once.
    if (batch.size() == kOutboxBatch && acked.size() == batch.size()) outbox_wake_ = true;
  }
}

}  // namespace naxgw
