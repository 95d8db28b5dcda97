// The server's sockets on Linux: batches of datagrams by sendmmsg, and within
// a batch the datagrams of one stream in a row sent as one message that the
// kernel cuts into them (UDP segmentation offload, UDP_SEGMENT), so that the
// network stack is passed once for many. Where the kernel or the route cannot
// cut them, each datagram goes as a message of its own from then on.
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "satipserver/sockets.h"

namespace satipserver {

const bool kListenReusesAddress = true;

namespace {

constexpr std::size_t kBatch = 64;         // messages a call
constexpr std::size_t kMostSegments = 48;  // datagrams a message: 48 of 1328 bytes within 64 KiB
constexpr std::size_t kMostBytes = 65000;
constexpr std::size_t kControl = CMSG_SPACE(sizeof(std::uint16_t));

bool segmenting = true;

// Whether the failure says that the kernel or the route cannot cut a message.
bool CannotSegment(int error) {
  return error == EINVAL || error == EIO || error == ENOPROTOOPT || error == EOPNOTSUPP;
}

}  // namespace

void SendDatagrams(asio::ip::udp::socket& socket, Datagram* datagrams, std::size_t count) {
  mmsghdr headers[kBatch];
  alignas(cmsghdr) char controls[kBatch][kControl];
  iovec pieces[kBatch * kMostSegments];
  std::size_t firsts[kBatch + 1];  // each message's first datagram, and the end
  const int handle = socket.native_handle();
  std::size_t next = 0;
  while (next < count) {
    // Up to kBatch messages, each a run of datagrams to one place, all of one
    // size but the last, which may be shorter.
    std::size_t used = 0;
    std::size_t piece = 0;
    std::size_t at = next;
    while (used < kBatch && at < count) {
      const Datagram& first = datagrams[at];
      std::size_t end = at + 1;
      std::size_t bytes = first.size;
      while (segmenting && end < count && end - at < kMostSegments &&
             datagrams[end].to == first.to && datagrams[end - 1].size == first.size &&
             datagrams[end].size <= first.size && bytes + datagrams[end].size <= kMostBytes) {
        bytes += datagrams[end].size;
        ++end;
      }
      headers[used] = {};
      msghdr& header = headers[used].msg_hdr;
      header.msg_name = const_cast<sockaddr*>(first.to->data());
      header.msg_namelen = static_cast<socklen_t>(first.to->size());
      header.msg_iov = &pieces[piece];
      header.msg_iovlen = end - at;
      for (std::size_t i = at; i < end; ++i) {
        pieces[piece++] = {const_cast<std::uint8_t*>(datagrams[i].data), datagrams[i].size};
      }
      if (end - at > 1) {
        header.msg_control = controls[used];
        header.msg_controllen = kControl;
        cmsghdr* segment = CMSG_FIRSTHDR(&header);
        segment->cmsg_level = SOL_UDP;
        segment->cmsg_type = UDP_SEGMENT;
        segment->cmsg_len = CMSG_LEN(sizeof(std::uint16_t));
        const auto size = static_cast<std::uint16_t>(first.size);
        std::memcpy(CMSG_DATA(segment), &size, sizeof size);
      }
      firsts[used++] = at;
      at = end;
    }
    firsts[used] = at;
    std::size_t done = 0;
    while (done < used) {
      const int sent =
          sendmmsg(handle, headers + done, static_cast<unsigned>(used - done), MSG_DONTWAIT);
      if (sent > 0) {
        for (std::size_t i = firsts[done]; i < firsts[done + static_cast<std::size_t>(sent)]; ++i) {
          datagrams[i].sent = true;
        }
        done += static_cast<std::size_t>(sent);
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return;  // the buffer is full: the rest are not sent
      } else if (segmenting && headers[done].msg_hdr.msg_iovlen > 1 && CannotSegment(errno)) {
        segmenting = false;  // from this message on, a datagram a message
        break;
      } else if (errno != EINTR) {
        ++done;  // this one cannot go (no route, too large): the others still may
      }
    }
    next = firsts[done];
  }
}

}  // namespace satipserver
