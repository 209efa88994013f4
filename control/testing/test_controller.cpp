#include "control/testing/test_controller.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <thread>
#include <vector>

#include "asn1/coder_env.h"
#include "messages/LGCP.h"

namespace CtrlTest {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

Controller::Controller() = default;

Controller::~Controller() = default;

Controller::Controller(Fd const& other) : fd(other) {}

bool Controller::Connect(unsigned short port, int timeout_ms) {
  Close();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!s.is_valid()) return false;
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      int on = 1;
      ::setsockopt(s.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      fd = std::move(s);
      return true;
    }
    if (errno != ECONNREFUSED || RemainingMs(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Controller::Close() {
  fd.close();
  buffer.clear();
  eof = false;
  signals.clear();
  answers.clear();
  powers.clear();
}

bool Controller::SendBytes(std::string const& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd.lowlevel_fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool Controller::Send(LGCP::Message const& message) {
  std::string payload;
  return Encode(message, payload) && SendPayload(payload);
}

bool Controller::Fill(int timeout_ms) {
  if (eof || !fd.is_valid()) return false;
  pollfd p = {fd.lowlevel_fd(), POLLIN, 0};
  const int ready = ::poll(&p, 1, timeout_ms);
  if (ready < 0 && errno == EINTR) return true;
  if (ready <= 0) return false;
  char chunk[65536];
  const ssize_t n = ::recv(fd.lowlevel_fd(), chunk, sizeof chunk, MSG_DONTWAIT);
  if (n > 0) {
    buffer.append(chunk, size_t(n));
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  eof = true;
  return false;
}

bool Controller::TakeFrame(std::string& payload, bool& garbled) {
  garbled = false;
  if (buffer.size() < 4) return false;
  const unsigned char* h = reinterpret_cast<const unsigned char*>(buffer.data());
  const unsigned length = (unsigned(h[2]) << 8) | h[3];
  if (h[0] != 3 || h[1] != 0 || length < 4) {
    garbled = true;
    buffer.clear();
    return false;
  }
  if (buffer.size() < length) return false;
  payload.assign(buffer, 4, length - 4);
  buffer.erase(0, length);
  return true;
}

Controller::Result Controller::ReceivePayload(std::string& payload, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    bool garbled = false;
    if (TakeFrame(payload, garbled)) return Ok;
    if (garbled) return Garbled;
    if (!Fill(RemainingMs(deadline))) {
      if (TakeFrame(payload, garbled)) return Ok;
      if (eof) return Closed;
      if (RemainingMs(deadline) == 0) return Timeout;
    }
  }
}

Controller::Result Controller::Receive(LGCP::Message& message, int timeout_ms) {
  if (!answers.empty()) {
    message = answers.front();
    answers.pop_front();
    return Ok;
  }
  if (!signalsApart) return ReceiveAny(message, timeout_ms);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const Result r = ReceiveAny(message, RemainingMs(deadline));
    if (r != Ok || !message.get_pdu().signal_isSelected()) return r;
    signals.push_back(message);
  }
}

Controller::Result Controller::ReceiveSignal(LGCP::Message& message, int timeout_ms) {
  if (!signals.empty()) {
    message = signals.front();
    signals.pop_front();
    return Ok;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const Result r = ReceiveAny(message, RemainingMs(deadline));
    if (r != Ok || message.get_pdu().signal_isSelected()) return r;
    answers.push_back(message);
  }
}

Controller::Result Controller::ReceivePower(LGCP::Message& message, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (powers.empty()) {
    LGCP::Message other;
    const Result r = ReceiveAny(other, RemainingMs(deadline));
    if (r != Ok) return r;
    if (signalsApart && other.get_pdu().signal_isSelected())
      signals.push_back(other);
    else
      answers.push_back(other);
  }
  message = powers.front();
  powers.pop_front();
  return Ok;
}

Controller::Result Controller::ReceiveAny(LGCP::Message& message, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::string payload;
    const Result r = ReceivePayload(payload, RemainingMs(deadline));
    if (r != Ok) return r;
    if (!Decode(payload, message)) return Garbled;
    if (!powerApart || !message.get_pdu().signal_isSelected() || !message.get_pdu().get_signal().power_isSelected())
      return Ok;
    powers.push_back(message);
  }
}

bool Controller::WaitClosed(int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!eof) {
    if (!Fill(RemainingMs(deadline)) && !eof && RemainingMs(deadline) == 0) return false;
  }
  return true;
}

Controller::Result Controller::Call(LGCP::Message const& request, LGCP::Message& answer, int timeout_ms) {
  if (!Send(request)) return Closed;
  return Receive(answer, timeout_ms);
}

std::string Controller::Frame(std::string const& payload) {
  const size_t length = payload.size() + 4;
  std::string frame;
  frame.reserve(length);
  frame.push_back(char(3));
  frame.push_back(char(0));
  frame.push_back(char((length >> 8) & 0xFF));
  frame.push_back(char(length & 0xFF));
  frame += payload;
  return frame;
}

bool Controller::Encode(LGCP::Message const& message, std::string& payload) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> octets;
  if (!ASN1::encode(message, &env, std::back_inserter(octets))) return false;
  payload.assign(octets.begin(), octets.end());
  return true;
}

bool Controller::Decode(std::string const& payload, LGCP::Message& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  message = LGCP::Message();
  return ASN1::decode(payload.data(), payload.data() + payload.size(), &env, message, true);
}

LGCP::Message Controller::Make(LGCP::Command const& command, long seq, long slot) {
  LGCP::Message m;
  if (seq != kNone) m.set_seq(int(seq));
  if (slot != kNone) m.set_slot(unsigned(slot));
  m.set_pdu().select_command(command);
  return m;
}

LGCP::Message Controller::Ping(long seq, long slot) {
  LGCP::Command ping;
  ping.select_ping();
  return Make(ping, seq, slot);
}

long Controller::SeqOf(LGCP::Message const& message) {
  return message.seq_isPresent() ? long(message.get_seq().getValue()) : kNone;
}

long Controller::SlotOf(LGCP::Message const& message) {
  return message.slot_isPresent() ? long(message.get_slot().getValue()) : kNone;
}

bool Controller::IsSuccess(LGCP::Message const& message) {
  return message.get_pdu().response_isSelected() && message.get_pdu().get_response().success_isSelected();
}

int Controller::ErrorOf(LGCP::Message const& message) {
  if (!message.get_pdu().response_isSelected() || !message.get_pdu().get_response().error_isSelected()) return -1;
  return int(LGCP::ErrorCause::NamedNumber(message.get_pdu().get_response().get_error()));
}

}  // namespace CtrlTest
