// The live view's server through a raw socket, as a browser (or anything else) reaches it: its routes
// and nothing beyond them, the requests it refuses, the event stream, and the limits that keep a
// stalled page or a flood of connections from costing the program memory or time; and the run it
// serves, as a page opened at any moment is told it.
#include "host/live/live_server.h"

#include <gtest/gtest.h>

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/mutex.h"
#include "host/live/live_run.h"
#include "host/os/host_failure.h"

namespace dorvane::host::live {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class FakeRun : public LiveContent {
 public:
  std::string runJson() override { return R"({"files":[]})"; }
  std::optional<std::string> heldFileJson(std::int32_t number) override {
    return number == 2 ? std::optional<std::string>(R"({"number":2})") : std::nullopt;
  }
  // From the disk: file 3 is there too.
  std::optional<std::string> fileJson(std::int32_t number) override {
    return number == 3 ? std::optional<std::string>(R"({"number":3})") : heldFileJson(number);
  }
};

constexpr Asset kAssets[] = {{"index.html", "text/html", "<title>live</title>"},
                             {"live.js", "text/javascript", "start();"},
                             {"chart.png", "image/png", "PNG"}};

// A bound on a wait for the server or a connection, for a broken server only: a pass never nears it.
constexpr auto kPatience = 30s;

// Polls what the server reports until `condition` holds.
bool eventually(const std::function<bool()>& condition) {
  for (const auto deadline = Clock::now() + kPatience; !condition(); platform::systemClock().sleep(5)) {
    if (Clock::now() > deadline) return false;
  }
  return true;
}

// A connection that reads only when told to, each read bounded in time.
class Client {
 public:
  explicit Client(std::uint16_t port) : socket_(io_) { socket_.connect({asio::ip::make_address("127.0.0.1"), port}); }
  void send(const std::string& text) { asio::write(socket_, asio::buffer(text)); }

  // Reads until `text` has come (taking what came up to its end), the server has closed, or kPatience.
  bool readUntil(std::string_view text) {
    for (const auto deadline = Clock::now() + kPatience;;) {
      if (const auto at = received_.find(text); at != std::string::npos) {
        taken_ = received_.substr(0, at + text.size());
        received_.erase(0, at + text.size());
        return true;
      }
      if (ended_ || Clock::now() >= deadline) return false;
      socket_.async_read_some(asio::buffer(chunk_), [&](boost::system::error_code error, std::size_t bytes) {
        received_.append(chunk_.data(), bytes);
        ended_ = ended_ || error;
      });
      io_.restart();
      if (io_.run_for(deadline - Clock::now()) == 0) {
        socket_.cancel();
        io_.run();
      }
    }
  }
  std::string readToEnd() {
    readUntil("\x01never sent\x01");
    return std::exchange(received_, {});
  }
  bool ended() const { return ended_; }
  const std::string& taken() const { return taken_; }

 private:
  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::array<char, 64 * 1024> chunk_{};
  std::string received_, taken_;
  bool ended_ = false;
};

// The Host field of a browser that opened the page at the address the server printed.
std::string hostField(std::uint16_t port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

std::string request(std::uint16_t port, const std::string& head) {
  Client client(port);
  client.send(head);
  return client.readToEnd();
}
std::string get(std::uint16_t port, const std::string& target) {
  return request(port, "GET " + target + " HTTP/1.1\r\n" + hostField(port) + "Connection: close\r\n\r\n");
}
bool has(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

class LiveServerTest : public ::testing::Test {
 protected:
  // No connection ends by a time limit here: each close is the server's own answer.
  static ServerLimits smallLimits() {
    return {.headerBytes = 1024, .headerFields = 8, .connections = 4, .streamBacklogBytes = 64 * 1024,
            .requestSeconds = 3600, .writeSeconds = 3600};
  }
  FakeRun run_;
  ServerLimits limits_ = smallLimits();
  LiveServer server_{"127.0.0.1", 0, hostNamesFor("127.0.0.1", {}), run_, kAssets, limits_};
};

TEST_F(LiveServerTest, RoutesServeThePageAssetsRunAndFiles) {
  EXPECT_EQ(server_.url(), "http://127.0.0.1:" + std::to_string(server_.port()) + "/");
  const std::string page = get(server_.port(), "/?from=bookmark");
  EXPECT_TRUE(page.starts_with("HTTP/1.1 200 OK\r\n")) << page;
  for (const char* field : {"Content-Type: text/html; charset=utf-8\r\n", "X-Content-Type-Options: nosniff\r\n",
                            "Content-Security-Policy: default-src 'self'; style-src 'self' 'unsafe-inline'\r\n",
                            "Cache-Control: no-store\r\n"}) {
    EXPECT_TRUE(has(page, field)) << field;
  }
  EXPECT_TRUE(page.ends_with("\r\n\r\n<title>live</title>")) << page;
  const std::string script = get(server_.port(), "/assets/live.js");
  EXPECT_TRUE(has(script, "text/javascript; charset=utf-8\r\n") && script.ends_with("\r\n\r\nstart();")) << script;
  EXPECT_TRUE(has(get(server_.port(), "/assets/chart.png"), "Content-Type: image/png\r\n"));
  const std::string run = get(server_.port(), "/run.json?t=1");
  EXPECT_TRUE(has(run, "application/json; charset=utf-8\r\n") && run.ends_with("\r\n\r\n{\"files\":[]}")) << run;
  EXPECT_TRUE(get(server_.port(), "/files/2.json").ends_with("\r\n\r\n{\"number\":2}"));
  EXPECT_TRUE(get(server_.port(), "/files/3.json").ends_with("\r\n\r\n{\"number\":3}"));
  EXPECT_TRUE(get(server_.port(), "/files/4.json").starts_with("HTTP/1.1 404 "));

  // Keep-alive: the second request on the same connection is answered after the first.
  const std::string both = request(server_.port(),
                                   "GET /assets/live.js HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n"
                                   "GET /run.json HTTP/1.1\r\n" + hostField(server_.port()) + "Connection: close\r\n\r\n");
  EXPECT_TRUE(has(both, "start();HTTP/1.1 200 OK")) << both;
  EXPECT_TRUE(both.ends_with("{\"files\":[]}"));
}

TEST_F(LiveServerTest, PathsOutsideTheRoutesAreNotFound) {
  for (const char* target : {"/nothing", "/index.html", "/assets/", "/assets/../live.js", "/assets/%2e%2e/live.js",
                             "/assets/%2E%2E%2Flive.js", "/assets\\live.js", "/assets//live.js", "/files/02.json",
                             "/files/0.json", "/files/-1.json", "/files/1234567890.json", "/files/.json",
                             "/files/2.json.bak", "/events/x", "http://x/run.json"}) {
    EXPECT_TRUE(get(server_.port(), target).starts_with("HTTP/1.1 404 ")) << target;
  }
}

TEST_F(LiveServerTest, RefusesOtherMethodsBodiesAndOversizeHeaders) {
  for (const std::string method : {"POST", "PUT", "HEAD"}) {
    const std::string answer =
        request(server_.port(), method + " / HTTP/1.1\r\n" + hostField(server_.port()) + "Connection: close\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 405 ")) << answer;
    EXPECT_TRUE(has(answer, "Allow: GET\r\n")) << method;
  }
  // A body is never read, so the connection cannot go on after it.
  for (const std::string body : {"Content-Length: 5\r\n\r\nhello", "Content-Length: 99999999999\r\n\r\n",
                                 "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"}) {
    const std::string answer = request(server_.port(), "GET / HTTP/1.1\r\n" + hostField(server_.port()) + body);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 413 ")) << body << ": " << answer;
    EXPECT_TRUE(has(answer, "Connection: close\r\n"));
  }
  const std::string posted =
      request(server_.port(), "POST / HTTP/1.1\r\n" + hostField(server_.port()) + "Content-Length: 4\r\n\r\nabcd");
  EXPECT_TRUE(posted.starts_with("HTTP/1.1 405 ") && has(posted, "Connection: close\r\n")) << posted;

  const std::string start = "GET / HTTP/1.1\r\n" + hostField(server_.port());
  const std::string cookie = "Cookie: " + std::string(limits_.headerBytes, 'c') + "\r\n\r\n";
  EXPECT_TRUE(request(server_.port(), start + cookie).starts_with("HTTP/1.1 431 "));
  std::string fields = start;
  for (std::size_t i = 0; i < limits_.headerFields; ++i) fields += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_TRUE(request(server_.port(), fields + "\r\n").starts_with("HTTP/1.1 431 "));
  // A header without end: refused once past the limit, not waited on.
  EXPECT_TRUE(request(server_.port(), "GET /" + std::string(4 * limits_.headerBytes, 'a')).starts_with("HTTP/1.1 431"));
}

// A site that points a name of its own at 127.0.0.1 (DNS rebinding) must not read the run through
// the user's browser: the Host field is checked before any route, the event stream's included.
TEST_F(LiveServerTest, RequestsUnderAnotherNameAreRefusedBeforeAnyRoute) {
  const std::string port = std::to_string(server_.port());
  const std::string ours = "Host: 127.0.0.1:" + port + "\r\n";
  const struct {
    std::string fields;
    std::string status;
  } refused[] = {{"Host: evil.example:" + port + "\r\n", "403 "},
                 {"Host: localhost.evil.example:" + port + "\r\n", "403 "},
                 {"", "400 "},
                 {ours + ours, "400 "},
                 {"Host: 127.0.0.1:" + port + ",evil.example\r\n", "400 "}};
  for (const auto& [fields, status] : refused) {
    for (const std::string target : {"/events", "/run.json", "/nothing"}) {
      const std::string answer = request(server_.port(), "GET " + target + " HTTP/1.1\r\n" + fields + "\r\n");
      EXPECT_TRUE(answer.starts_with("HTTP/1.1 " + status)) << fields << target << ": " << answer;
      EXPECT_TRUE(has(answer, "Connection: close\r\n")) << answer;
      EXPECT_TRUE(answer.ends_with(": open the live view at the address dorvane printed, " + server_.url() + "\n"))
          << answer;
    }
  }
  EXPECT_EQ(server_.counts().refusedHosts, std::size(refused) * 3);
  EXPECT_EQ(server_.counts().streams, 0);
  for (const std::string name : {"localhost", "LOCALHOST", "[::1]"}) {
    const std::string answer = request(server_.port(), "GET /run.json HTTP/1.1\r\nHost: " + name + ":" + port +
                                                           "\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 ") && answer.ends_with("{\"files\":[]}")) << name << ": " << answer;
  }
}

// Each form of Host against the names of a bind address, the machine being called "Lab-PC".
TEST(HostNames, OnlyTheNamesOfTheAddressServedAndItsPort) {
  const std::vector<std::string> machine = {"Lab-PC"};
  constexpr auto ours = HostCheck::ours, foreign = HostCheck::foreign, malformed = HostCheck::malformed;
  const struct {
    const char* bind;
    const char* host;
    HostCheck check;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1:8765", ours},
      {"127.0.0.1", "LocalHost:8765", ours},
      {"127.0.0.1", "[::1]:8765", ours},
      {"127.0.0.1", "localhost.evil.example:8765", foreign},
      {"127.0.0.1", "127.0.0.1.evil.example:8765", foreign},
      {"127.0.0.1", "evil-localhost:8765", foreign},
      {"127.0.0.1", "localhost.:8765", foreign},
      {"127.0.0.1", "127.0.0.1.:8765", foreign},
      {"127.0.0.1", "localhost:8766", foreign},
      {"127.0.0.1", "localhost:08765", foreign},
      {"127.0.0.1", "localhost", foreign},  // the port is left out only for 80
      {"127.0.0.1", "192.168.1.20:8765", foreign},
      {"127.0.0.1", "lab-pc:8765", foreign},  // the machine's name is a network's, not loopback's
      {"127.0.0.1", "", malformed},
      {"127.0.0.1", "localhost:8765,evil.example", malformed},
      {"127.0.0.1", "evil.example, localhost:8765", malformed},
      {"127.0.0.1", "user@localhost:8765", malformed},
      {"127.0.0.1", "localhost:", malformed},
      {"127.0.0.1", "localhost:87a5", malformed},
      {"127.0.0.1", "localhost:876500", malformed},
      {"127.0.0.1", "localhost:8765:1", malformed},
      {"127.0.0.1", ":8765", malformed},
      {"127.0.0.1", "[::1", malformed},
      {"127.0.0.1", "[::1]8765", malformed},
      {"127.0.0.1", "[fe80::1%25eth0]:8765", malformed},
      {"127.0.0.1", "local host:8765", malformed},
      {"::1", "[::1]:8765", ours},
      {"::1", "lab-pc:8765", foreign},
      {"192.168.1.20", "192.168.1.20:8765", ours},
      {"192.168.1.20", "LAB-PC:8765", ours},
      {"192.168.1.20", "lab-pc.evil.example:8765", foreign},
      {"192.168.1.20", "localhost:8765", foreign},
      {"192.168.1.20", "192.168.1.21:8765", foreign},
      {"2001:DB8::5", "[2001:db8::5]:8765", ours},
      // A wildcard bind: loopback, the machine's name and any IP literal, still never another name.
      {"0.0.0.0", "localhost:8765", ours},
      {"0.0.0.0", "lab-pc:8765", ours},
      {"0.0.0.0", "10.1.2.3:8765", ours},
      {"::", "[fe80::1]:8765", ours},
      {"0.0.0.0", "10.1.2.3:8766", foreign},
      {"0.0.0.0", "10.1.2.3.evil.example:8765", foreign},
      {"0.0.0.0", "evil.example:8765", foreign},
  };
  for (const auto& [bind, host, check] : cases) {
    EXPECT_EQ(checkHost(hostNamesFor(bind, machine), 8765, host), check) << bind << " serving Host: " << host;
  }
  EXPECT_EQ(checkHost(hostNamesFor("127.0.0.1", {}), 80, "localhost"), HostCheck::ours);
  EXPECT_EQ(checkHost(hostNamesFor("127.0.0.1", {}), 80, "localhost:80"), HostCheck::ours);
  EXPECT_TRUE(hostNamesFor("not an address", machine).names.empty());
}

TEST_F(LiveServerTest, EventStreamsGetTheRunThenEveryEvent) {
  Client first(server_.port()), second(server_.port());
  first.send("GET /events HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n");
  second.send("GET /events?again HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n");
  ASSERT_TRUE(first.readUntil("\r\n\r\n"));
  EXPECT_TRUE(first.taken().starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(has(first.taken(), "Content-Type: text/event-stream; charset=utf-8\r\nCache-Control: no-store\r\n"));
  // No length and no chunks: the body lasts as long as the connection.
  EXPECT_FALSE(has(first.taken(), "Content-Length") || has(first.taken(), "Transfer-Encoding")) << first.taken();
  ASSERT_TRUE(first.readUntil("retry: 2000\n\nevent: run\ndata: {\"files\":[]}\n\n"));
  EXPECT_EQ(first.taken().find("retry"), 0u);
  ASSERT_TRUE(second.readUntil("event: run\n"));
  ASSERT_TRUE(eventually([&] { return server_.counts().streams == 2; }));

  server_.publish("state", "{\"phase\":\n\"transferring\"}");
  server_.drain(static_cast<int>(std::chrono::milliseconds(kPatience).count()));
  EXPECT_EQ(server_.counts().backlogBytes, 0u);
  const char* event = "event: state\ndata: {\"phase\":\ndata: \"transferring\"}\n\n";
  EXPECT_TRUE(first.readUntil(event));
  EXPECT_TRUE(second.readUntil(event));
}

TEST_F(LiveServerTest, StalledStreamIsDroppedWhileAHealthyOneGetsEveryEvent) {
  Client stalled(server_.port()), healthy(server_.port());
  stalled.send("GET /events HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n");
  healthy.send("GET /events HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n");
  ASSERT_TRUE(healthy.readUntil("event: run\n"));
  ASSERT_TRUE(eventually([&] { return server_.counts().streams == 2; }));

  // Until the stalled connection's socket buffers are full and its queue passes the limit.
  const std::string pad(limits_.streamBacklogBytes / 4, 'x');
  int n = 0;
  for (; n < 4000 && server_.counts().droppedStreams == 0; ++n) {
    server_.publish("file", "{\"pad\":\"" + pad + "\",\"n\":" + std::to_string(n) + "}");
    ASSERT_TRUE(healthy.readUntil("\"n\":" + std::to_string(n) + "}\n\n")) << n;
    // The healthy stream may still hold the event it just sent; the stalled one never more than the limit.
    EXPECT_LE(server_.counts().backlogBytes, limits_.streamBacklogBytes + pad.size() + 64);
  }
  EXPECT_EQ(server_.counts().droppedStreams, 1u) << "after " << n << " events";
  EXPECT_TRUE(eventually([&] { return server_.counts().streams == 1; }));
  server_.publish("state", "{\"after\":true}");
  EXPECT_TRUE(healthy.readUntil("data: {\"after\":true}\n\n"));
}

TEST_F(LiveServerTest, ConnectionBeyondTheLimitIsClosedAndPlacesFreeAgain) {
  std::vector<std::unique_ptr<Client>> held;
  for (int i = 0; i < limits_.connections; ++i) held.push_back(std::make_unique<Client>(server_.port()));
  ASSERT_TRUE(eventually([&] { return server_.counts().connections == limits_.connections; }));
  Client extra(server_.port());
  extra.send("GET / HTTP/1.1\r\n" + hostField(server_.port()) + "\r\n");
  EXPECT_EQ(extra.readToEnd(), "");
  EXPECT_TRUE(extra.ended());
  EXPECT_EQ(server_.counts().refusedConnections, 1u);

  held.erase(held.begin(), held.begin() + 2);
  ASSERT_TRUE(eventually([&] { return server_.counts().connections == limits_.connections - 2; }));
  EXPECT_TRUE(get(server_.port(), "/").starts_with("HTTP/1.1 200 OK"));
}

// A disk as slow as the test likes: each file read from it waits until the test opens the gate.
class SlowDiskRun : public FakeRun {
 public:
  std::optional<std::string> heldFileJson(std::int32_t) override { return std::nullopt; }
  std::optional<std::string> fileJson(std::int32_t number) override {
    {
      platform::ScopedLock hold(lock_);
      read_.push_back(number);
    }
    gate.wait(static_cast<std::uint32_t>(std::chrono::milliseconds(kPatience).count()));
    return "{\"number\":" + std::to_string(number) + "}";
  }
  std::vector<std::int32_t> read() {
    platform::ScopedLock hold(lock_);
    return read_;
  }
  platform::Event gate;

 private:
  platform::Mutex lock_;
  std::vector<std::int32_t> read_;
};

// An older file read from the disk while a run streams: the events and the run keep coming, a full
// queue is refused rather than grown, and the file of a page that left is never read.
TEST(LiveServerFiles, ReadOnAWorkerWhileTheStreamsGoOn) {
  SlowDiskRun run;
  ServerLimits limits;
  limits.fileRequests = 2;
  LiveServer server("127.0.0.1", 0, hostNamesFor("127.0.0.1", {}), run, kAssets, limits);
  const std::uint16_t port = server.port();
  const auto asking = [port](std::int32_t number) {
    auto page = std::make_unique<Client>(port);
    page->send("GET /files/" + std::to_string(number) + ".json HTTP/1.1\r\n" + hostField(port) +
               "Connection: close\r\n\r\n");
    return page;
  };
  Client stream(port);
  stream.send("GET /events HTTP/1.1\r\n" + hostField(port) + "\r\n");
  ASSERT_TRUE(stream.readUntil("event: run\n"));
  ASSERT_TRUE(eventually([&] { return server.counts().streams == 1; }));

  const auto reading = asking(7);
  ASSERT_TRUE(eventually([&] { return run.read() == std::vector<std::int32_t>{7}; }));
  server.publish("state", "{\"while\":\"reading\"}");
  EXPECT_TRUE(stream.readUntil("data: {\"while\":\"reading\"}\n\n")) << "the stream waited on the disk";
  EXPECT_TRUE(get(port, "/run.json").ends_with("{\"files\":[]}"));

  auto leaving = asking(8);
  ASSERT_TRUE(eventually([&] { return server.counts().fileRequests == 2; }));
  const std::string refused = get(port, "/files/9.json");
  EXPECT_TRUE(refused.starts_with("HTTP/1.1 503 ") && has(refused, "Retry-After: 1\r\n")) << refused;
  leaving.reset();  // its page is closed while its file waits behind file 7
  ASSERT_TRUE(eventually([&] { return server.counts().connections == 2; })) << "the stream and the page reading";

  run.gate.set();
  EXPECT_TRUE(reading->readToEnd().ends_with("\r\n\r\n{\"number\":7}"));
  EXPECT_TRUE(get(port, "/files/9.json").ends_with("\r\n\r\n{\"number\":9}"));
  EXPECT_EQ(run.read(), (std::vector<std::int32_t>{7, 9}));
  EXPECT_EQ(server.counts().filesDropped, 1u);
  EXPECT_EQ(server.counts().filesRefused, 1u);
}

// Ending closes every connection itself: with time limits of an hour, none ends in time by its own.
TEST(LiveServerLife, EndsWithAStalledStreamAndAnIdleConnection) {
  FakeRun run;
  ServerLimits hourLong;
  hourLong.requestSeconds = hourLong.writeSeconds = 3600;
  auto server = std::make_unique<LiveServer>("127.0.0.1", 0, hostNamesFor("127.0.0.1", {}), run, kAssets, hourLong);
  Client stalled(server->port()), idle(server->port());
  stalled.send("GET /events HTTP/1.1\r\n" + hostField(server->port()) + "\r\n");
  ASSERT_TRUE(eventually([&] { return server->counts().streams == 1 && server->counts().connections == 2; }));
  for (int i = 0; i < 16; ++i) server->publish("file", std::string(256 * 1024, 'x'));
  server.reset();  // a server that waited on its connections would hang here until the test's time-out
  EXPECT_EQ(idle.readToEnd(), "");
  EXPECT_TRUE(idle.ended());
}

// A run served with a page on its event stream from its start, told the run as it connects.
class LiveRunOnTheStream : public ::testing::Test {
 protected:
  void SetUp() override {
    run.attach(&server);
    page.send("GET /events HTTP/1.1\r\n" + hostField(server.port()) + "\r\n");
    ASSERT_TRUE(page.readUntil("event: run\n"));
    ASSERT_TRUE(eventually([&] { return server.counts().streams == 1; }));
  }
  void TearDown() override { run.attach(nullptr); }

  LiveRun run{LiveRun::Mode::Acquire, "run", {}};
  LiveServer server{"127.0.0.1", 0, hostNamesFor("127.0.0.1", {}), run, kAssets};
  Client page{server.port()};
};

// A page opened before the run knows its bands and its background (the demo learns both once its
// background is in) is told them as they become known; a remark on the run's course (a slip) stays
// apart from its last problem, the newest few of them.
TEST_F(LiveRunOnTheStream, APageOpenedEarlyLearnsTheBandsAndTheBackgroundAndRemarksAreNoError) {
  ASSERT_TRUE(page.readUntil("\"bands\":[],\"rows\":[]},")) << "the run so far knows no band";

  run.listed(1, "", "series/background-001.jdx", {});
  run.setBackground(std::make_shared<SpectrumMaker>(ProcessingOptions{}), "series/background-001.jdx");
  run.track({{"CO2", 2250, 2450}});
  run.listed(2, "", "series/cell-001.jdx", {});
  EXPECT_TRUE(page.readUntil("\"backgrounds\":[1]}\n\n")) << "the file saved first is the background, counted apart";
  EXPECT_TRUE(page.readUntil("event: trend\ndata: {\"kind\":\"absorbance\",\"bands\":[{\"name\":\"CO2\",\"low\":2250,"
                             "\"high\":2450}],\"rows\":[]}\n\n"));
  EXPECT_TRUE(page.readUntil("\"backgrounds\":[1]}\n\n")) << "a later file is no background";

  for (const char* file : {"2", "3", "4", "5"}) run.remark(std::string("the schedule slipped: file ") + file + " starts 0.3 s late");
  const std::string remarked = run.runJson();
  EXPECT_TRUE(has(remarked, "\"error\":\"\",\"remarks\":[{\"seconds\":0,\"text\":\"the schedule slipped: file 3 starts "
                            "0.3 s late\"},{\"seconds\":0,\"text\":\"the schedule slipped: file 4")) << remarked;
  EXPECT_TRUE(has(remarked, "file 5 starts 0.3 s late\"}],")) << remarked;
  run.notice("file 6 could not be retrieved from the bench; skipped");
  EXPECT_TRUE(has(run.runJson(), "\"error\":\"file 6 could not be retrieved from the bench; skipped\",\"remarks\":[{"));
}

// A qualification is told step by step and verdict by verdict as it goes, and whole to a page that
// opens after its end; any other run says it is none.
TEST_F(LiveRunOnTheStream, AQualificationIsToldAsItGoesAndWholeToAPageOpenedAfterItsEnd) {
  ASSERT_TRUE(page.readUntil("\"rows\":[]},\"qualification\":null}\n\n")) << "no qualification yet";

  run.qualifying("background 1 of 2 (the film out of the beam)");
  EXPECT_TRUE(page.readUntil("event: qualification\ndata: {\"step\":\"background 1 of 2 (the film out of the beam)\","
                             "\"tests\":[],\"verdict\":null,\"report\":null}\n\n"));
  run.qualifying("computing the tests");
  run.verdict("wavenumber accuracy", false, "the band at 3060.0 cm-1 was found at 3062.10 (+2.10; tolerance \u00b11.5)");
  run.verdict("resolution", true, "18.9 > 18 and 12.4 > 12 %T");
  EXPECT_TRUE(page.readUntil("{\"name\":\"resolution\",\"passed\":true,\"detail\":\"18.9 > 18 and 12.4 > 12 %T\"}],"
                             "\"verdict\":null,\"report\":null}\n\n"))
      << "each test's verdict is told as it is known, before the whole";
  run.verdict("wavenumber accuracy", true, "7 of 7 bands within tolerance");  // told again: replaced in its place
  run.qualified(true, "/lab/qualification-7/qualification.html");
  const std::string whole = "{\"step\":\"computing the tests\",\"tests\":[{\"name\":\"wavenumber accuracy\",\"passed\":true,"
                            "\"detail\":\"7 of 7 bands within tolerance\"},{\"name\":\"resolution\",\"passed\":true,\"detail\":"
                            "\"18.9 > 18 and 12.4 > 12 %T\"}],\"verdict\":\"pass\",\"report\":\"/lab/qualification-7/qualification.html\"}";
  EXPECT_TRUE(page.readUntil("event: qualification\ndata: " + whole + "\n\n"));
  const std::string late = get(server.port(), "/run.json");
  EXPECT_TRUE(late.ends_with(",\"qualification\":" + whole + "}")) << late;
}

std::string failureOf(const std::function<void()>& start) {
  try {
    start();
  } catch (const HostFailure& failure) {
    return failure.what();
  }
  return "no failure";
}

TEST(LiveServerLife, PortInUseOrBadAddressFailsWithOneLine) {
  FakeRun run;
  LiveServer first("127.0.0.1", 0, {}, run, kAssets);
  const std::string where = "127.0.0.1:" + std::to_string(first.port());
  EXPECT_EQ(failureOf([&] { LiveServer second("127.0.0.1", first.port(), {}, run, kAssets); }),
            "cannot serve the live view on " + where + ": the port is in use (--live=PORT chooses another)");
  EXPECT_EQ(
      failureOf([&] { LiveServer named("localhost", 8765, {}, run, kAssets); }),
      "cannot serve the live view on localhost:8765: not an IP address (127.0.0.1 or ::1 serve this machine alone)");
}

}  // namespace
}  // namespace dorvane::host::live
