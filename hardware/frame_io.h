#pragma once
// What the users of frame channels share: the HDLC controller's channels and
// the DSP's signalling channels carry one frame per read or write on a
// non-blocking descriptor, and HDLC controller channels are opened and
// allocated the same way by each user.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "board/mcc.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
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

// A frame device polled by the main loop: the one read and write path of
// the HDLC controller's channels and the DSP's signalling channels. The
// port polls for POLLOUT only while a write has been refused (or it has
// just opened), so an idle writable device does not wake the loop.
class Port {
public:
  class Owner {
  public:
    // One frame; the packet is emptied after the call.
    virtual void on_port_frame(Packet& frame) = 0;
    // End of file (error 0) or a read error: nothing more will come. The
    // port is still open; the owner closes it.
    virtual void on_port_end(int error) = 0;
    // The device takes frames again, first after opening, then after every
    // refusal.
    virtual void on_port_ready() = 0;
    // The header of the port's log lines.
    virtual void PutHeader(std::ostream& os) const = 0;

  protected:
    ~Owner() = default;
  };

  // The port's log lines go through the owner's limiter, which the owner's
  // own lines share.
  Port(Owner& owner, Log::Limiter& lines) : owner_(owner), lines_(lines) {}
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // The handler the loop calls with the descriptor's events; it passes them
  // to serve(), or to read() and ready_on().
  template <class T>
  void bind(const char* name, void (T::*handler)(int, short), T* obj) {
    event_.Bind(name, handler, obj);
  }

  // Polls a duplicate of fd for reading and writing; not ready until the
  // device says it is writable.
  void open(const Fd& fd);
  void close();
  bool is_open() const { return event_.IsActive(); }
  bool is_ready() const { return ready_; }
  // What the device is polled for, 0 once it is not.
  short polled() const { return is_open() ? event_.events() : 0; }

  // read() when the events carry input, a hang-up or an error, then
  // ready_on().
  void serve(short revents);
  // One frame off the device to the owner; frames lost on the way are
  // logged (and a frame too long for the packet counted).
  void read();
  // POLLOUT while open and not ready: ready, polled for input only, and
  // the owner told.
  void ready_on(short revents);
  // A frame the port is open for; Busy leaves it not ready until POLLOUT.
  Write write(const Packet& frame);

  static bool Readable(short revents);

private:
  Owner& owner_;
  Log::Limiter& lines_;
  Event event_;
  bool ready_ = false;
  // Frames longer than the read buffer since the port opened.
  std::uint32_t cut_ = 0;
};

}  // namespace FrameIO
