#pragma once
// A controller for tests and benchmarks: a TCP client that sends LGCP
// messages in TPKT frames (aligned PER) and reads the answers and signals.
// It never waits unless asked to, so it can share a thread with the
// daemon's loop: send, run the loop, then Receive with no wait.
#include <climits>
#include <list>
#include <string>

#include "foundation/os.h"
#include "messages/LGCP_fwd.h"

namespace CtrlTest {

// Absent seq or slot.
const long kNone = LONG_MIN;

class Controller {
public:
  enum Result { Ok = 0, Timeout = 1, Closed = 2, Garbled = 3 };

  Controller();
  ~Controller();
  // Takes a connected stream socket.
  explicit Controller(Fd const& fd);
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Connects to the loopback address, retrying refused attempts until the
  // time is up (a daemon that is still starting).
  bool Connect(unsigned short port, int timeout_ms = 2000);
  void Close();
  bool IsOpen() const { return fd.is_valid(); }
  int Handle() const { return fd.lowlevel_fd(); }

  // Writes everything or fails.
  bool SendBytes(std::string const& bytes);
  bool SendPayload(std::string const& payload) { return SendBytes(Frame(payload)); }
  bool Send(LGCP::Message const& message);

  // Waits up to timeout_ms (0: only what has arrived) for one whole frame.
  Result ReceivePayload(std::string& payload, int timeout_ms);
  // Garbled when the payload does not decode. With signals apart, the next
  // message that is not a signal.
  Result Receive(LGCP::Message& message, int timeout_ms);

  // A daemon that sends signals on its own: Receive (and Call) put them
  // aside, in order, for ReceiveSignal, which in turn keeps the other
  // messages arriving meanwhile for Receive.
  void SetSignalsApart(bool on) { signalsApart = on; }
  Result ReceiveSignal(LGCP::Message& message, int timeout_ms);
  void DropSignals() { signals.clear(); }
  // The board's `power` signals, which the monitoring service sends on
  // every connection and change, are kept apart from everything else (on by
  // default, so that other tests never meet them) for ReceivePower.
  void SetPowerApart(bool on) { powerApart = on; }
  Result ReceivePower(LGCP::Message& message, int timeout_ms);
  std::size_t PowerSignalsKept() const { return powers.size(); }
  // True when the peer closed within the time; frames arriving meanwhile are
  // kept for Receive.
  bool WaitClosed(int timeout_ms);

  // Sends and waits for the next message.
  Result Call(LGCP::Message const& request, LGCP::Message& answer, int timeout_ms = 2000);

  static std::string Frame(std::string const& payload);
  static bool Encode(LGCP::Message const& message, std::string& payload);
  static bool Decode(std::string const& payload, LGCP::Message& message);

  static LGCP::Message Make(LGCP::Command const& command, long seq = kNone, long slot = kNone);
  static LGCP::Message Ping(long seq = kNone, long slot = kNone);

  // Reading an answer: kNone when the field is absent.
  static long SeqOf(LGCP::Message const& message);
  static long SlotOf(LGCP::Message const& message);
  static bool IsSuccess(LGCP::Message const& message);
  // The error cause, -1 when the message is not an error response.
  static int ErrorOf(LGCP::Message const& message);

private:
  // One read of what is there, waiting up to timeout_ms; false on time-out,
  // end of stream or error (eof says which).
  bool Fill(int timeout_ms);
  bool TakeFrame(std::string& payload, bool& garbled);

  Result ReceiveAny(LGCP::Message& message, int timeout_ms);

  Fd fd;
  std::string buffer;
  bool eof = false;
  bool signalsApart = false;
  bool powerApart = true;
  // Of a type this header only declares.
  std::list<LGCP::Message> signals;
  std::list<LGCP::Message> powers;
  std::list<LGCP::Message> answers;
};

}  // namespace CtrlTest
