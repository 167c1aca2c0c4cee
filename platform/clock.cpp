#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <random>

namespace kestrel {

std::int64_t LocalNowSeconds() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  return static_cast<std::int64_t>(now) + local.tm_gmtoff;
}

std::int64_t MonotonicMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int UniformRandom(int low, int high) {
  static thread_local std::mt19937 engine{std::random_device{}()};
  return std::uniform_int_distribution<int>(low, high)(engine);
}

}  // namespace kestrel
