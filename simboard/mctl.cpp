#include "simboard/mctl.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "board/mctl.h"
#include "foundation/ext_text.h"
#include "foundation/sys_paths.h"

namespace SimBoard {

namespace M = Board::Mctl;

// One modem and, while it is held, its terminal.
struct Mctl::Modem {
  explicit Modem(int n) : number(n) {}
  int number;
  // An open holds it.
  bool held = false;
  std::vector<std::string> log;
  std::string received;
  Fd listener;
  Fd peer;
  Event listenEvent;
  Event peerEvent;

  void note(std::string entry) {
    if (log.size() == kMaxLog) log.erase(log.begin());
    log.push_back(std::move(entry));
  }

  // Also a program that has its terminal open holds it, as the board's fax
  // program works its modem itself after the daemon let it go.
  bool taken() const { return held || peer.is_valid(); }

  // The terminal stays from the first allocation on: a program given the
  // modem's number opens it after the daemon closed the modem.
  void open_terminal() {
    if (listener) return;
    const std::string path = terminal(number);
    ::unlink(path.c_str());
    Fd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    if (!s || ::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(s.lowlevel_fd(), 4) != 0) {
      note("terminal " + path + " failed: " + std::strerror(errno));
      return;
    }
    listener = std::move(s);
    listenEvent.Bind("simboard mdm listen", &Modem::on_accept, this);
    listenEvent.Schedule(listener, POLLIN);
  }

  void close_terminal() {
    listenEvent.Release();
    peerEvent.Release();
    listener.close();
    peer.close();
    ::unlink(terminal(number).c_str());
  }

  void on_accept(int fd, short) {
    Fd c(::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!c) return;
    peerEvent.Release();
    peer = std::move(c);
    note("terminal opened");
    peerEvent.Bind("simboard mdm", &Modem::on_peer, this);
    peerEvent.Schedule(peer, POLLIN);
  }

  void on_peer(int fd, short) {
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && errno == EAGAIN) return;
      peerEvent.Release();
      peer.close();
      note("terminal closed");
      return;
    }
    if (received.size() + size_t(n) <= kMaxReceived) received.append(buf, size_t(n));
  }
};

class Mctl::Open : public OpenState {
public:
  int modem = -1;
};

Mctl::Mctl(int count) : Driver(M::kDevice, SOCK_SEQPACKET), count_(count) {
  add_value_request(M::kAllocate, [this](Session& s, unsigned long) { return allocate(s); });
  add_value_request(M::kEnumerate, [this](Session&, unsigned long v) { return enumerate(v); });
  add_value_request(M::kGetTimeslot, [this](Session& s, unsigned long) { return timeslot(s); });
  add_request(M::kSetDdm, [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_ddm), "ddm"); });
  add_request(M::kResetDmp, [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_modem), "dmp reset"); });
  add_request(M::kSetDmp, [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_dmp), "dmp"); });
  add_request(M::kAnswer, [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_modem), "answer"); });
  add_request(M::kOriginate, [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_modem), "originate"); });
  add_request(M::kFaxOriginate,
              [this](Session& s, void* arg) { return record(s, arg, sizeof(mctl_modem), "fax originate"); });

  auto modem_arg = [this](const std::string& text, int& n, Reply& r) {
    long long v = 0;
    if (!ParseNumber(text, 0, 255, v)) {
      r.fail("bad modem " + text);
      return false;
    }
    n = int(v);
    at(n);
    return true;
  };
  add_command("modem", "count", "<n>", "how many modems the driver enumerates (default 4)", [this](const Args& a, Reply& r) {
    long long v = 0;
    if (a.size() != 1 || !ParseNumber(a[0], 0, 256, v)) return r.fail("usage: modem count <0..256>");
    count_ = int(v);
  });
  add_command("modem", "list", "", "every modem: held or free, its timeslot", [this](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: modem list");
    for (int n = 0; n < count_; ++n)
      r.line("modem " + std::to_string(n) + " ts=" + std::to_string(kTimeslotBase + n) +
             (allocated(n) ? " held" : " free"));
  });
  add_command("modem", "log", "<n>", "the requests and closes of the modem", [=](const Args& a, Reply& r) {
    int n = 0;
    if (a.size() != 1) return r.fail("usage: modem log <n>");
    if (!modem_arg(a[0], n, r)) return;
    for (const std::string& e : log(n)) r.line(e);
  });
  add_command("mdm", "read", "<n>", "what programs wrote on the terminal since the last read, in hex",
              [=](const Args& a, Reply& r) {
                int n = 0;
                if (a.size() != 1) return r.fail("usage: mdm read <n>");
                if (!modem_arg(a[0], n, r)) return;
                r.line(ext::hex_text(at(n).received));
                at(n).received.clear();
              });
  add_command("mdm", "write", "<n> <hex>", "sends the octets to the program on the terminal",
              [=](const Args& a, Reply& r) {
                int n = 0;
                std::string bytes;
                if (a.size() != 2) return r.fail("usage: mdm write <n> <hex>");
                if (!modem_arg(a[0], n, r)) return;
                if (!ext::parse_hex(a[1], bytes)) return r.fail("bad hex " + a[1]);
                Modem& m = at(n);
                if (!m.peer) return r.fail("nothing has the terminal open");
                if (::send(m.peer.lowlevel_fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL) != ssize_t(bytes.size()))
                  r.fail(std::string("write failed: ") + std::strerror(errno));
              });
}

Mctl::~Mctl() {
  for (auto& m : modems_) m->close_terminal();
}

std::string Mctl::terminal(int modem) { return SysPaths::resolve(("/dev/mdm" + std::to_string(modem)).c_str()); }

Mctl::Modem& Mctl::at(int n) {
  while (int(modems_.size()) <= n) modems_.emplace_back(new Modem(int(modems_.size())));
  return *modems_[size_t(n)];
}

std::vector<std::string> Mctl::log(int modem) const {
  return modem >= 0 && modem < int(modems_.size()) ? modems_[size_t(modem)]->log : std::vector<std::string>();
}

bool Mctl::allocated(int modem) const {
  return modem >= 0 && modem < int(modems_.size()) && modems_[size_t(modem)]->taken();
}

int Mctl::on_open(Session& s) {
  s.set_state(std::make_unique<Open>());
  return 0;
}

Mctl::Modem* Mctl::modem_of(Session& s) const {
  Open* o = s.state_as<Open>();
  return o && o->modem >= 0 ? modems_[size_t(o->modem)].get() : nullptr;
}

void Mctl::on_close(Session& s) {
  if (Modem* m = modem_of(s)) release(*m);
}

void Mctl::release(Modem& m) {
  m.note("close");
  m.held = false;
}

void Mctl::reset() {
  count_ = kDefaultCount;
  for (auto& m : modems_) m->log.clear();
}

int Mctl::allocate(Session& s) {
  Open* o = s.state_as<Open>();
  if (!o) return -EBADF;
  if (o->modem >= 0) return -EBUSY;
  for (int n = 0; n < count_; ++n) {
    Modem& m = at(n);
    if (m.taken()) continue;
    m.held = true;
    m.received.clear();
    o->modem = n;
    m.note("allocate");
    m.open_terminal();
    return n;
  }
  return -EBUSY;
}

int Mctl::enumerate(unsigned long previous) const {
  const long prev = static_cast<long>(previous);
  if (prev < -1) return -EINVAL;
  return prev + 1 < count_ ? int(prev + 1) : -ENODEV;
}

int Mctl::timeslot(Session& s) {
  Modem* m = modem_of(s);
  if (!m) return -EINVAL;
  m->note("timeslot " + std::to_string(kTimeslotBase + m->number));
  return kTimeslotBase + m->number;
}

int Mctl::record(Session& s, void* arg, std::size_t size, const char* what) {
  Modem* m = modem_of(s);
  std::int32_t w[3] = {0, 0, 0};
  std::memcpy(w, arg, size);
  if (!m || w[0] != m->number) return -EINVAL;
  std::string entry = what;
  if (size == sizeof(mctl_ddm) && std::strcmp(what, "ddm") == 0) entry += " mask=" + std::to_string(w[1]);
  if (size == sizeof(mctl_dmp)) entry += " " + std::to_string(w[1]) + "=" + std::to_string(w[2]);
  m->note(entry + " record=" + ext::hex_text(static_cast<const unsigned char*>(arg), size));
  return 0;
}

}  // namespace SimBoard
