// The live view's HTTP server: one thread runs an io_context that serves every connection, each event
// stream has a bounded queue of its own, and publishing only posts to that thread, so no browser ever
// holds up the acquisition. A file read from the disk for a page is read on a worker thread with a
// bounded queue of its own, so no disk ever holds up the event streams.
#include "host/live/live_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <chrono>
#include <deque>
#include <iterator>
#include <limits>
#include <sstream>
#include <unordered_set>
#include <utility>

#include "platform/clock.h"
#include "platform/thread.h"
#include "host/os/host_failure.h"
#include "host/os/listen_socket.h"

namespace dorvane::host::live {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Request = http::request<http::empty_body>;
using Response = http::response<http::string_body>;
using Text = std::shared_ptr<const std::string>;

// How long the page's EventSource waits before it reconnects to a stream that was cut off.
constexpr std::string_view kStreamStart = "retry: 2000\n\n";
// After the last response of a connection, what the browser still sends is read and thrown away for
// a moment: closing with unread bytes would reset the connection, and the browser could lose the
// response (a refusal above all) before reading it.
constexpr auto kLingerTime = std::chrono::seconds(1);
constexpr std::size_t kLingerBytes = 64 * 1024;
// An accept that fails (out of descriptors, say) is tried again after a pause, not in a busy loop.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
// File numbers are int32: nine digits always fit.
constexpr std::size_t kLargestFileDigits = 9;
constexpr std::uint32_t kDrainPollMs = 10;
// A header cut off by its limit may not have told its version yet.
constexpr unsigned kHttp11 = 11;

// "127.0.0.1:8765", "[::1]:8765".
std::string hostAndPort(const std::string& address, std::uint16_t port) {
  std::string text;
  if (address.find(':') != std::string::npos) {
    text += '[';
    text += address;
    text += ']';
  } else {
    text += address;
  }
  text += ':';
  text += std::to_string(port);
  return text;
}

std::string bindFailure(const ErrorCode& error) {
  if (error == asio::error::address_in_use) return "the port is in use (--live=PORT chooses another)";
  if (error == asio::error::access_denied)
    return "the system refuses this port to this user (--live=PORT chooses another)";
  if (error == boost::system::errc::address_not_available)
    return "this machine has no such address (127.0.0.1 always is one)";
  std::string line = error.message();
  line += " (--live=PORT chooses another)";
  return line;
}

// Text is always UTF-8; the browser is told so rather than left to guess.
std::string withCharset(std::string_view type) {
  std::string text(type);
  if (type.starts_with("text/") || type == "application/json" || type == "application/javascript") {
    text += "; charset=utf-8";
  }
  return text;
}

// "event: NAME\ndata: ...\n\n". A line break inside the data would end its field early, so each line
// of it goes on a data: line of its own (the browser joins them again with "\n").
std::string eventText(std::string_view name, std::string_view data) {
  std::string text = "event: ";
  for (const char c : name) {
    if (c != '\r' && c != '\n') text += c;
  }
  text += '\n';
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = data.find_first_of("\r\n", start);
    text += "data: ";
    text += data.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    text += '\n';
    if (end == std::string_view::npos) break;
    start = end + (data.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  text += '\n';
  return text;
}

// The number of "/files/N.json": decimal digits without a leading zero.
std::optional<std::int32_t> fileNumber(std::string_view path) {
  constexpr std::string_view kPrefix = "/files/";
  constexpr std::string_view kSuffix = ".json";
  if (!path.starts_with(kPrefix) || !path.ends_with(kSuffix)) return std::nullopt;
  if (path.size() <= kPrefix.size() + kSuffix.size()) return std::nullopt;
  const std::string_view digits = path.substr(kPrefix.size(), path.size() - kPrefix.size() - kSuffix.size());
  if (digits.size() > kLargestFileDigits || digits.front() == '0') return std::nullopt;
  std::int32_t number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return number;
}

// What every response carries: nothing is cached (the run changes), no type is guessed, and the page
// runs only its own scripts.
template <class Message>
void addSafetyFields(Message& message, std::string_view contentType) {
  message.set(http::field::content_type, withCharset(contentType));
  message.set(http::field::cache_control, "no-store");
  message.set("X-Content-Type-Options", "nosniff");
  message.set("Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'");
}

// A name of letters, digits, '-', '.' and '_': what a browser sends for a host name or an IPv4
// address. Commas (two fields folded into one), userinfo, spaces and percent signs are not.
bool plainName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_';
  });
}

// "[" hex digits, ':' and '.' "]": an IPv6 address as a browser writes it, without a zone.
bool bracketedAddress(std::string_view name) {
  return name.size() > 2 && name.front() == '[' && name.back() == ']' &&
         std::all_of(name.begin() + 1, name.end() - 1,
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; });
}

bool ipLiteral(std::string_view name) {
  ErrorCode error;
  if (bracketedAddress(name)) {
    asio::ip::make_address_v6(std::string(name.substr(1, name.size() - 2)), error);
  } else {
    asio::ip::make_address_v4(std::string(name), error);
  }
  return !error;
}

class Session;

// Everything of the server but its thread's owner. The io_context's thread alone touches `sessions`
// and the sockets; the counts are atomics that any thread reads.
class Server {
 public:
  Server(HostNames hosts, LiveContent& content, std::span<const Asset> assets, ServerLimits limits)
      : hosts(std::move(hosts)), content(content), assets(assets), limits(limits) {}

  void accept();
  void deliver(const Text& text);
  // Reads file `number` on the worker for `session`, which is answered on this thread when it is
  // ready; a full queue is answered 503 at once.
  void readFile(const std::shared_ptr<Session>& session, std::int32_t number, unsigned version, bool keepAlive);
  // Closes the listener and every connection, and ends the thread's run.
  void stop();
  const Asset* asset(std::string_view path) const {
    const auto found = std::find_if(assets.begin(), assets.end(), [&](const Asset& a) { return a.path == path; });
    return found == assets.end() ? nullptr : &*found;
  }

  const HostNames hosts;
  LiveContent& content;
  const std::span<const Asset> assets;
  const ServerLimits limits;
  std::uint16_t port = 0;
  std::string url;

  std::atomic<int> connections{0};
  std::atomic<int> streams{0};
  std::atomic<std::size_t> backlogBytes{0};
  std::atomic<std::uint64_t> droppedStreams{0};
  std::atomic<std::uint64_t> refusedConnections{0};
  std::atomic<std::uint64_t> refusedHosts{0};
  std::atomic<int> publishesUnderWay{0};  // posted to the thread, not yet in the streams' queues
  std::atomic<int> fileRequests{0};
  std::atomic<std::uint64_t> filesRefused{0};
  std::atomic<std::uint64_t> filesDropped{0};
  std::unordered_set<Session*> sessions;

  // The file worker: one thread, its queue bounded by `limits.fileRequests`. Its handlers hold
  // sessions only weakly, so they may go with it in any order.
  asio::io_context fileIo;
  asio::executor_work_guard<asio::io_context::executor_type> fileWork{fileIo.get_executor()};
  platform::Thread fileThread;
  void stopFileWorker() {
    fileWork.reset();
    fileIo.stop();
    if (fileThread.joinable()) fileThread.join();
  }

  // Declared after what a session touches as it ends: the sessions that handlers still hold at the
  // end go with the io_context, while the counts and `sessions` still exist.
  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  tcp::acceptor acceptor{io};
  asio::steady_timer acceptRetry{io};
  platform::Thread thread;

 private:
  void acceptLater();
  void onAccept(tcp::socket socket);
};

// One connection: requests and responses until it closes, or, from a GET /events on, an event
// stream that sends its queue and reads nothing more but the browser's end.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Server& server, tcp::socket socket)
      : server_(server), stream_(std::move(socket)), buffer_(server.limits.headerBytes) {
    ++server_.connections;
    server_.sessions.insert(this);
  }
  ~Session() {
    server_.sessions.erase(this);
    server_.backlogBytes -= queuedBytes_;
    if (streaming_) --server_.streams;
    --server_.connections;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void start() { readRequest(); }
  bool streaming() const { return streaming_ && !closed_; }

  // Queues an event for the stream, or cuts the stream off when the browser has fallen too far
  // behind: its page reconnects and catches up from the run snapshot.
  void push(const Text& text, bool bounded = true) {
    if (closed_) return;
    if (bounded && queuedBytes_ + text->size() > server_.limits.streamBacklogBytes) {
      ++server_.droppedStreams;
      close();
      return;
    }
    queue_.push_back(text);
    queuedBytes_ += text->size();
    server_.backlogBytes += text->size();
    if (!writing_) writeNext();
  }

  void close() noexcept {
    if (closed_) return;
    closed_ = true;
    if (fileWanted_) *fileWanted_ = false;
    server_.backlogBytes -= queuedBytes_;
    queuedBytes_ = 0;
    queue_.clear();  // the write under way keeps its own text
    try {
      ErrorCode ignored;
      // Cancelled first, so that the write under way to a stalled browser completes at once: Wine
      // never completes it on a close alone, and the I/O context's end then waits for it forever.
      stream_.socket().cancel(ignored);
      stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
      stream_.close();
    } catch (...) {
    }
  }

 private:
  // Every completion runs through here: whatever fails ends this connection, never the thread.
  template <class Body>
  void guarded(Body&& body) noexcept {
    try {
      body();
    } catch (...) {
      close();
    }
  }

  void readRequest() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(
        std::min<std::size_t>(server_.limits.headerBytes, std::numeric_limits<std::uint32_t>::max())));
    // A body is refused from its header alone, whatever its length; none is ever read. (No limit
    // at all, boost::none, would make Beast 1.74 refuse every Content-Length before the header ends.)
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    stream_.expires_after(std::chrono::seconds(server_.limits.requestSeconds));
    http::async_read_header(stream_, buffer_, *parser_, [self = shared_from_this()](ErrorCode error, std::size_t) {
      self->guarded([&] { self->onRequest(error); });
    });
  }

  void onRequest(const ErrorCode& error) {
    if (closed_) return;
    if (error == http::error::header_limit || error == http::error::buffer_overflow) {
      return refuse(http::status::request_header_fields_too_large, kHttp11);
    }
    if (error) return close();  // timed out, closed by the browser, or not HTTP
    const Request& request = parser_->get();
    if (static_cast<std::size_t>(std::distance(request.begin(), request.end())) > server_.limits.headerFields) {
      return refuse(http::status::request_header_fields_too_large, request.version());
    }
    // Before any route, the event stream's included: a page of another site that reached us by
    // rebinding its own name learns nothing, not even which routes there are.
    const HostCheck host = request.count(http::field::host) != 1
                               ? HostCheck::malformed
                               : checkHost(server_.hosts, server_.port, request[http::field::host]);
    if (host != HostCheck::ours) return refuseHost(host, request.version());
    const bool hasBody = parser_->chunked() || parser_->content_length().value_or(0) > 0;
    if (request.method() != http::verb::get) {
      auto response = text(http::status::method_not_allowed, request.version(), "text/plain", "GET only\n");
      response->set(http::field::allow, "GET");
      // The body, if any, is never read: the connection cannot carry another request.
      return send(response, request.keep_alive() && !hasBody);
    }
    if (hasBody) return refuse(http::status::payload_too_large, request.version());
    route(request);
  }

  void route(const Request& request) {
    const std::string_view target = request.target();
    const std::string_view path = target.substr(0, target.find('?'));
    const unsigned version = request.version();
    const bool keepAlive = request.keep_alive();
    if (path == "/events") return startStream(version);
    const Asset* asset = nullptr;
    if (path == "/") asset = server_.asset("index.html");
    if (path.starts_with("/assets/")) asset = server_.asset(path.substr(std::string_view("/assets/").size()));
    if (asset) return send(text(http::status::ok, version, asset->contentType, std::string(asset->body)), keepAlive);
    if (path == "/run.json") {
      return send(text(http::status::ok, version, "application/json", server_.content.runJson()), keepAlive);
    }
    if (const auto number = fileNumber(path)) {
      if (auto json = server_.content.heldFileJson(*number)) {
        return send(text(http::status::ok, version, "application/json", std::move(*json)), keepAlive);
      }
      return server_.readFile(shared_from_this(), *number, version, keepAlive);
    }
    notFound(version, keepAlive);
  }

 public:
  // The worker is on this request: from now until its answer, a page that goes away (its browser
  // closes the connection) drops it. A next request already sent stays unread in the socket.
  std::shared_ptr<std::atomic<bool>> awaitFile() {
    fileWanted_ = std::make_shared<std::atomic<bool>>(true);
    stream_.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this(), wanted = fileWanted_](ErrorCode error) {
      self->guarded([&] {
        if (self->closed_ || self->fileWanted_ != wanted) return;  // answered already
        ErrorCode unavailable;
        // Readable with nothing to read: the browser has closed its end.
        if (error || self->stream_.socket().available(unavailable) == 0 || unavailable) self->close();
      });
    });
    return fileWanted_;
  }
  // The worker's answer: the data, none for a file the run does not have, or a failure.
  void fileRead(std::optional<std::string> json, bool failed, unsigned version, bool keepAlive) {
    fileWanted_.reset();
    if (closed_) return;
    if (failed) {
      return send(text(http::status::internal_server_error, version, "text/plain",
                       "the file's data could not be made for the page\n"),
                  keepAlive);
    }
    if (!json) return notFound(version, keepAlive);
    send(text(http::status::ok, version, "application/json", std::move(*json)), keepAlive);
  }
  void fileQueueFull(unsigned version, bool keepAlive) {
    auto response = text(http::status::service_unavailable, version, "text/plain",
                         "too many files asked for at once: ask again in a moment\n");
    response->set(http::field::retry_after, "1");
    send(response, keepAlive);
  }

 private:
  void notFound(unsigned version, bool keepAlive) {
    send(text(http::status::not_found, version, "text/plain", "not found\n"), keepAlive);
  }

  static std::shared_ptr<Response> text(http::status status, unsigned version, std::string_view type,
                                        std::string body) {
    auto response = std::make_shared<Response>(status, version);
    addSafetyFields(*response, type);
    response->body() = std::move(body);
    return response;
  }

  // A request the server will not take: said once, then the connection ends.
  void refuse(http::status status, unsigned version) {
    std::string reason(http::obsolete_reason(status));
    reason += '\n';
    send(text(status, version, "text/plain", std::move(reason)), false);
  }

  void refuseHost(HostCheck host, unsigned version) {
    ++server_.refusedHosts;
    std::string line = host == HostCheck::malformed ? "a request needs one Host field that names this server"
                                                    : "this server answers only under its own names";
    line += ": open the live view at the address dorvane printed, ";
    line += server_.url;
    line += '\n';
    const http::status status = host == HostCheck::malformed ? http::status::bad_request : http::status::forbidden;
    send(text(status, version, "text/plain", std::move(line)), false);
  }

  void send(const std::shared_ptr<Response>& response, bool keepAlive) {
    response->keep_alive(keepAlive);
    response->prepare_payload();
    stream_.expires_after(std::chrono::seconds(server_.limits.writeSeconds));
    http::async_write(stream_, *response,
                      [self = shared_from_this(), response, keepAlive](ErrorCode error, std::size_t) {
                        self->guarded([&] {
                          if (error || self->closed_) return self->close();
                          if (keepAlive) return self->readRequest();
                          self->lingerThenClose();
                        });
                      });
  }

  // The stream's response has no length: it lasts until one side closes. Its header, the reconnect
  // delay and the run so far go out as the stream's first text, which no backlog limit refuses (the
  // page cannot do without it).
  void startStream(unsigned version) {
    http::response<http::empty_body> head{http::status::ok, version};
    addSafetyFields(head, "text/event-stream");
    std::ostringstream header;
    header << head.base();
    std::string first = header.str();
    first += kStreamStart;
    first += eventText("run", server_.content.runJson());
    streaming_ = true;
    ++server_.streams;
    stream_.expires_never();
    push(std::make_shared<const std::string>(std::move(first)), false);
    watchForEnd();
  }

  void writeNext() {
    if (closed_ || queue_.empty()) {
      writing_ = false;
      return;
    }
    writing_ = true;
    Text next = queue_.front();
    asio::async_write(stream_, asio::buffer(*next), [self = shared_from_this(), next](ErrorCode error, std::size_t) {
      self->guarded([&] {
        if (error || self->closed_) return self->close();
        self->queue_.pop_front();
        self->queuedBytes_ -= next->size();
        self->server_.backlogBytes -= next->size();
        self->writeNext();
      });
    });
  }

  // A stream's browser sends nothing more: a read ends only when it goes, which frees its place at
  // once rather than at the next event.
  void watchForEnd() {
    stream_.async_read_some(asio::buffer(discard_), [self = shared_from_this()](ErrorCode error, std::size_t) {
      self->guarded([&] {
        if (error || self->closed_) return self->close();
        self->watchForEnd();
      });
    });
  }

  void lingerThenClose() {
    ErrorCode ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLingerTime);
    lingerRead();
  }
  void lingerRead() {
    stream_.async_read_some(asio::buffer(discard_), [self = shared_from_this()](ErrorCode error, std::size_t bytes) {
      self->guarded([&] {
        self->lingered_ += bytes;
        if (error || self->closed_ || self->lingered_ > kLingerBytes) return self->close();
        self->lingerRead();
      });
    });
  }

  Server& server_;
  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;  // at most a whole header: beyond, the parser stops
  std::optional<http::request_parser<http::empty_body>> parser_;
  std::deque<Text> queue_;  // the event stream's texts not yet taken, the one being written first
  std::shared_ptr<std::atomic<bool>> fileWanted_;  // while the worker has a request of this connection
  std::size_t queuedBytes_ = 0;
  std::size_t lingered_ = 0;
  bool streaming_ = false;
  bool writing_ = false;
  bool closed_ = false;
  std::array<char, 512> discard_{};
};

void Server::accept() {
  try {
    acceptor.async_accept([this](ErrorCode error, tcp::socket socket) {
      if (error == asio::error::operation_aborted || !acceptor.is_open()) return;  // closing
      if (error) return acceptLater();
      try {
        onAccept(std::move(socket));
      } catch (...) {
      }
      accept();
    });
  } catch (...) {
    acceptLater();
  }
}

void Server::acceptLater() {
  acceptRetry.expires_after(kAcceptRetry);
  acceptRetry.async_wait([this](ErrorCode waited) {
    if (!waited) accept();
  });
}

void Server::onAccept(tcp::socket socket) {
  ErrorCode ignored;
  // A flood of connections costs a socket each for a moment, never a session.
  if (connections >= limits.connections) {
    ++refusedConnections;
    socket.close(ignored);
    return;
  }
  // Events are small and must not wait for more to fill a packet.
  socket.set_option(tcp::no_delay(true), ignored);
  std::make_shared<Session>(*this, std::move(socket))->start();
}

void Server::deliver(const Text& text) {
  for (Session* session : sessions) {
    if (session->streaming()) session->push(text);
  }
}

void Server::readFile(const std::shared_ptr<Session>& session, std::int32_t number, unsigned version, bool keepAlive) {
  if (fileRequests >= limits.fileRequests) {
    ++filesRefused;
    return session->fileQueueFull(version, keepAlive);
  }
  ++fileRequests;
  std::shared_ptr<std::atomic<bool>> wanted = session->awaitFile();
  std::weak_ptr<Session> asker = session;
  const auto answer = [this, asker, wanted, version, keepAlive](std::optional<std::string> json, bool failed) {
    asio::post(io, [this, asker, wanted, version, keepAlive, json = std::move(json), failed]() mutable {
      --fileRequests;
      const std::shared_ptr<Session> page = asker.lock();
      if (page && *wanted) page->fileRead(std::move(json), failed, version, keepAlive);
    });
  };
  try {
    asio::post(fileIo, [this, wanted, number, answer] {
      if (!*wanted) {
        ++filesDropped;
        return answer(std::nullopt, false);
      }
      try {
        answer(content.fileJson(number), false);
      } catch (...) {
        answer(std::nullopt, true);
      }
    });
  } catch (...) {
    --fileRequests;
    throw;
  }
}

void Server::stop() {
  ErrorCode ignored;
  acceptor.close(ignored);
  acceptRetry.cancel();
  for (Session* session : sessions) session->close();
  work.reset();
  io.stop();
}

// A server thread's body: `io`'s handlers until it is stopped. Every handler catches its own
// failures; this is the thread's last guard.
std::uint32_t runUntilStopped(asio::io_context& io, const char* threadName) {
  platform::nameCurrentThread(threadName);
  for (;;) {
    try {
      io.run();
      return 0;
    } catch (...) {
    }
  }
}

}  // namespace

struct LiveServer::State : Server {
  using Server::Server;
};

bool loopbackAddress(const std::string& address) {
  ErrorCode error;
  const asio::ip::address ip = asio::ip::make_address(address, error);
  return !error && ip.is_loopback();
}

HostNames hostNamesFor(const std::string& bindAddress, std::span<const std::string> machineNames) {
  HostNames accepted;
  ErrorCode error;
  const asio::ip::address ip = asio::ip::make_address(bindAddress, error);
  if (error) return accepted;  // nothing is served there
  if (ip.is_loopback() || ip.is_unspecified()) accepted.names = {"127.0.0.1", "localhost", "[::1]"};
  if (!ip.is_unspecified()) accepted.names.push_back(ip.is_v6() ? "[" + ip.to_string() + "]" : ip.to_string());
  if (!ip.is_loopback()) {
    for (const std::string& name : machineNames) {
      if (name.empty()) continue;
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      accepted.names.push_back(std::move(lower));
    }
  }
  // A wildcard bind answers on every address of the machine, too many to list. An IP literal is
  // safe to answer: rebinding needs a name the attacking site controls, and no DNS answer turns
  // into a Host that is an address.
  accepted.anyIpLiteral = ip.is_unspecified();
  return accepted;
}

HostCheck checkHost(const HostNames& accepted, std::uint16_t port, std::string_view value) {
  // "name", "name:port", "[address]" or "[address]:port".
  std::string_view name = value;
  std::optional<std::string_view> portText;
  const bool bracketed = value.starts_with('[');
  if (const std::size_t colon = bracketed ? value.find("]:") : value.find(':'); colon != std::string_view::npos) {
    name = value.substr(0, bracketed ? colon + 1 : colon);
    portText = value.substr(bracketed ? colon + 2 : colon + 1);
  }
  if (!(bracketed ? bracketedAddress(name) : plainName(name))) return HostCheck::malformed;
  if (portText) {
    constexpr std::size_t kLongestPort = 5;
    if (portText->empty() || portText->size() > kLongestPort ||
        !std::all_of(portText->begin(), portText->end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return HostCheck::malformed;
    }
    // Decimal as browsers write it: "08765" is not a form of 8765 they send.
    if (*portText != std::to_string(port)) return HostCheck::foreign;
  } else if (port != 80) {
    return HostCheck::foreign;
  }
  const bool listed = std::any_of(accepted.names.begin(), accepted.names.end(),
                                  [&](const std::string& ours) { return beast::iequals(ours, name); });
  return listed || (accepted.anyIpLiteral && ipLiteral(name)) ? HostCheck::ours : HostCheck::foreign;
}

LiveServer::LiveServer(const std::string& address, std::uint16_t port, HostNames hosts, LiveContent& content,
                       std::span<const Asset> assets, ServerLimits limits)
    : state_(std::make_unique<State>(std::move(hosts), content, assets, limits)) {
  State& s = *state_;
  const auto cannot = [&](const std::string& why) {
    std::string line = "cannot serve the live view on ";
    line += hostAndPort(address, port);
    line += ": ";
    line += why;
    return HostFailure(line);
  };
  ErrorCode error;
  const asio::ip::address ip = asio::ip::make_address(address, error);
  if (error) throw cannot("not an IP address (127.0.0.1 or ::1 serve this machine alone)");
  const tcp::endpoint endpoint(ip, port);
  s.acceptor.open(endpoint.protocol(), error);
  if (!error) claimListeningPort(s.acceptor, error);
  if (!error) s.acceptor.bind(endpoint, error);
  if (!error) s.acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (!error) s.port = s.acceptor.local_endpoint(error).port();
  if (error) throw cannot(bindFailure(error));
  s.url = "http://";
  s.url += hostAndPort(ip.to_string(), s.port);
  s.url += '/';
  // Below the saving and the driver's threads: a page paging through older files must not take the
  // cores from the newest file on its way to every page.
  const bool workerStarted = s.fileThread.start([&s] { return runUntilStopped(s.fileIo, "dorvane-files"); },
                                                platform::ThreadPriority::background);
  if (!workerStarted) throw cannot("the system refused a thread for it");
  s.accept();
  const bool started = s.thread.start([&s] { return runUntilStopped(s.io, "dorvane-live"); }, platform::ThreadPriority::normal);
  if (!started) {
    s.stopFileWorker();
    throw cannot("the system refused a thread for it");
  }
}

LiveServer::~LiveServer() {
  try {
    asio::post(state_->io, [s = state_.get()] { s->stop(); });
  } catch (...) {
    state_->io.stop();
  }
  state_->thread.join();
  // After the I/O thread: what the worker still answers is posted to a context that no longer runs.
  state_->stopFileWorker();
}

std::string LiveServer::url() const { return state_->url; }
std::uint16_t LiveServer::port() const { return state_->port; }

void LiveServer::publish(std::string_view event, std::string_view json) {
  auto text = std::make_shared<const std::string>(eventText(event, json));
  Server& s = *state_;
  ++s.publishesUnderWay;
  try {
    asio::post(s.io, [&s, text = std::move(text)] {
      try {
        s.deliver(text);
      } catch (...) {
      }
      --s.publishesUnderWay;
    });
  } catch (...) {
    --s.publishesUnderWay;
    throw;
  }
}

void LiveServer::drain(int ms) {
  platform::Clock& clock = platform::systemClock();
  const platform::Deadline deadline(clock, static_cast<std::uint32_t>(std::max(ms, 0)));
  const Server& s = *state_;
  while ((s.publishesUnderWay > 0 || s.backlogBytes > 0) && !deadline.passed()) clock.sleep(kDrainPollMs);
}

LiveServer::Counts LiveServer::counts() const {
  const Server& s = *state_;
  return {s.connections,        s.streams,      s.backlogBytes, s.droppedStreams, s.refusedConnections,
          s.refusedHosts,       s.fileRequests, s.filesRefused, s.filesDropped};
}

}  // namespace dorvane::host::live
