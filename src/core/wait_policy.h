// How a command waits for its answer on one link.
//
// Watching the mailbox from the start costs the waiter's core for as long as
// the answer takes; blocking costs a wake-up of the waiter on top of the
// reception thread's.  Where cores fall idle between round trips, as on most
// virtual machines, each such wake-up can cost more CPU than a quick node
// takes to answer, and a watching waiter also keeps its core awake for the
// threads that deliver the answer.  So a link watches while its watched
// round trips (send to hand-off) stay short, and blocks otherwise.  A
// blocking link probes now and then with a short run of watched waits, long
// enough for the scheduler to settle, and watches again if they were quick.
#pragma once

#include <cstdint>

namespace nax {

class AnswerWaitPolicy {
 public:
  static constexpr uint32_t kEnterUs = 40;      // a probe run quicker than this: watch
  static constexpr uint32_t kLeaveUs = 60;      // watched round trips slower than this: block
  static constexpr uint32_t kProbeRun = 8;      // watched waits in a probe run
  static constexpr uint32_t kProbeEvery = 256;  // blocked waits between probe runs
  static constexpr uint32_t kProbeBudgetUs = 100;
  static constexpr uint32_t kMinBudgetUs = 40;
  static constexpr uint32_t kMaxBudgetUs = 200;

  // How long the next wait watches before it blocks, in microseconds; 0 to
  // block at once.
  uint32_t watch_budget_us();
  // The outcome of a wait that watched from the start: the time from the
  // send to the hand-off of its answer, whether the watch saw it or not.
  void note_watched(uint32_t send_to_handoff_us);
  // A wait that was to watch but found no core free for watching.
  void note_not_watched();

  bool watching() const { return mode_ == Mode::watching; }
  uint32_t estimate_us() const { return estimate_us_; }

 private:
  enum class Mode : uint8_t { probing, watching, blocking };
  void end_of_probe_run();

  Mode mode_ = Mode::probing;   // a new link finds out first
  uint32_t estimate_us_ = 0;    // smoothed watched round trip; 0 before the first
  uint32_t count_ = kProbeRun;  // probing: watched waits left; blocking: waits since the last run
};

}  // namespace nax
