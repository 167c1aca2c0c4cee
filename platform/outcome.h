// What a step that can fail gives back: nothing when it worked, or why it did
// not, in plain words that can be shown to the user. A failure always carries
// its reason.
#pragma once

#include <string>
#include <utility>

namespace kestrel {

struct [[nodiscard]] Outcome {
  std::string failure;  // empty when the step worked

  explicit operator bool() const { return failure.empty(); }
};

inline Outcome Succeeded() { return {}; }
inline Outcome Failed(std::string why) { return Outcome{std::move(why)}; }

}  // namespace kestrel
