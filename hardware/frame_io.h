#pragma once
// What the users of frame channels share: the HDLC controller's channels and
// the DSP's signalling channels carry one frame per read or write on a
// non-blocking descriptor, and HDLC controller channels are opened and
// allocated the same way by each user.
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "board/mcc.h"
#include "foundation/os.h"
#include "transport/packet.h"

namespace FrameIO {

enum class Read {
  Frame,    // the packet holds one frame
  Dry,      // nothing to read now
  Dropped,  // no packet buffer: the frame was taken off the device and lost
  Cut,      // longer than the packet takes: taken off the device and lost
  Ended,    // end of file (error 0) or a read error: nothing more will come
};

// One frame into the packet, which must hold nothing yet; repeats on EINTR.
// The frame's whole length goes to length (for Cut, more than was kept).
Read ReadFrame(int fd, Packet& frame, int& error, std::size_t& length);

// One frame into buf, repeated on EINTR: the frame's whole length, more than
// cap when the rest of it was lost, or -1 with errno. A socket tells the
// length of a frame longer than the buffer; another descriptor reads as its
// driver does.
ssize_t ReceiveFrame(int fd, void* buf, std::size_t cap);

enum class Write {
  Sent,    // the whole frame
  Busy,    // the device would block: wait for POLLOUT
  Failed,  // an error, or part of the frame only
};

// The frame's octets in one write, repeated on EINTR.
Write WriteFrame(int fd, const Packet& frame);

// Opens "/dev/mcc/ctl" read-write and non-blocking and allocates a channel
// with the record. An empty descriptor after "fail to open MCC device: " or
// "MCC_ALLOCATE fail: " with the error text, under the header, on the error
// stream.
Fd OpenMccChannel(const Board::Mcc::Allocate& rec, const std::string& header);

}  // namespace FrameIO
