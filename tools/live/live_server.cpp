// Placeholder until the server lands.
#include "tools/live/live_server.h"

#include "tools/host_failure.h"

namespace dorvane::host::live {

struct LiveServer::State {};

LiveServer::LiveServer(const std::string&, std::uint16_t, LiveContent&, std::span<const Asset>, ServerLimits) {
  throw HostFailure("the live view is not built yet");
}
LiveServer::~LiveServer() = default;
std::string LiveServer::url() const { return {}; }
std::uint16_t LiveServer::port() const { return 0; }
void LiveServer::publish(std::string_view, std::string_view) {}
void LiveServer::drain(int) {}
LiveServer::Counts LiveServer::counts() const { return {}; }

}  // namespace dorvane::host::live
