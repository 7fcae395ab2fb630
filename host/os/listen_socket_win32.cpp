// Windows: SO_REUSEADDR would let a second program listen on our port, so it stays off; closed
// connections do not hold a port against a new listener there. Exclusive use keeps the port ours.
#include <winsock2.h>

#include "host/os/listen_socket.h"

namespace dorvane::host::live {

void claimListeningPort(boost::asio::ip::tcp::acceptor& acceptor, boost::system::error_code& error) {
  const BOOL on = TRUE;
  if (::setsockopt(acceptor.native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
    error.assign(::WSAGetLastError(), boost::system::system_category());
  }
}

}  // namespace dorvane::host::live
