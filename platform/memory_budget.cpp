#include "platform/memory_budget.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace kestrel {
namespace {

constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kFreshForMilliseconds = 100;

// The first number of a one-line file such as memory.max ("max" means no limit).
std::optional<std::uint64_t> NumberIn(const std::string& path) {
  std::ifstream file(path);
  std::string word;
  if (!(file >> word) || word.empty() || word.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stoull(word);
}

std::uint64_t MemAvailableBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string name;
  std::uint64_t kib = 0;
  std::string unit;
  while (meminfo >> name >> kib >> unit) {
    if (name == "MemAvailable:") return kib * 1024;
  }
  return kUnknown;
}

// What the control group still allows: its limit less its use (v2 and v1).
std::uint64_t ControlGroupRoomBytes() {
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  std::uint64_t room = kUnknown;
  while (std::getline(groups, line)) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    std::optional<std::uint64_t> limit, used;
    if (controllers.empty()) {
      limit = NumberIn("/sys/fs/cgroup" + path + "/memory.max");
      used = NumberIn("/sys/fs/cgroup" + path + "/memory.current");
    } else if (controllers == "memory") {
      limit = NumberIn("/sys/fs/cgroup/memory" + path + "/memory.limit_in_bytes");
      used = NumberIn("/sys/fs/cgroup/memory" + path + "/memory.usage_in_bytes");
    }
    if (limit && used) room = std::min(room, *limit > *used ? *limit - *used : 0);
  }
  return room;
}

}  // namespace

std::uint64_t AvailableMemoryBytes() {
  // A batch asks before every file, some hundred times a second; what it
  // reads changes little within a tenth of a second, and each reading costs
  // a few files' worth of parsing.
  static std::mutex lock;
  static std::int64_t readAt = 0;
  static std::uint64_t available = 0;
  const std::lock_guard hold(lock);
  const std::int64_t now = MonotonicMilliseconds();
  if (readAt == 0 || now - readAt >= kFreshForMilliseconds) {
    const std::uint64_t room = std::min(MemAvailableBytes(), ControlGroupRoomBytes());
    available = room == kUnknown ? 0 : room;
    readAt = now;
  }
  return available;
}

std::string MemorySizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = 1ull << 20;
  constexpr std::uint64_t kGiB = 1024 * kMiB;
  if (bytes < kMiB) return std::to_string((bytes + 512) / 1024) + " KB";
  if (bytes < kGiB) return std::to_string((bytes + kMiB / 2) / kMiB) + " MB";
  const std::uint64_t tenths = (bytes * 10 + kGiB / 2) / kGiB;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) {
    text += '.';
    text += std::to_string(tenths % 10);
  }
  text += " GB";
  return text;
}

}  // namespace kestrel
