#include "hardware/hdlc.h"

#include <cstring>
#include <iostream>
#include <sstream>

#include "board/board.h"
#include "board/mcc.h"
#include "control/trace_ctl.h"
#include "foundation/ext_text.h"
#include "foundation/os.h"
#include "hardware/frame_io.h"
#include "hardware/hw_mux.h"

namespace {

namespace Mcc = Board::Mcc;

class NullClient : public HDLC::Notify {
public:
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

HDLC::Notify* NullNotify() {
  static NullClient client;
  return &client;
}

// The driver's code for the channel's mode; -1 for none.
std::int32_t ModeCode(int mode) {
  switch (mode) {
    case 0:
      return 3;
    case 1:
      return 0;
    case 2:
      return 1;
    default:
      return -1;
  }
}

bool Tracing() { return traces.signalling.hdlc; }

}  // namespace

GenericHDLC::~GenericHDLC() = default;

HDLC::Notify::~Notify() = default;

HDLC::HDLC() : HDLC(HwMux::instance()) {}

HDLC::HDLC(HwMux& mux) : mux_(mux), params_{0, 0, -1, -1, 0}, stats_{}, client_(NullNotify()) {
  // Bound once: a client may reactivate the channel from inside a callback,
  // while the handler is running.
  port_.bind("HDLC::OnEvent", &HDLC::on_event, this);
}

HDLC::~HDLC() { close(); }

void HDLC::bind(Notify* client) { client_ = client ? client : NullNotify(); }

void HDLC::unbind() { client_ = NullNotify(); }

void HDLC::PutHeader(std::ostream& os) const { os << "hdlc [" << trunk_ << "/" << params_.timeslot << "]: "; }

bool HDLC::activate() {
  deactivate();
  stats_ = Statistics{};

  Mcc::Allocate rec;
  std::memset(&rec, 0, sizeof rec);
  rec.mode = ModeCode(params_.mode);
  rec.rxSize = kFrameSize;
  rec.reserved = 0;
  rec.rxThreshold = 1;
  rec.txThreshold = 4;
  std::ostringstream header;
  header << ext::header(this);
  Fd fd = FrameIO::OpenMccChannel(rec, header.str());
  if (!fd) return false;
  const int channel = Board::ioctlValue(fd.lowlevel_fd(), Mcc::kTimeslot, 0);
  if (channel < 0) {
    Errno err;
    lines_.line(std::cerr) << ext::header(this) << "MCC_TIMESLOT fail: " << err << std::endl;
    return false;
  }

  // The channel transmits to the link, then receives from it. A channel left
  // half connected would feed or hear a timeslot nobody asked for.
  channel_ = channel;
  const int out = params_.mode == 2 ? params_.tdmOut : params_.tdm;
  if (!mux_.Connect(channel, out)) {
    lines_.line(std::cerr) << ext::header(this) << "activate: connect " << channel << " -> " << out << " failed"
                           << std::endl;
    close();
    return false;
  }
  linkOutput_ = out;
  if (!mux_.Connect(params_.tdm, channel)) {
    lines_.line(std::cerr) << ext::header(this) << "activate: connect " << params_.tdm << " -> " << channel << " failed"
                           << std::endl;
    close();
    return false;
  }
  inputLinked_ = true;

  port_.open(fd);
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "activated" << std::endl;
  return true;
}

void HDLC::close() {
  port_.close();
  // The output idles and the channel hears nothing, so the controller
  // channel can be handed out again without an old timeslot attached.
  if (linkOutput_ >= 0) mux_.Disconnect(linkOutput_);
  if (inputLinked_) mux_.Disconnect(channel_);
  linkOutput_ = -1;
  inputLinked_ = false;
  channel_ = -1;
}

void HDLC::deactivate() {
  close();
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::on_event(int, short events) {
  // A hang-up or an error is seen by the read, which then closes the channel.
  if (FrameIO::Port::Readable(events)) do_read();
  port_.ready_on(events);
}

void HDLC::on_port_ready() { client_->on_hdlc_ready(); }

void HDLC::do_read() {
  if (Tracing()) lines_.line(std::clog) << ext::header(this) << "do_read" << std::endl;
  if (!is_open()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  port_.read();
}

void HDLC::on_port_frame(Packet& frame) {
  if (Tracing()) lines_.line(std::clog) << "HDLC[" << trunk_ << "]: rx " << frame.text() << std::endl;
  ++stats_.rxSU;
  client_->on_hdlc_receive(frame);
}

void HDLC::on_port_end(int error) {
  // The end of the descriptor is a read error too: nothing more will come.
  const char* reason = error == 0 ? "end of file" : std::strerror(error);
  lines_.line(std::cerr) << ext::header(this) << "read error: " << reason << std::endl;
  deactivate();
  client_->on_hdlc_error(Notify::Cause::read_error);
}

bool HDLC::hdlc_transmit(Packet& frame) {
  if (frame.empty()) return true;
  if (!is_open()) {
    ++stats_.txDiscard;
    return false;
  }
  if (Tracing()) lines_.line(std::clog) << "HDLC[" << trunk_ << "]: tx " << frame.text() << std::endl;
  switch (port_.write(frame)) {
    case FrameIO::Write::Sent:
      ++stats_.txSU;
      return true;
    case FrameIO::Write::Busy:
      return false;
    case FrameIO::Write::Failed:
      break;
  }
  // A failure, or part of the frame only: the peer gets no whole frame.
  ++stats_.txError;
  return false;
}
