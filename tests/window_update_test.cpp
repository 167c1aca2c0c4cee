// The update check against a server on loopback: the HTTP client, the version
// comparison and the schedule.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "update/http_get.h"
#include "update/update_check.h"

namespace kestrel {
namespace {

// Serves one connection on 127.0.0.1 with the given reply parts, sent with a
// pause between them, then closes. Gives up after a few seconds by itself.
class OneShotServer {
 public:
  explicit OneShotServer(std::vector<std::string> parts) : parts_(std::move(parts)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t size = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneShotServer() {
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  std::string Url(const std::string& path = "/files/kestrel.dat") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The request as received; waits for the server to finish.
  const std::string& Request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  void Serve() {
    pollfd waiting{listener_, POLLIN, 0};
    if (poll(&waiting, 1, 5000) != 1) return;
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[1024];
    while (request_.find("\r\n\r\n") == std::string::npos) {
      pollfd reading{client, POLLIN, 0};
      if (poll(&reading, 1, 5000) != 1) break;
      const ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request_.append(buffer, static_cast<std::size_t>(got));
    }
    for (std::size_t i = 0; i < parts_.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(150));
      send(client, parts_[i].data(), parts_[i].size(), MSG_NOSIGNAL);
    }
    close(client);
  }

  std::vector<std::string> parts_;
  int listener_ = -1;
  int port_ = 0;
  std::string request_;
  std::thread thread_;
};

// A port on loopback that nothing listens on.
std::string ClosedPortUrl() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/files/kestrel.dat";
}

std::string Reply(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body;
}

struct Shown {
  BoxKind kind;
  std::string title;
  std::string text;
};

// Records every box and answers questions with `answer`.
struct ScriptedPrompts {
  bool answer = false;
  std::vector<Shown> shown;
  std::vector<std::string> opened;
  Prompts Make() {
    return Prompts{[this](BoxKind kind, const std::string& title, const std::string& text) {
                     shown.push_back({kind, title, text});
                     return answer;
                   },
                   [this](const std::string& url) { opened.push_back(url); }};
  }
};

class UpdateUrl {
 public:
  explicit UpdateUrl(const std::string& url) { setenv("KESTREL_UPDATE_URL", url.c_str(), 1); }
  ~UpdateUrl() { unsetenv("KESTREL_UPDATE_URL"); }
};

TEST(HttpGet, SendsAnHttp10RequestAndReturnsTheBodyPrefix) {
  std::string request;
  {
    OneShotServer server({Reply("  301  \r\n\r\ntrailer")});
    EXPECT_EQ(HttpGetBodyPrefix(server.Url("/files/kestrel.dat?q=2"), ""), "301");
    request = server.Request();
  }
  EXPECT_EQ(request, "GET /files/kestrel.dat HTTP/1.0\r\nHost: 127.0.0.1\r\nAccept: */*\r\n"
                     "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; en)\r\n"
                     "Connection: close\r\n\r\n");
  {
    OneShotServer server({Reply("300")});
    EXPECT_EQ(HttpGetBodyPrefix(server.Url(), "Agent 1.0"), "300");
    request = server.Request();
  }
  EXPECT_NE(request.find("\r\nUser-Agent: Agent 1.0\r\n"), std::string::npos);
}

TEST(HttpGet, ServerClosingWithoutAReplyGivesEmpty) {
  OneShotServer server({});
  EXPECT_EQ(HttpGetBodyPrefix(server.Url(), ""), "");
}

TEST(HttpGet, HeadersAndBodyInSeparateSegmentsStillGiveTheBody) {
  OneShotServer server({"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n", "3", "01\n"});
  EXPECT_EQ(HttpGetBodyPrefix(server.Url(), ""), "301");
}

TEST(HttpGet, EmptyUrlAndNoServerGiveEmpty) {
  EXPECT_EQ(HttpGetBodyPrefix("", ""), "");
  EXPECT_EQ(HttpGetBodyPrefix(ClosedPortUrl(), ""), "");
  EXPECT_EQ(HttpGetBodyPrefix("http://host.invalid/files/kestrel.dat", ""), "");
}

struct CheckCase {
  const char* name;
  std::string body;
  BoxKind kind;
  std::string title;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class UpdateCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(UpdateCheck, ShowsTheBoxOfTheVersionRead) {
  OneShotServer server({Reply(GetParam().body)});
  UpdateUrl url(server.Url());
  ScriptedPrompts prompts;
  prompts.answer = true;
  CheckForUpdate(LoadCatalogue(), prompts.Make());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, GetParam().kind);
  EXPECT_EQ(prompts.shown[0].title, GetParam().title);
  if (GetParam().kind == BoxKind::Question) {
    EXPECT_EQ(prompts.shown[0].text,
              "A new version of Tessaline PSD to BMP is available! Are you ready to download it right now?");
    EXPECT_EQ(prompts.opened, std::vector<std::string>{"http://www.tessaline.example/kestrel/"});
  } else {
    EXPECT_TRUE(prompts.opened.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, UpdateCheck,
    ::testing::Values(CheckCase{"Newer", "301", BoxKind::Question, "New Update"},
                      CheckCase{"Same", "300", BoxKind::Information, "No Update"},
                      CheckCase{"Older", "250", BoxKind::Information, "No Update"},
                      CheckCase{"CutToThreeCharacters", "3000", BoxKind::Information, "No Update"},
                      CheckCase{"DottedReadsAsThree", "3.1", BoxKind::Information, "No Update"},
                      CheckCase{"NotANumber", "<html>moved</html>", BoxKind::Error, "Error"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateCheckFailure, NoServerGivesTheConnectionProblemBox) {
  UpdateUrl url(ClosedPortUrl());
  ScriptedPrompts prompts;
  CheckForUpdate(LoadCatalogue(), prompts.Make());
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].kind, BoxKind::Error);
  EXPECT_EQ(prompts.shown[0].text, "Internet connection problems!");
}

TEST(UpdateCheckFailure, NewerVersionAnsweredNoOpensNothing) {
  OneShotServer server({Reply("301")});
  UpdateUrl url(server.Url());
  ScriptedPrompts prompts;
  CheckForUpdate(LoadCatalogue(), prompts.Make());
  EXPECT_EQ(prompts.shown.size(), 1u);
  EXPECT_TRUE(prompts.opened.empty());
}

TEST(UpdateSchedule, AsksOnlyWhenTheIntervalHasPassedAndRecordsTheOffer) {
  constexpr std::int64_t kNow = 1700000000;
  constexpr std::int64_t kDay = 86400;
  UpdateUrl url(ClosedPortUrl());
  Settings settings;
  SetDefaultSettings(settings, false, kNow, "psd", "bmp");
  settings.SetNumber(SettingId::UpdateRange, 1);  // every week

  settings.SetNumber(SettingId::UpdateDate, kNow - 6 * kDay);
  ScriptedPrompts early;
  MaybeCheckForUpdate(settings, LoadCatalogue(), early.Make(), kNow);
  EXPECT_TRUE(early.shown.empty());
  EXPECT_EQ(settings.Date(SettingId::UpdateDate), kNow - 6 * kDay);

  settings.SetNumber(SettingId::UpdateDate, kNow - 8 * kDay);
  ScriptedPrompts due;  // answers No
  MaybeCheckForUpdate(settings, LoadCatalogue(), due.Make(), kNow);
  ASSERT_EQ(due.shown.size(), 1u);
  EXPECT_EQ(due.shown[0].title, "Check for Updates");
  EXPECT_EQ(due.shown[0].text, "Do you want to check for updates?");
  EXPECT_EQ(settings.Date(SettingId::UpdateDate), kNow);

  settings.SetNumber(SettingId::UpdateDate, kNow - 8 * kDay);
  ScriptedPrompts yes;
  yes.answer = true;
  MaybeCheckForUpdate(settings, LoadCatalogue(), yes.Make(), kNow);
  ASSERT_EQ(yes.shown.size(), 2u);  // the question, then the connection problem
  EXPECT_EQ(yes.shown[1].kind, BoxKind::Error);
  EXPECT_EQ(settings.Date(SettingId::UpdateDate), kNow);

  settings.SetNumber(SettingId::UpdateRange, 5);  // never
  settings.SetNumber(SettingId::UpdateDate, 0);
  ScriptedPrompts never;
  MaybeCheckForUpdate(settings, LoadCatalogue(), never.Make(), kNow);
  EXPECT_TRUE(never.shown.empty());
  EXPECT_EQ(settings.Date(SettingId::UpdateDate), 0);
}

TEST(UpdateSchedule, IntervalDays) {
  EXPECT_EQ(UpdateIntervalDays(0), 1);
  EXPECT_EQ(UpdateIntervalDays(1), 7);
  EXPECT_EQ(UpdateIntervalDays(2), 30);
  EXPECT_EQ(UpdateIntervalDays(3), 90);
  EXPECT_EQ(UpdateIntervalDays(4), 180);
  EXPECT_EQ(UpdateIntervalDays(9), 30);
}

}  // namespace
}  // namespace kestrel
