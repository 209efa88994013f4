// The stand-in for the programs the daemon starts on the board (pppd with
// its authentication plug-in, the fax sender and receiver, t38). It records what
// it was given in var/log/standin/<name>-<pid>-<run>.txt under the root
// prefix, <run> the run's place among the stand-in's runs under the prefix,
// from 1 (no run replaces another's record, even one given the same pid):
// "run <run>", "program", "argv", "cwd", one "fd <n> <target>" per open
// descriptor, "sigpipe default|ignored|caught", then what happens ("signal
// HUP", "auth connected", "recv ...", "exit <code>").
//
// It runs until SIGHUP, then exits 0, and sends nothing, unless words of its
// arguments or of its option file (the word after "file") say otherwise:
//   exit=<code>      exit with the code at once (after delay) instead
//   delay=<ms>       wait before exit=
//   nohup            log SIGHUP and go on
//   auth=<user>:<pw> send a request record to the authentication link
//   acct=<w>,...     send an accounting record: octets out high, low, octets
//                    in high, low, packets out high, low, packets in high,
//                    low, time
//   record=<hex>     send these octets as they are
//   id=<n>           session id of the records (else n of a terminal
//                    ".../dev/mdm<n>" argument or of "-m <n>", -1 otherwise)
//   port=<n>         the link's port (default ULVAROND_AUTH_PORT, else 52000)
//   wait=<ms>        wait before connecting to the link
//   tty=<hex>        write these octets to the terminal
// A fax program ("-m <n>") holds the modem's terminal open while it runs, as
// the board's fax program works the modem; a fax receiver ("receive <file>")
// creates its file.
//
// As t38: "--num-of-instances" prints what usr/local/etc/t38-instances under
// the root prefix holds (nothing for an empty file; "sleep" sleeps for a
// minute and prints nothing), "4" without that file, and writes no record.
// "--child" echoes what it reads on descriptor 0 back to it and exits with
// the exit= code (0 by default) at end of input or on SIGTERM.
#include <arpa/inet.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/sys_paths.h"

namespace {

int logFd = -1;
volatile sig_atomic_t hupCount = 0;
volatile sig_atomic_t termCount = 0;

void Log(std::string line) {
  line += '\n';
  if (logFd >= 0) (void)!::write(logFd, line.data(), line.size());
}

[[noreturn]] void Exit(int code) {
  Log("exit " + std::to_string(code));
  ::_exit(code);
}

std::string Hex(const unsigned char* p, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

std::vector<unsigned char> Unhex(const std::string& text) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back((unsigned char)std::strtoul(text.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

void PutWord(std::vector<unsigned char>& r, size_t at, uint32_t w) {
  if (r.size() < at + 4) r.resize(at + 4);
  std::memcpy(&r[at], &w, 4);
}

uint32_t GetWord(const unsigned char* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

std::string Ip(uint32_t networkOrder) {
  in_addr a;
  a.s_addr = networkOrder;
  return inet_ntoa(a);
}

struct Script {
  bool hasExit = false;
  int exitCode = 0;
  long delayMs = 0;
  long waitMs = 0;
  bool nohup = false;
  bool idSet = false;
  int id = -1;
  int port = 52000;
  std::vector<std::vector<unsigned char>> records;
  std::vector<unsigned char> tty;
};

void Directive(const std::string& w, Script& s) {
  const size_t eq = w.find('=');
  const std::string key = w.substr(0, eq);
  const std::string value = eq == std::string::npos ? "" : w.substr(eq + 1);
  if (w == "nohup") {
    s.nohup = true;
  } else if (key == "exit" && !value.empty()) {
    s.hasExit = true;
    s.exitCode = std::atoi(value.c_str());
  } else if (key == "delay") {
    s.delayMs = std::atol(value.c_str());
  } else if (key == "wait") {
    s.waitMs = std::atol(value.c_str());
  } else if (key == "id") {
    s.idSet = true;
    s.id = std::atoi(value.c_str());
  } else if (key == "port") {
    s.port = std::atoi(value.c_str());
  } else if (key == "tty") {
    s.tty = Unhex(value);
  } else if (key == "record") {
    s.records.push_back(Unhex(value));
  } else if (key == "auth") {
    const size_t colon = value.find(':');
    std::vector<unsigned char> r(140, 0);
    PutWord(r, 0, 140);
    PutWord(r, 4, 1);
    const std::string user = value.substr(0, colon);
    const std::string pw = colon == std::string::npos ? "" : value.substr(colon + 1);
    std::memcpy(&r[12], user.data(), std::min<size_t>(user.size(), 64));
    std::memcpy(&r[76], pw.data(), std::min<size_t>(pw.size(), 64));
    s.records.push_back(r);
  } else if (key == "acct") {
    std::vector<unsigned char> r(64, 0);
    PutWord(r, 0, 64);
    PutWord(r, 4, 4);
    std::istringstream in(value);
    std::string n;
    for (size_t at = 24; at <= 56 && std::getline(in, n, ','); at += 4) PutWord(r, at, uint32_t(std::strtoul(n.c_str(), nullptr, 0)));
    s.records.push_back(r);
  }
}

void OnHup(int) { ++hupCount; }
void OnTerm(int) { ++termCount; }

int ConnectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  std::strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Creates the run's record "<stem>-<n>.txt", its first line "run <n>". Pids
// wrap while a test suite forks thousands of processes, and runs in pid
// namespaces of their own share pids, so the runs are numbered from a counter
// in the directory, taken in turn under its lock, and the number is in the
// name. The record is created under its name, never over a file there (a
// name taken, as after the counter was lost, takes the next number), and
// nothing is staged: a run that dies leaves no more than its record. Records
// show up in the order of their numbers; a reader takes one once its first
// line is whole.
int CreateRecord(const std::string& dir, const std::string& stem) {
  const int counter = ::open((dir + "/.runs").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (counter >= 0) ::flock(counter, LOCK_EX);
  unsigned long long run = 0;
  char text[32] = {0};
  if (counter >= 0 && ::pread(counter, text, sizeof text - 1, 0) > 0) run = std::strtoull(text, nullptr, 10);
  int fd = -1;
  std::string number;
  do {
    number = std::to_string(++run);
    const std::string path = dir + "/" + stem + "-" + number + ".txt";
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EEXIST);
  const std::string stored = number + "\n";
  if (counter >= 0 && ::pwrite(counter, stored.data(), stored.size(), 0) > 0)
    (void)!::ftruncate(counter, off_t(stored.size()));
  if (fd >= 0) {
    const std::string line = "run " + number + "\n";
    (void)!::write(fd, line.data(), line.size());
  }
  // Closing releases the lock.
  if (counter >= 0) ::close(counter);
  return fd;
}

// t38 --num-of-instances: the control file's text, as it is.
[[noreturn]] void NumOfInstances() {
  std::ifstream in(std::string(ULVAROND_ROOT_PREFIX) + "/usr/local/etc/t38-instances", std::ios::binary);
  if (!in) {
    (void)!::write(1, "4\n", 2);
    ::_exit(0);
  }
  std::ostringstream text;
  text << in.rdbuf();
  const std::string t = text.str();
  if (t.compare(0, 5, "sleep") == 0) {
    ::sleep(60);
    ::_exit(0);
  }
  (void)!::write(1, t.data(), t.size());
  ::_exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  bool child = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--num-of-instances") == 0) NumOfInstances();
    if (std::strcmp(argv[i], "--child") == 0) child = true;
  }
  // What the parent left open, before this program opens anything.
  std::vector<std::string> fds;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    const int own = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const int n = std::atoi(e->d_name);
      if (n == own) continue;
      char target[512] = {0};
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
      fds.push_back("fd " + std::to_string(n) + " " + (len > 0 ? std::string(target, size_t(len)) : "?"));
    }
    ::closedir(d);
  }
  struct sigaction pipe {};
  ::sigaction(SIGPIPE, nullptr, &pipe);
  const char* sigpipe = pipe.sa_handler == SIG_DFL ? "default" : pipe.sa_handler == SIG_IGN ? "ignored" : "caught";

  std::string name = argv[0];
  if (name.rfind('/') != std::string::npos) name = name.substr(name.rfind('/') + 1);
  const std::string dir = std::string(ULVAROND_ROOT_PREFIX) + "/var/log/standin";
  ::mkdir((std::string(ULVAROND_ROOT_PREFIX) + "/var/log").c_str(), 0755);
  ::mkdir(dir.c_str(), 0755);
  logFd = CreateRecord(dir, name + "-" + std::to_string(::getpid()));

  std::string args;
  for (int i = 1; i < argc; ++i) args += (i > 1 ? " " : "") + std::string(argv[i]);
  Log(std::string("program ") + argv[0]);
  Log("argv " + args);
  char cwd[512] = "?";
  if (!::getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "?");
  Log(std::string("cwd ") + cwd);
  for (const std::string& f : fds) Log(f);
  Log(std::string("sigpipe ") + sigpipe);

  Script s;
  if (const long moved = SysPaths::authPortFromEnvironment(); moved > 0) s.port = int(moved);
  std::string terminal;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    Directive(a, s);
    if (a == "file" && i + 1 < argc) {
      std::ifstream in(argv[i + 1]);
      std::string line;
      while (std::getline(in, line)) {
        if (line.find('#') != std::string::npos) line.erase(line.find('#'));
        std::istringstream words(line);
        std::string w;
        while (words >> w) Directive(w, s);
      }
    }
    const size_t mdm = a.rfind("/dev/mdm");
    if (mdm != std::string::npos) {
      terminal = a;
      if (!s.idSet) s.id = std::atoi(a.c_str() + mdm + 8);
    }
    if (a == "-m" && i + 1 < argc && terminal.empty()) {
      terminal = std::string(ULVAROND_ROOT_PREFIX) + "/dev/mdm" + std::to_string(std::atoi(argv[i + 1]));
      if (!s.idSet) s.id = std::atoi(argv[i + 1]);
    }
    if (a == "receive" && i + 1 < argc) {
      const int f = ::open(argv[i + 1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      Log(std::string("fax file ") + argv[i + 1] + (f >= 0 ? " created" : " failed"));
      if (f >= 0) ::close(f);
    }
  }

  struct sigaction sa {};
  sa.sa_handler = OnHup;
  ::sigaction(SIGHUP, &sa, nullptr);
  sa.sa_handler = OnTerm;
  ::sigaction(SIGTERM, &sa, nullptr);

  int tty = -1;
  if (!terminal.empty()) {
    tty = ConnectUnix(terminal);
    Log("tty " + terminal + (tty >= 0 ? " connected" : " failed"));
    if (tty >= 0 && !s.tty.empty()) (void)!::write(tty, s.tty.data(), s.tty.size());
  }

  int link = -1;
  if (!s.records.empty()) {
    if (s.waitMs > 0) ::usleep(useconds_t(s.waitMs) * 1000);
    link = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(uint16_t(s.port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(link, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
      Log("auth connect failed " + std::string(std::strerror(errno)));
      ::close(link);
      link = -1;
    } else {
      Log("auth connected");
      for (auto& r : s.records) {
        if (r.size() >= 12) PutWord(r, 8, uint32_t(s.id));
        (void)!::write(link, r.data(), r.size());
        Log("sent " + Hex(r.data(), std::min<size_t>(r.size(), 12)));
      }
    }
  }

  timespec start;
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  std::vector<unsigned char> in;
  for (;;) {
    if (termCount) {
      Log("signal TERM");
      Exit(child ? s.exitCode : 143);
    }
    if (hupCount) {
      hupCount = 0;
      Log("signal HUP");
      if (!s.nohup) Exit(0);
    }
    if (s.hasExit) {
      timespec now;
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      const long ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      if (ms >= s.delayMs) Exit(s.exitCode);
    }
    if (child) {
      pollfd p{0, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      unsigned char buf[1024];
      const ssize_t got = ::read(0, buf, sizeof buf);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        Log("end of input");
        Exit(s.exitCode);
      }
      for (ssize_t at = 0; at < got;) {
        const ssize_t w = ::write(0, buf + at, size_t(got - at));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        at += w;
      }
      Log("echo " + std::to_string(got));
      continue;
    }
    pollfd p{link, POLLIN, 0};
    const int n = ::poll(&p, link >= 0 ? 1 : 0, 20);
    if (n <= 0 || link < 0) continue;
    unsigned char buf[1024];
    const ssize_t got = ::read(link, buf, sizeof buf);
    if (got <= 0) {
      Log("auth closed");
      ::close(link);
      link = -1;
      continue;
    }
    in.insert(in.end(), buf, buf + got);
    while (in.size() >= 4) {
      const uint32_t len = GetWord(in.data());
      if (len < 12 || len > 512) {
        Log("recv bad length " + std::to_string(len));
        in.clear();
        break;
      }
      if (in.size() < len) break;
      const uint32_t type = GetWord(&in[4]);
      const int32_t id = int32_t(GetWord(&in[8]));
      std::string line = "recv type=" + std::to_string(type) + " id=" + std::to_string(id) + " len=" + std::to_string(len);
      if (type == 2 && len >= 16) line += " accept=" + std::to_string(GetWord(&in[12]));
      if (type == 3 && len >= 36)
        line += " ip=" + Ip(GetWord(&in[16])) + " mask=" + Ip(GetWord(&in[20])) + " gw=" + Ip(GetWord(&in[24])) +
                " dns=" + Ip(GetWord(&in[28])) + " mtu=" + std::to_string(GetWord(&in[32]));
      Log(line);
      in.erase(in.begin(), in.begin() + len);
    }
  }
}
