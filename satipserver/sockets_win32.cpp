// The server's sockets under Windows: one sendto a datagram (Winsock has no batch send).
#include <winsock2.h>

#include "satipserver/sockets.h"

namespace satipserver {

const bool kListenReusesAddress = false;

void SendDatagrams(asio::ip::udp::socket& socket, Datagram* datagrams, std::size_t count) {
  const SOCKET handle = socket.native_handle();
  for (std::size_t i = 0; i < count; ++i) {
    Datagram& datagram = datagrams[i];
    const int sent = ::sendto(handle, reinterpret_cast<const char*>(datagram.data),
                              static_cast<int>(datagram.size), 0, datagram.to->data(),
                              static_cast<int>(datagram.to->size()));
    datagram.sent = sent == static_cast<int>(datagram.size);
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      return;  // the buffer is full: the rest are not sent
    }
  }
}

}  // namespace satipserver
