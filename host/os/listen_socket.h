// The one socket option of the live view's listening socket that differs between systems: one
// source per system, as for the rest of the host.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>

namespace dorvane::host::live {

// Before bind: a program started again at once gets its port back, and no other program can listen
// on it beside us.
void claimListeningPort(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error);

}  // namespace dorvane::host::live
