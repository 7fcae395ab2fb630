// The live view's HTTP server: the page and its embedded assets, the run as JSON, and the event
// stream that pushes each change to every open page. It runs on a thread of its own, so that no
// browser (slow, stalled or gone) ever holds up the acquisition that publishes to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane::host::live {

// A file of the page, embedded in the program at build time: served at /assets/<path>, and
// "index.html" at /.
struct Asset {
  std::string_view path;
  std::string_view contentType;  // e.g. "text/html": text is always UTF-8
  std::string_view body;
};

// What the server hands out of the run, never called while the server holds a lock of its own; the
// answers are whole JSON texts.
class LiveContent {
 public:
  virtual ~LiveContent() = default;
  // {"state": {...}, "files": [...]}: everything a page needs to show the run so far. Quick: on the
  // server's I/O thread.
  virtual std::string runJson() = 0;
  // The data of the run's file `number` (1 for the first) when it is at hand in memory: quick, on
  // the I/O thread. None sends the request to fileJson.
  virtual std::optional<std::string> heldFileJson(std::int32_t number) = 0;
  // The data of the run's file `number`, read from the disk if need be, or none when the run has no
  // such file. On the server's file worker, one request at a time, so the event streams never wait
  // on a disk.
  virtual std::optional<std::string> fileJson(std::int32_t number) = 0;
};

// What a browser may cost the program; beyond them it is refused or cut off.
struct ServerLimits {
  std::size_t headerBytes = 8 * 1024;  // the request line and its header fields
  std::size_t headerFields = 64;
  int connections = 32;                          // open at once; one more is closed at once
  std::size_t streamBacklogBytes = 1024 * 1024;  // unsent events for one page; beyond: it is dropped
  int requestSeconds = 10;                       // to send a whole request, and between requests
  int writeSeconds = 10;                         // to take a whole response (not the event stream)
  int fileRequests = 8;  // files waiting for the worker or being read; one more is answered 503
};

// The names the server answers to. A browser sends the name it opened the page at as Host; a site
// that points a name of its own at this machine (DNS rebinding) sends that name, and is refused
// before any route, so it never reads the run through the user's browser.
struct HostNames {
  std::vector<std::string> names;  // lower case, IPv6 addresses in brackets: "127.0.0.1", "localhost", "[::1]"
  bool anyIpLiteral = false;       // any IPv4 address, or IPv6 address in brackets, too
};

// 127.0.0.0/8 and ::1: the addresses only this machine reaches.
bool loopbackAddress(const std::string& address);

// The names of a server bound to `bindAddress`: the address itself; 127.0.0.1, localhost and [::1]
// when it serves loopback (a loopback address, 0.0.0.0 or ::); beyond loopback, `machineNames`
// too (in any case). A wildcard bind (0.0.0.0, ::) also answers any IP literal.
HostNames hostNamesFor(const std::string& bindAddress, std::span<const std::string> machineNames);

enum class HostCheck {
  ours,
  foreign,    // well-formed, but another name or port: 403
  malformed,  // empty, not a host[:port] of letters, digits, '-', '.', '_' (no comma, no userinfo): 400
};
// The value of a request's one Host field against the names and the port served. Names match
// whole and without regard to case; the port must be the port served, left out only for port 80
// (as browsers do).
HostCheck checkHost(const HostNames& accepted, std::uint16_t port, std::string_view value);

class LiveServer {
 public:
  // Listens on `address`:`port` (0: any free port) and starts serving requests whose Host is one of
  // `hosts`. Throws HostFailure with one line when it cannot, e.g. "cannot serve the live view on
  // 127.0.0.1:8765: the port is in use (--live=PORT chooses another)".
  LiveServer(const std::string& address, std::uint16_t port, HostNames hosts, LiveContent& content,
             std::span<const Asset> assets, ServerLimits limits = {});
  // Closes every connection and ends the thread.
  ~LiveServer();
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;

  // "http://127.0.0.1:8765/"
  std::string url() const;
  std::uint16_t port() const;

  // Sends "event: NAME" with `json` as its data to every open event stream. Never blocks on a
  // browser: a page whose unsent events would pass the backlog limit is disconnected (its page
  // reconnects and catches up from runJson). Any thread.
  void publish(std::string_view event, std::string_view json);
  // Waits up to `ms` for every event stream to have taken what was published: the last state
  // reaches the pages before the program ends.
  void drain(int ms);

  // What the server holds now, for the tests and the measurements.
  struct Counts {
    int connections = 0;  // open, of every kind
    int streams = 0;      // event streams among them
    std::size_t backlogBytes = 0;
    std::uint64_t droppedStreams = 0;  // cut off for a backlog over the limit
    std::uint64_t refusedConnections = 0;
    std::uint64_t refusedHosts = 0;  // requests refused for their Host field (400 or 403)
    int fileRequests = 0;            // waiting for the file worker, being read, or their answer being posted
    std::uint64_t filesRefused = 0;  // 503: the worker's queue was full
    std::uint64_t filesDropped = 0;  // their page went away before the worker came to them
  };
  Counts counts() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dorvane::host::live
