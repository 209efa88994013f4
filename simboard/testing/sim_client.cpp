#include "simboard/testing/sim_client.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "foundation/sys_paths.h"

namespace SimBoard {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

std::string Answer::text() const {
  std::string t;
  for (const std::string& l : lines) t += l + "\n";
  return t + (ok ? "ok" : "error " + error);
}

std::string Answer::find(const std::string& part) const {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return l;
  return "";
}

std::string Client::DefaultPath() { return SysPaths::resolve(SysPaths::kSimBoardSocket); }

bool Client::Connect(const std::string& path, int timeout_ms) {
  Close();
  sockaddr_un sa = {};
  sa.sun_family = AF_UNIX;
  if (path.size() >= sizeof sa.sun_path) return false;
  std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.is_valid()) return false;
    if (::connect(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      fd_ = std::move(s);
      return true;
    }
    if ((errno != ECONNREFUSED && errno != ENOENT) || RemainingMs(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Client::Close() {
  fd_.close();
  buffer_.clear();
  eof_ = false;
}

bool Client::Send(const std::string& command) {
  if (!fd_.is_valid() || command.find('\n') != std::string::npos) return false;
  const std::string line = command + "\n";
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::send(fd_.lowlevel_fd(), line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Client::TakeAnswer(Answer& answer) {
  std::size_t start = 0;
  std::vector<std::string> lines;
  for (std::size_t nl; (nl = buffer_.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::string line = buffer_.substr(start, nl - start);
    if (line == "ok" || line.compare(0, 6, "error ") == 0) {
      answer = Answer();
      answer.ok = line == "ok";
      if (!answer.ok) answer.error = line.substr(6);
      answer.lines = std::move(lines);
      buffer_.erase(0, nl + 1);
      return true;
    }
    lines.push_back(line);
  }
  return false;
}

Client::Result Client::Receive(Answer& answer, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (TakeAnswer(answer)) return Ok;
    if (eof_ || !fd_.is_valid()) return Closed;
    pollfd p = {fd_.lowlevel_fd(), POLLIN, 0};
    const int ready = ::poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return Timeout;
    char buf[4096];
    const ssize_t n = ::recv(fd_.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
  }
}

Client::Result Client::Call(const std::string& command, Answer& answer, int timeout_ms) {
  if (!Send(command)) return Closed;
  return Receive(answer, timeout_ms);
}

Answer Client::Command(const std::string& command, int timeout_ms) {
  Answer answer;
  if (Call(command, answer, timeout_ms) != Ok) {
    answer = Answer();
    answer.error = "no answer";
  }
  return answer;
}

}  // namespace SimBoard
