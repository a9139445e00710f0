#pragma once
// One running program per user session: a second start brings the running
// window to the front and ends, instead of making a second reader that talks
// over the first on every F1.

#include <memory>

namespace zandrel {

// Held while the program runs; dropping it lets the next start run.
class InstanceClaim {
 public:
  virtual ~InstanceClaim() = default;
};

// This start's claim, or nullptr when the program already runs in this
// session (its window has then been asked to come to the front). A claim
// that cannot be checked (no private place for the lock) lets the program run.
// One definition per platform.
std::unique_ptr<InstanceClaim> claimSingleInstance();

}  // namespace zandrel
