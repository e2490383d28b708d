// The answer wait's choice between watching and blocking.
#include "core/wait_policy.h"

#include <algorithm>

namespace nax {

uint32_t AnswerWaitPolicy::watch_budget_us() {
  switch (mode_) {
    case Mode::watching:
      return std::clamp(2 * estimate_us_, kMinBudgetUs, kMaxBudgetUs);
    case Mode::probing:
      return kProbeBudgetUs;
    case Mode::blocking:
      if (++count_ < kProbeEvery) return 0;
      mode_ = Mode::probing;
      count_ = kProbeRun;
      estimate_us_ = 0;
      return kProbeBudgetUs;
  }
  return 0;
}

void AnswerWaitPolicy::note_watched(uint32_t us) {
  const uint32_t sample = std::max(us, 1u);
  if (estimate_us_ == 0) {
    estimate_us_ = sample;
  } else if (mode_ == Mode::probing) {
    // A probe run is short: follow it closely, so that its end decides.
    estimate_us_ = (estimate_us_ + sample + 1) / 2;
  } else {
    // One slow round trip now and then (the scheduler, another process) must
    // not end watching: each sample moves the estimate by an eighth, at most
    // by kMaxBudgetUs.
    const uint32_t bounded = std::min(sample, estimate_us_ + kMaxBudgetUs);
    estimate_us_ = (7 * estimate_us_ + bounded + 7) / 8;  // rounded up, so it reaches the samples
  }
  if (mode_ == Mode::probing) {
    if (--count_ == 0) end_of_probe_run();
  } else if (mode_ == Mode::watching && estimate_us_ > kLeaveUs) {
    mode_ = Mode::blocking;
    count_ = 0;
  }
}

void AnswerWaitPolicy::note_not_watched() {
  if (mode_ == Mode::probing && --count_ == 0) end_of_probe_run();
}

void AnswerWaitPolicy::end_of_probe_run() {
  const bool quick = estimate_us_ != 0 && estimate_us_ < kEnterUs;
  mode_ = quick ? Mode::watching : Mode::blocking;
  count_ = 0;
}

}  // namespace nax
