#pragma once
// A client of the simulated board's control socket, for tests. It never
// waits unless asked to, so it can share a thread with the loop that serves
// the socket: Send, run the loop, then Receive with no wait.
#include <string>
#include <vector>

#include "foundation/os.h"

namespace SimBoard {

struct Answer {
  bool ok = false;
  std::string error;  // the text after "error "
  std::vector<std::string> lines;
  // Every line joined by '\n', for failure messages.
  std::string text() const;
  // The first line that contains part, or "".
  std::string find(const std::string& part) const;
};

class Client {
public:
  enum Result { Ok = 0, Timeout = 1, Closed = 2 };

  Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // The socket of the daemon of this build ("var/run/simboard.sock" under
  // the root prefix).
  static std::string DefaultPath();

  // Retries while the socket is not there yet or refuses (a daemon that is
  // still starting) until the time is up.
  bool Connect(const std::string& path = DefaultPath(), int timeout_ms = 2000);
  void Close();
  bool IsOpen() const { return fd_.is_valid(); }

  // One command; false when it has a line end in it or cannot be written.
  bool Send(const std::string& command);
  // Waits up to timeout_ms (0: only what has arrived) for one whole answer.
  Result Receive(Answer& answer, int timeout_ms);
  Result Call(const std::string& command, Answer& answer, int timeout_ms = 2000);
  // The answer, or one with error "no answer" when there was none in time.
  Answer Command(const std::string& command, int timeout_ms = 2000);

private:
  bool TakeAnswer(Answer& answer);

  Fd fd_;
  std::string buffer_;
  bool eof_ = false;
};

}  // namespace SimBoard
