#include "hardware/frame_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>

#include "board/board.h"
#include "foundation/ext_text.h"

namespace FrameIO {

ssize_t ReceiveFrame(int fd, void* buf, std::size_t cap) {
  ssize_t n;
#ifndef ULVAROND_BOARD_REAL
  // The simulated drivers are sockets; the board's frame devices never are,
  // so the board reads them at once instead of a refused recv first.
  do {
    n = ::recv(fd, buf, cap, MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  if (n >= 0 || errno != ENOTSOCK) return n;
#endif
  do {
    n = ::read(fd, buf, cap);
  } while (n < 0 && errno == EINTR);
  return n;
}

Read ReadFrame(int fd, Packet& frame, int& error, std::size_t& length) {
  error = 0;
  length = 0;
  ssize_t n;
  if (frame.try_reserve_head(0)) {
    const std::size_t cap = frame._tailroom();
    n = ReceiveFrame(fd, frame.tail(), cap);
    if (n > 0) {
      length = static_cast<std::size_t>(n);
      if (length > cap) return Read::Cut;
      frame.put(static_cast<unsigned>(n));
      return Read::Frame;
    }
  } else {
    // The rest of the record goes with its first octet; left there, the
    // frame would wake the loop at once again.
    unsigned char scrap[1];
    n = ReceiveFrame(fd, scrap, sizeof scrap);
    if (n > 0) {
      length = static_cast<std::size_t>(n);
      return Read::Dropped;
    }
  }
  if (n == 0) return Read::Ended;
  if (errno == EAGAIN || errno == EWOULDBLOCK) return Read::Dry;
  error = errno;
  return Read::Ended;
}

Write WriteFrame(int fd, const Packet& frame) {
  const unsigned len = frame.length();
  ssize_t n;
  do {
    n = ::write(fd, frame.cdata(), len);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(len)) return Write::Sent;
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Write::Busy;
  return Write::Failed;
}

Fd OpenMccChannel(const Board::Mcc::Allocate& rec, const std::string& header) {
  Fd fd = Board::open(Board::Mcc::kDevice, O_RDWR | O_NONBLOCK);
  if (!fd.is_valid()) {
    const Errno err;
    LOG_LIMITED(std::cerr) << header << "fail to open MCC device: " << err << std::endl;
    return Fd();
  }
  Board::Mcc::Allocate arg = rec;
  if (Board::ioctl(fd.lowlevel_fd(), Board::Mcc::kAllocate, &arg) < 0) {
    const Errno err;
    LOG_LIMITED(std::cerr) << header << "MCC_ALLOCATE fail: " << err << std::endl;
    return Fd();
  }
  return fd;
}

bool Port::Readable(short revents) { return (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0; }

void Port::open(const Fd& fd) {
  event_.Schedule(fd, POLLIN | POLLOUT);
  ready_ = false;
  cut_ = 0;
}

void Port::close() {
  event_.Release();
  ready_ = false;
}

void Port::serve(short revents) {
  if (Readable(revents)) read();
  ready_on(revents);
}

void Port::read() {
  Packet frame;
  int error = 0;
  std::size_t length = 0;
  switch (ReadFrame(event_.lowlevel_fd(), frame, error, length)) {
    case Read::Frame:
      owner_.on_port_frame(frame);
      frame.clear();
      return;
    case Read::Dropped:
      lines_.line(std::cerr) << ext::header(&owner_) << "no packet buffer: received frame dropped" << std::endl;
      return;
    case Read::Cut:
      ++cut_;
      lines_.line(std::cerr) << ext::header(&owner_) << "received frame of " << length << " octets cut to "
                             << frame._tailroom() << ": dropped (" << cut_ << " so far)" << std::endl;
      return;
    case Read::Dry:
      return;
    case Read::Ended:
      owner_.on_port_end(error);
      return;
  }
}

void Port::ready_on(short revents) {
  if (!(revents & POLLOUT) || !is_open() || ready_) return;
  ready_ = true;
  event_.SetEvents(POLLIN);
  owner_.on_port_ready();
}

Write Port::write(const Packet& frame) {
  const Write result = WriteFrame(event_.lowlevel_fd(), frame);
  if (result == Write::Busy) {
    ready_ = false;
    event_.SetEvents(POLLIN | POLLOUT);
  }
  return result;
}

}  // namespace FrameIO
