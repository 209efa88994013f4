#pragma once
// A driver's event device read in whole fixed-size records, as the tone and
// the voice-processing receivers' services read theirs. The device is opened
// non-blocking; when the driver goes away (a hang-up seen by the poll or by a
// failed request) it is closed, and the next request opens it again.
#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <iostream>

#include "board/board.h"
#include "foundation/event.h"
#include "foundation/log_limit.h"
#include "foundation/multiplexer.h"
#include "foundation/os.h"
#include "hardware/hang_up.h"

namespace Hardware {

template <class Record>
class RecordDevice : public Event {
public:
  // How the device is named: the path, its open flags, the name in the log
  // lines ("dsproc") and what goes without it ("VAD").
  struct Spec {
    const char* (*path)();
    int flags;
    const char* eventName;
    const char* name;
    const char* feature;
  };

  // Opens the device; a failure is logged and the next request tries again.
  void init() {
    Fd fd = Board::open(spec_.path(), spec_.flags);
    if (!fd.is_valid()) {
      Errno err;
      std::cerr << "open " << spec_.name << " fail, " << spec_.feature << " proceeding disabled: " << err << std::endl;
      return;
    }
    Bind(spec_.eventName, &RecordDevice::OnEvent, this);
    Schedule(fd, POLLIN);
  }

  // Reads every record the driver holds and hands each to its receiver.
  void OnEvent(int fd, short revents) {
    // The driver went away: the close below says so once, for the read too.
    const bool gone = (revents & (POLLERR | POLLHUP)) != 0;
    if (revents & POLLIN) {
      for (;;) {
        Record rec;
        const ssize_t n = ::read(fd, &rec, sizeof rec);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK || gone) break;
          Errno err;
          readLog_.line(std::cerr) << "fail to read from " << spec_.name << ": " << err << std::endl;
          break;
        }
        // A record cut short, or none at all: nothing to hand over, and the
        // pass ends here rather than reading the same end again.
        if (n != static_cast<ssize_t>(sizeof rec)) {
          if (n == 0 && gone) break;
          readLog_.line(std::cerr) << "short read from " << spec_.name << ": " << n << " bytes" << std::endl;
          break;
        }
        deliver(rec);
      }
    }
    // Poll would report it again on every pass; the next request reopens.
    if (gone) {
      std::cerr << spec_.name << " device closed: " << PollEventAsText(revents) << std::endl;
      Release();
    }
  }

protected:
  explicit RecordDevice(const Spec& spec) : spec_(spec) {}

  // The device open, or one attempt to open it.
  bool opened() {
    if (!IsActive()) init();
    return IsActive();
  }

  // ioctl on the device. A device found hung up is closed with the line of
  // a hang-up seen by the poll and asked once more after a new open.
  int request(Board::Request r, void* record) {
    const int result = Board::ioctl(lowlevel_fd(), r, record);
    if (result != -1 || !reopened()) return result;
    return Board::ioctl(lowlevel_fd(), r, record);
  }
  int requestValue(Board::Request r, unsigned long value) {
    const int result = Board::ioctlValue(lowlevel_fd(), r, value);
    if (result != -1 || !reopened()) return result;
    return Board::ioctlValue(lowlevel_fd(), r, value);
  }

  virtual void deliver(const Record& rec) = 0;

private:
  // After a failed request: false when the device is still there (or was
  // not open). errno is the request's when false.
  bool reopened() {
    if (!Hardware::HungUp(lowlevel_fd())) return false;
    std::cerr << spec_.name << " device closed: hung up" << std::endl;
    Release();
    init();
    return IsActive();
  }

  const Spec spec_;
  // What the driver sends decides how often these come.
  Log::Limiter readLog_;
};

}  // namespace Hardware
