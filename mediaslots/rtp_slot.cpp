#include "mediaslots/rtp_slot.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <sstream>

#include "board/board.h"
#include "hardware/hw_mux.h"
#include "mediaslots/rtcp.h"
#include "messages/LGCP.h"
#include "messages/TERM.h"

namespace {

// The encoder's buffer; the packets the daemon sends are far smaller.
constexpr unsigned kRtcpBuffer = 1024;

void PutQuotedError(std::ostream& os, const Errno& err) { os << " errno=\"" << err << "\""; }

}  // namespace

// RtpSlot ---------------------------------------------------------------------

RtpSlot::RtpSlot(int tdm_, Fd device_, rtp_connection_params const& params_)
    : tdm(tdm_), device(std::move(device_)), params(params_), defaultPayload(params_.rx_pt) {
  event.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  event.Schedule(device, POLLIN);
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params.ssrc, RTPC::kByeReason));
  rtcpSocket.close();
  cleanReceivers();
}

std::ostream& RtpSlot::header(std::ostream& os) const { return os << "rtp[" << tdm << "]: "; }

void RtpSlot::Launch(RtpSetup::Session& session, TERM::RtpParams const& request) {
  startRTPC(session.socket, session.peer);
  if (request.echo_isPresent() && request.get_echo().get_suppressor()) echoCancel(request.get_echo().get_canceller());
}

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer) {
  rtcpPeer = peer;
  rtcpSocket = std::move(socket);
  RTPC::SDES sdes(params.ssrc);
  sdes.add(RTPC::SDES::Item::CNAME, RTPC::kCname);
  sdes.add(RTPC::SDES::Item::EMAIL, RTPC::kEmail);
  sdes.add(RTPC::SDES::Item::PHONE, RTPC::kPhone);
  send(sdes);
}

void RtpSlot::send(RTPC::Msg const& msg) {
  if (!rtcpSocket) return;
  char buf[kRtcpBuffer];
  const unsigned n = msg.encode(buf, sizeof buf);
  if (n == 0) return;
  // A full socket buffer loses the packet; nobody waits for RTCP.
  ::sendto(rtcpSocket.lowlevel_fd(), buf, n, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&rtcpPeer),
           sizeof rtcpPeer);
}

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  if (device) {
    const int fd = device.lowlevel_fd();
    for (Board::Request r : {Board::Rtp::kTeardown1, Board::Rtp::kTeardown2, Board::Rtp::kTeardown3})
      if (Board::ioctlValue(fd, r, 0) < 0) {
        const Errno err;
        header(std::cerr) << "teardown request " << Board::Ppc::number(r) << " fail: " << err << std::endl;
      }
    disablePD();
  }
  // The event holds a duplicate: the session ends only when both are closed.
  event.Release();
  device.close();
  HwMux::instance().Disable(tdm);
  return true;
}

bool RtpSlot::IOnOutputStream() { return true; }

bool RtpSlot::IOnInputStream() {
  if (dependOnSQU) return true;
  setInput(true);
  return true;
}

void RtpSlot::IOnOutputRelease() {}

void RtpSlot::IOnInputRelease() { setInput(false); }

void RtpSlot::setInput(bool on) {
  if (Board::ioctlValue(device.lowlevel_fd(), on ? Board::Rtp::kStartInput : Board::Rtp::kStopInput, 0) < 0) {
    const Errno err;
    auto line = eventLog.line(std::cerr);
    header(line) << (on ? "start" : "stop") << " input fail: " << err << std::endl;
  }
  inputStarted = on;
}

void RtpSlot::OnRtpEvent(int fd, short revents) {
  bool hungUp = false;
  if (revents & POLLIN) {
    for (;;) {
      rtp_event rec;
      const ssize_t n = ::read(fd, &rec, sizeof rec);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
          const Errno err;
          auto line = eventLog.line(std::cerr);
          header(line) << "fail to read from rtp: " << err << std::endl;
        }
        break;
      }
      if (n == 0) {
        // An empty record, or the end of the device.
        pollfd p = {fd, 0, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR))) {
          hungUp = true;
          break;
        }
        continue;
      }
      if (static_cast<std::size_t>(n) != sizeof rec) {
        auto line = eventLog.line(std::cerr);
        header(line) << "rtp event of " << n << " bytes, dropped" << std::endl;
        continue;
      }
      {
        auto line = eventLog.line(std::clog);
        header(line) << "rtp event: "
                     << " type=" << rec.type << std::endl;
      }
      processRtpEvent(rec);
    }
  } else if (revents & (POLLHUP | POLLERR)) {
    hungUp = true;
  }
  // Nothing more will come, and the loop would spin on the descriptor.
  if (hungUp) {
    header(std::cerr) << "fail to read from rtp: device hung up" << std::endl;
    event.Release();
  }
}

bool RtpSlot::enablePD(LGCP::PDParams const& pd) {
  std::uint32_t words[9] = {};
  const int timeout = pd.get_timeout().getValue();
  words[0] = Board::Rtp::kPayloadDetected;
  words[2] = static_cast<std::uint32_t>(timeout);
  words[5] = static_cast<std::uint32_t>(timeout);
  rtp_event rec;
  static_assert(sizeof words == sizeof rec);
  std::memcpy(&rec, words, sizeof rec);
  if (Board::ioctl(device.lowlevel_fd(), Board::Rtp::kPayloadDetect, &rec) < 0) {
    const Errno err;
    header(std::cerr) << "RTP SET EVENT PD fail:";
    PutQuotedError(std::cerr, err);
    std::cerr << std::endl;
    return false;
  }
  header(std::clog) << "RTP SET EVENT PD "
                    << "timeout=" << timeout << std::endl;
  return true;
}

bool RtpSlot::disablePD() {
  std::uint32_t one = 1;
  if (Board::ioctl(device.lowlevel_fd(), Board::Rtp::kPayloadReset, &one) < 0) {
    const Errno err;
    header(std::cerr) << "RTP RESET EVENT PD fail:";
    PutQuotedError(std::cerr, err);
    std::cerr << std::endl;
    return false;
  }
  header(std::clog) << "RTP RESET EVENT PD" << std::endl;
  return true;
}

int RtpSlot::translate_payload(LGCP::CodecMode const& mode) const {
  return RtpSetup::TranslatePayload(mode, defaultPayload);
}

bool RtpSlot::restart() {
  // The event's duplicate would keep the old session open and leave the new
  // one unread.
  event.Release();
  device.close();
  std::string failed;
  Fd fresh;
  if (RtpSetup::Open(params, tdm, 0, fresh, failed) < 0) {
    const Errno err;
    header(std::cerr) << "restart: " << failed << " fail: " << err << std::endl;
    return false;
  }
  device = std::move(fresh);
  event.Schedule(device, POLLIN);
  // The new session carries on where the old one was.
  if (inputStarted && Board::ioctlValue(device.lowlevel_fd(), Board::Rtp::kStartInput, 0) < 0) {
    const Errno err;
    auto line = eventLog.line(std::cerr);
    header(line) << "restart: start input fail: " << err << std::endl;
  }
  return true;
}

bool RtpSlot::changeMode(LGCP::IoctlParams const& command, LGCP::CodecMode const& mode, bool encoder) {
  std::ostringstream line;
  header(line) << "do restart RTP session (change tx payload):" << command;
  const int pt = translate_payload(mode);
  std::uint16_t& current = encoder ? params.tx_pt : params.rx_pt;
  if (pt == current) {
    std::clog << line.str() << " - Nothing to do" << std::endl;
    return true;
  }
  current = static_cast<std::uint16_t>(pt);
  if (!restart()) {
    std::clog << line.str() << std::endl;
    header(std::cerr) << "fail to restart RTP session!" << std::endl;
    return false;
  }
  std::clog << line.str() << (encoder ? " - OK" : "") << std::endl;
  return true;
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& p) {
  using I = LGCP::IoctlParams;
  switch (p.currentSelection()) {
    case I::activateWaitTone::Id::value:
      activateAudibleCall();
      return true;
    case I::deactivateWaitTone::Id::value:
      cancelAudibleCall();
      return true;
    case I::pd_enable::Id::value:
      return enablePD(p.get_pd_enable());
    case I::pd_disable::Id::value:
      return disablePD();
    case I::encoder_mode::Id::value:
      return changeMode(p, p.get_encoder_mode(), true);
    case I::decoder_mode::Id::value:
      return changeMode(p, p.get_decoder_mode(), false);
    case I::selcal::Id::value:
      translateSelcal(p.get_selcal());
      return true;
    default:
      return receiverIoctl(p, ReceiverRequest::kDetection);
  }
}

// RtpFactory ------------------------------------------------------------------

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

RtpFactory::RtpFactory() : RtpCodecFactory("rtp") {}

RtpCodecFactory::RtpCodecFactory(const char* prefix) : prefix(prefix) { IQuery(); }

void RtpCodecFactory::IQuery() { counts = RtpSetup::Probe(); }

void RtpCodecFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_rtp_g729(static_cast<int>(counts.g729));
  resources.set_rtp_g723(static_cast<int>(counts.g723));
  resources.set_rtp_g711(static_cast<int>(counts.g711));
  resources.set_rtp_g711mcc(static_cast<int>(counts.g711mcc));
  resources.set_universal(static_cast<int>(counts.universal));
}

int RtpCodecFactory::translateCodec(TERM::Payload::NamedNumber payload) {
  return RtpSetup::TranslateCodec(payload, payload);
}

int RtpCodecFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber override) {
  return RtpSetup::TranslateCodec(payload, override);
}

std::ostream& RtpCodecFactory::PutHeader(std::ostream& os) const {
  return os << prefix << "[" << counts.g723 << "," << counts.g729 << "," << counts.g711 << "," << counts.universal
            << "]: ";
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& create) {
  if (!create.rtp_isSelected()) return nullptr;
  const LGCP::CreateRtpParams& rtp = create.get_rtp();
  const TERM::RtpParams& codec = rtp.get_codecRTP();
  if (codec.radio_isPresent()) return nullptr;
  PutHeader(std::clog) << "do create rtp: " << codec << std::endl;
  std::ostringstream header;
  PutHeader(header);
  RtpSetup::Session session;
  if (!RtpSetup::Create(header.str(), codec, static_cast<TERM::Payload::NamedNumber>(rtp.get_txPayload().asInt()),
                        static_cast<TERM::Payload::NamedNumber>(rtp.get_rxPayload().asInt()), 0, session))
    return nullptr;
  RtpSlot* slot = new RtpSlot(session.tdm, session.device, session.params);
  session.device.close();
  slot->Launch(session, codec);
  return slot;
}
