#include "update/http_get.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <fcntl.h>
#include <memory>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrel {
namespace {

constexpr std::size_t kBufferSize = 2048;
constexpr std::int64_t kWaitLimitMs = 10000;
constexpr std::string_view kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; en)";

struct UrlParts {
  std::string host;
  std::string port = "80";
  std::string path = "/";
};

UrlParts SplitUrl(std::string_view url) {
  UrlParts parts;
  if (const auto scheme = url.find("://"); scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  const auto siteEnd = url.find_first_of("/?#");
  std::string_view site = url.substr(0, siteEnd);
  std::string_view rest = siteEnd == std::string_view::npos ? std::string_view() : url.substr(siteEnd);
  if (const auto colon = site.rfind(':'); colon != std::string_view::npos) {
    const std::string_view port = site.substr(colon + 1);
    int number = 0;
    const auto result = std::from_chars(port.data(), port.data() + port.size(), number);
    if (result.ec == std::errc() && number > 0 && number < 65536) parts.port = std::to_string(number);
    site = site.substr(0, colon);
  }
  parts.host = std::string(site);
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  rest = rest.substr(0, rest.find_first_of("?#"));
  parts.path += std::string(rest);
  return parts;
}

// Connects within the deadline; an invalid descriptor when that fails.
UniqueFd Connect(const UrlParts& parts, std::int64_t deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(parts.host.c_str(), parts.port.c_str(), &hints, &list) != 0) return {};
  const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> found(list, freeaddrinfo);
  UniqueFd result;
  for (addrinfo* at = found.get(); at != nullptr && !result.Valid(); at = at->ai_next) {
    UniqueFd fd(socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol));
    if (!fd.Valid()) continue;
    if (connect(fd.Get(), at->ai_addr, at->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      pollfd waiting{fd.Get(), POLLOUT, 0};
      const auto left = deadline - MonotonicMilliseconds();
      if (left <= 0 || poll(&waiting, 1, static_cast<int>(left)) != 1) continue;
      int error = 0;
      socklen_t size = sizeof error;
      if (getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) continue;
    }
    result = std::move(fd);
  }
  return result;
}

bool SendAll(int fd, std::string_view text, std::int64_t deadline) {
  while (!text.empty()) {
    const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      text.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    pollfd waiting{fd, POLLOUT, 0};
    const auto left = deadline - MonotonicMilliseconds();
    if (left <= 0 || poll(&waiting, 1, static_cast<int>(left)) < 0) return false;
  }
  return true;
}

// Waits for the first data within the limit, then receives until the server
// closes, an error, a full buffer, or the limit: a server that stops sending
// without closing cannot hold the caller.
std::string Receive(int fd, std::int64_t started) {
  std::string buffer(kBufferSize, '\0');
  std::size_t used = 0;
  bool arrived = false;
  while (used < kBufferSize) {
    const auto left = started + kWaitLimitMs - MonotonicMilliseconds();
    if (left <= 0) break;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, arrived ? static_cast<int>(left) : std::min<int>(20, static_cast<int>(left)));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    arrived = true;
    const ssize_t got = recv(fd, buffer.data() + used, kBufferSize - used, 0);
    if (got <= 0) {
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      break;
    }
    used += static_cast<std::size_t>(got);
  }
  buffer.resize(used);
  if (const auto zero = buffer.find('\0'); zero != std::string::npos) buffer.resize(zero);
  return buffer;
}

}  // namespace

std::string HttpGetBodyPrefix(std::string_view url, std::string_view agent) {
  if (url.empty()) return {};
  const UrlParts parts = SplitUrl(url);
  if (parts.host.empty()) return {};
  if (agent.empty()) agent = kDefaultAgent;

  const std::int64_t started = MonotonicMilliseconds();
  UniqueFd fd = Connect(parts, started + kWaitLimitMs);
  if (!fd.Valid()) return {};
  const std::string request = "GET " + parts.path + " HTTP/1.0\r\nHost: " + parts.host +
                              "\r\nAccept: */*\r\nUser-Agent: " + std::string(agent) +
                              "\r\nConnection: close\r\n\r\n";
  if (!SendAll(fd.Get(), request, started + kWaitLimitMs)) return {};
  const std::string text = Receive(fd.Get(), MonotonicMilliseconds());
  fd.Reset();

  const auto headerEnd = text.find("\r\n\r\n");
  if (headerEnd == std::string::npos) return {};
  const std::string_view rest = std::string_view(text).substr(headerEnd + 4);
  const std::string_view body = TrimBlanks(rest.substr(0, rest.find("\r\n\r\n")));
  return std::string(body.substr(0, 3));
}

}  // namespace kestrel
