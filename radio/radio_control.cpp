#include "radio/radio_control.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "board/board.h"
#include "foundation/mux_time.h"
#include "hardware/dev_names.h"

namespace RTPSignalling {

namespace E = Board::RtpExt;

namespace {

// 0.0.0.0 (and its net) stands for no address known; multicast, reserved and
// broadcast addresses never send a stream.
bool IsUnicast(in_addr const& a) {
  const std::uint32_t h = ntohl(a.s_addr);
  return (h >> 24) != 0 && h < 0xE0000000u;
}

}  // namespace

const char* GetRtpExtDevName() { return ::GetRtpExtDevName(); }

RadioControl::RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : type(RadioControlExtSession), id(static_cast<std::uint32_t>(id)), init(init), attach(attach) {
  Init(RadioControlExtSession);
}

RadioControl::RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : type(RadioControlRtpOnly), id(static_cast<std::uint32_t>(id)), rtpDevice(std::move(rtp)), rtpAttach(attach) {
  Init(RadioControlRtpOnly);
}

RadioControl::RadioControl(rtp_ext_init_params const& init) : type(RadioControlExtInitOnly), init(init) {
  Init(RadioControlExtInitOnly);
}

RadioControl::~RadioControl() = default;

void RadioControl::Init(RadioControlType t) {
  type = t;
  now = Mux::milliseconds();
  interval = 1000;
  filterActive = filterSet = false;
  notify = nullptr;
  timerEnabled = false;
  debug = false;
  // Shape 1 has no session to watch and never reads.
  if (type != RadioControlRtpOnly) event.Bind("RadioControl::OnRtpExtEvent", &RadioControl::OnSessionEvent, this);
  RtpExtStart(true);
}

bool RadioControl::RtpExtStart(bool reopen) {
  switch (type) {
    case RadioControlExtSession:
      return OpenSession(true);
    case RadioControlRtpOnly:
      if (Board::ioctl(rtpDevice.lowlevel_fd(), Board::Rtp::kAttachSession, &rtpAttach) < 0) {
        Failure("attach rtp session");
        return false;
      }
      return true;
    case RadioControlExtInitOnly:
      return reopen ? OpenSession(false) : true;
  }
  return true;
}

bool RadioControl::OpenSession(bool bind) {
  // Non-blocking: the receive loops read until a read gives nothing.
  Fd fd = Board::open(GetRtpExtDevName(), O_RDWR | O_NONBLOCK);
  if (!fd) {
    Failure("create rtp_ext session");
    return false;
  }
  if (Board::ioctl(fd.lowlevel_fd(), E::kInit, &init) < 0) {
    Failure("init rtp_ext session");
    return false;
  }
  if (bind && Board::ioctl(fd.lowlevel_fd(), E::kAttachSession, &attach) < 0) {
    Failure("attach rtp_ext session");
    return false;
  }
  session = std::move(fd);
  event.Schedule(session, POLLIN);
  // A new session filters nothing yet.
  filterSet = false;
  if (filterActive) ApplyFilter();
  return true;
}

bool RadioControl::RtpExtStop() {
  if (type == RadioControlRtpOnly) {
    rtpDevice.close();
    return true;
  }
  if (type != RadioControlExtSession || !session) return true;
  if (Board::ioctl(session.lowlevel_fd(), E::kDetachSession, &attach) < 0) Failure("detach rtp_ext session");
  event.Release();
  session.close();
  filterSet = false;
  return true;
}

void RadioControl::SetRtpDescriptor(const Fd& rtp) {
  if (type == RadioControlExtSession)
    attach.fd_rtp = rtp.lowlevel_fd();
  else if (type == RadioControlRtpOnly)
    rtpDevice = rtp;
}

void RadioControl::UpdateAccess(bool enable, in_addr const& source) {
  // A filter on an address that cannot be a talker's would drop everyone.
  if (enable && IsUnicast(source)) {
    if (filterActive && filter.addr == source.s_addr && (filterSet || !session)) return;
    filter.addr = source.s_addr;
    filter.reserved = 0;
    filterActive = true;
    ApplyFilter();
    return;
  }
  if (!filterActive && !filterSet) return;
  filterActive = false;
  filter = {};
  if (!session || !filterSet) return;
  rtp_ext_filter_params zero = {};
  if (Board::ioctl(session.lowlevel_fd(), E::kResetFilter, &zero) < 0) {
    Failure("reset filer rtp_ext session");
    return;
  }
  filterSet = false;
}

void RadioControl::ApplyFilter() {
  if (!session) return;
  rtp_ext_filter_params f = filter;
  if (Board::ioctl(session.lowlevel_fd(), E::kSetFilter, &f) < 0) {
    Failure("set filer rtp_ext session");
    filterSet = false;
    return;
  }
  filterSet = true;
}

void RadioControl::SetTimerEnable(bool on) {
  timerEnabled = on;
  if (on)
    SetTimer(interval);
  else
    timer.reset();
}

void RadioControl::SetTimer(std::uint32_t ms) { timer.set<RadioControl>(ms, &RadioControl::OnProcessStatus, this); }

void RadioControl::OnProcessStatus(Timer*) {
  const std::uint32_t period = interval;
  now = Mux::milliseconds();
  const std::uint32_t delay = ProcessRadioStatus(now, period);
  // The engine may have switched its timer off from inside.
  if (timerEnabled) SetTimer(delay);
}

std::uint32_t RadioControl::ProcessRadioStatus(std::uint32_t, std::uint32_t period) { return period; }

void RadioControl::OnSessionEvent(int fd, short revents) {
  if (revents & POLLIN) OnRtpExtEvent(fd, revents);
  // Nothing more arrives on a session that hung up, and watching it would
  // wake the loop on every pass.
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    failures.line(std::cerr) << GetPrefix() << " rtp_ext session hung up !!!" << std::endl;
    event.Release();
  }
}

void RadioControl::OnRtpExtEvent(int, short revents) {
  if ((revents & POLLIN) && debug) traces.line(std::clog) << GetPrefix() << " receive extension packet(s)!" << std::endl;
}

int RadioControl::RequestNextPacket() {
  const int rc = Board::ioctl(session.lowlevel_fd(), E::kNextPacket, &nextPacket);
  if (rc >= 1)
    ++stats.notified;
  else if (rc < 0)
    stats.nextPacketErrno = static_cast<std::uint32_t>(errno);
  return rc;
}

ssize_t RadioControl::ReadPacket(unsigned char* buf, std::size_t size) {
  const ssize_t n = ::read(session.lowlevel_fd(), buf, size);
  if (n > 0)
    stats.bytesRead += static_cast<std::uint32_t>(n);
  else if (n < 0)
    stats.readErrno = static_cast<std::uint32_t>(errno);
  return n;
}

ssize_t RadioControl::WritePacket(const unsigned char* data, std::size_t len) {
  const ssize_t n = ::write(session.lowlevel_fd(), data, len);
  if (n > 0) {
    stats.bytesWritten += static_cast<std::uint32_t>(n);
    ++stats.written;
  } else if (n < 0) {
    stats.writeErrno = static_cast<std::uint32_t>(errno);
  }
  return n;
}

const std::string& RadioControl::GetPrefix() {
  Mux::timeval t;
  Mux::gettimeval(t);
  const std::string time = Mux::timevaltostring(t);
  char text[254];
  if (type == RadioControlExtInitOnly)
    std::snprintf(text, sizeof text, "rtp_ext %s:", time.c_str());
  else
    std::snprintf(text, sizeof text, "rtp_ext[%lu] %s:", static_cast<unsigned long>(id), time.c_str());
  prefix = text;
  return prefix;
}

void RadioControl::Failure(const char* what) {
  const Errno err;
  failures.line(std::cerr) << GetPrefix() << " " << what << " fail !!! (" << err << ")" << std::endl;
}

}  // namespace RTPSignalling
