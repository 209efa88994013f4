#include "slots/mcc_slot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <sstream>

#include "board/board.h"
#include "board/mcc.h"
#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "hardware/frame_io.h"
#include "messages/LGCP.h"

namespace Mcc = Board::Mcc;

// MccSlot ---------------------------------------------------------------------

MccSlot::MccSlot(Fd channel, std::size_t frameSize)
    : timeslot(Board::ioctlValue(channel.lowlevel_fd(), Mcc::kTimeslot, 0)),
      frameSize(frameSize),
      device(std::move(channel)) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event.Schedule(device, POLLIN);
}

void MccSlot::PutHeader(std::ostream& os) const { os << "mcc[" << timeslot << "]: "; }

bool MccSlot::IUserData(std::vector<char> const& data) {
  // Nothing to write: no frame, and no success for what carries nothing.
  if (data.empty()) {
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return false;
  }
  // The far channel would take no more than its frame size.
  if (frameSize && data.size() > frameSize) {
    notes.line(std::cerr) << ext::header(this) << "userData of " << data.size()
                          << " octets refused: frames carry at most " << frameSize << std::endl;
    SetErrorCause(LGCP::ErrorCause::invalidParams);
    return false;
  }
  const ssize_t n = ::write(device.lowlevel_fd(), data.data(), data.size());
  if (n == static_cast<ssize_t>(data.size())) return true;
  if (n < 0) {
    const Errno err;
    notes.line(std::cerr) << ext::header(this) << "userData write fail: " << err << std::endl;
  } else {
    notes.line(std::cerr) << ext::header(this) << "userData write short: " << n << " of " << data.size() << " bytes"
                          << std::endl;
  }
  SetErrorCause(LGCP::ErrorCause::busError);
  return false;
}

bool MccSlot::DoRead(int fd) {
  char buf[kReadSize];
  for (;;) {
    const ssize_t n = frameSize ? FrameIO::ReceiveFrame(fd, buf, sizeof buf) : ::read(fd, buf, sizeof buf);
    if (n > static_cast<ssize_t>(sizeof buf)) {
      ++cutFrames;
      notes.line(std::cerr) << ext::header(this) << "received frame of " << n << " octets cut to " << sizeof buf
                            << ": dropped (" << cutFrames << " so far)" << std::endl;
      continue;
    }
    if (n > 0) {
      OnUserData(std::vector<char>(buf, buf + n));
      continue;
    }
    if (n == 0) return true;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    const Errno err;
    notes.line(std::cerr) << ext::header(this) << "read fail: " << err << std::endl;
    return true;
  }
}

void MccSlot::OnEvent(int fd, short revents) {
  const bool ended = (revents & POLLIN) ? DoRead(fd) : true;
  // A channel that hung up stays readable at end of file: polling it on
  // would spin the loop.
  if (ended && (revents & (POLLHUP | POLLERR | POLLNVAL))) {
    notes.line(std::cerr) << ext::header(this) << "channel hung up, not read any more" << std::endl;
    event.Release();
  }
}

// MccFactory ------------------------------------------------------------------

MccFactory& MccFactory::instance() {
  static MccFactory factory;
  return factory;
}

void MccFactory::PutHeader(std::ostream& os) const { os << "mcc: "; }

std::int32_t MccFactory::ChannelType(int type, int mode) {
  if (mode == LGCP::MccMode::ss7) return Mcc::kTypeSs7;
  switch (type) {
    case LGCP::MccType::bri:
      return Mcc::kTypeBri;
    case LGCP::MccType::transparent:
      return Mcc::kTypeTransparent;
    default:
      return Mcc::kTypeData;
  }
}

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.mcc_isSelected()) return nullptr;
  const LGCP::MccParams& p = params.get_mcc();
  Mcc::Allocate rec{ChannelType(p.get_type().asInt(), p.get_mode().asInt()), kRxPacketSize, 0, kRxThreshold,
                    kTxThreshold};
  LOG_LIMITED(std::clog) << ext::header(this) << "MCC_ALLOCATE"
                         << " type=" << rec.mode << std::endl;
  std::ostringstream header;
  header << ext::header(this);
  Fd fd = FrameIO::OpenMccChannel(rec, header.str());
  if (!fd) return nullptr;
  return new MccSlot(std::move(fd), rec.mode == Mcc::kTypeTransparent ? 0 : std::size_t(rec.rxSize));
}

void MccFactory::Query(LGCP::Resources& resources) {
  resources.set_mcc_data(0);
  resources.set_mcc_bri(0);
  resources.set_mcc_trans(0);
  Fd fd = Board::open(Mcc::kDevice, O_RDONLY);
  if (!fd) return;
  Mcc::Resources rec{};
  if (Board::ioctl(fd.lowlevel_fd(), Mcc::kResources, &rec) < 0) return;
  resources.set_mcc_data(rec.data);
  resources.set_mcc_bri(rec.bri);
  resources.set_mcc_trans(rec.transparent);
}
