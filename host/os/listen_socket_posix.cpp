// POSIX: without SO_REUSEADDR the connections of the last run, closed but kept in TIME_WAIT for a
// minute, would hold the port; SO_REUSEADDR never lets two listeners share it here.
#include "host/os/listen_socket.h"

namespace dorvane::host::live {

void claimListeningPort(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error) {
  acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
}

}  // namespace dorvane::host::live
