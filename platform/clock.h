// Clocks and random numbers.
#pragma once

#include <cstdint>

namespace kestrel {

// Seconds since 1970-01-01 00:00:00 of the local wall clock (local time read
// as if it were UTC), the form in which dates are stored in settings.
std::int64_t LocalNowSeconds();
// A monotonic millisecond clock.
std::int64_t MonotonicMilliseconds();
// A uniformly drawn integer in [low, high]; safe to call from any thread.
int UniformRandom(int low, int high);

}  // namespace kestrel
