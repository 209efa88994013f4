#include "monitoring/board_readers.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "board/board.h"
#include "control/trace_ctl.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"

namespace {

const char kWhite[] = " \t\n\r\f\v";

struct FramerKey {
  const char* key;
  enum Field { State, SignalLoss, FrameLoss, NegSlips, PosSlips } field;
};

const FramerKey kFramerKeys[] = {
    {"Current state           : ", FramerKey::State},
    {"Loss of Signal          : ", FramerKey::SignalLoss},
    {"Loss of Frame Alignment : ", FramerKey::FrameLoss},
    {"Receive Slip Negative   : ", FramerKey::NegSlips},
    {"Receive Slip Positive   : ", FramerKey::PosSlips},
};

// The leading decimal number as atoi reads it, without its overflow.
int LeadingNumber(const std::string& text) {
  std::size_t at = text.find_first_not_of(kWhite);
  if (at == std::string::npos) return 0;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') negative = text[at++] == '-';
  long long n = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    n = n * 10 + (text[at] - '0');
    if (n > 0x7FFFFFFF) n = 0x7FFFFFFF;
  }
  return int(negative ? -n : n);
}

template <class T>
bool Update(T& field, const T& value) {
  if (field == value) return false;
  field = value;
  return true;
}

// Leading hex digits, at most max of them; false when there is none.
template <class T>
bool ParseHex(const char* text, std::size_t max, T& out) {
  T value = 0;
  std::size_t n = 0;
  for (; n < max && std::isxdigit(static_cast<unsigned char>(text[n])); ++n) {
    const unsigned char c = static_cast<unsigned char>(text[n]);
    const unsigned digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = T(value << 4 | digit);
  }
  if (n == 0) return false;
  out = value;
  return true;
}

// A probe of the interface table: AF_INET datagram sockets need no
// privilege (a packet socket needs CAP_NET_RAW).
Fd ProbeSocket() { return Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

}  // namespace

bool FramerDataHolder::setFramerStatus(const std::vector<unsigned char>& text) {
  bool changed = false;
  std::size_t begin = 0;
  const std::size_t end = std::min(text.size(), Monitoring::kFramerTextMax);
  while (begin < end) {
    std::size_t stop = begin;
    while (stop < end && text[stop] != '\n') ++stop;
    const std::string line(text.begin() + long(begin), text.begin() + long(stop));
    begin = stop + 1;
    for (const FramerKey& k : kFramerKeys) {
      const std::size_t at = line.find(k.key);
      if (at == std::string::npos) continue;
      const std::string value = line.substr(at + std::strlen(k.key));
      switch (k.field) {
        case FramerKey::State:
          if (value != state_) {
            state_ = value;
            connected_ = value != "No Carrier";
            changed = true;
          }
          break;
        case FramerKey::SignalLoss:
          changed |= Update(signalLoss_, value == "yes");
          break;
        case FramerKey::FrameLoss:
          changed |= Update(frameAlignmentLoss_, value == "yes");
          break;
        case FramerKey::NegSlips:
          changed |= Update(negativeSlips_, LeadingNumber(value));
          break;
        case FramerKey::PosSlips:
          changed |= Update(positiveSlips_, LeadingNumber(value));
          break;
      }
    }
  }
  return changed;
}

bool NetIfDataHolder::updateNetIf() {
  const Fd s = ProbeSocket();
  if (!s.is_valid()) {
    if (traces.monitoring.internal)
      LOG_LIMITED(std::clog) << "Error open socket:  errno=\"" << std::strerror(errno) << "\"" << std::endl;
    return false;
  }
  ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  ifr.ifr_ifindex = index_;
  if (Board::netif(s.lowlevel_fd(), SIOCGIFNAME, &ifr) != 0 || Board::netif(s.lowlevel_fd(), SIOCGIFFLAGS, &ifr) != 0) {
    if (traces.monitoring.internal)
      LOG_LIMITED(std::clog) << "Error ioctl socket:  errno=\"" << std::strerror(errno) << "\"" << std::endl;
    return false;
  }
  return setNetIfStatus((static_cast<unsigned short>(ifr.ifr_flags) & IFF_RUNNING) ? 1 : 0);
}

bool NetIfDataHolder::setNetIfStatus(int running) {
  samples_.push_back(running ? 1 : 0);
  while (samples_.size() > 3) samples_.erase(samples_.begin());
  int sum = 0;
  for (int s : samples_) sum += s;
  const int now = sum >= 2 ? 1 : 0;
  const bool changed = now != running_;
  running_ = now;
  operStatus_ = adminStatus_ = now == 1 ? 1 : 2;
  return changed;
}

namespace Monitoring {

std::vector<NetIfDataHolder> DiscoverNetIfs() {
  std::vector<NetIfDataHolder> found;
  const Fd s = ProbeSocket();
  if (!s.is_valid()) return found;
  for (int index = 0; index <= 15; ++index) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    ifr.ifr_ifindex = index;
    if (Board::netif(s.lowlevel_fd(), SIOCGIFNAME, &ifr) != 0) continue;
    found.emplace_back(index, std::string(ifr.ifr_name, strnlen(ifr.ifr_name, IFNAMSIZ)));
  }
  return found;
}

int PowerStatusOf(unsigned char byte) {
  if (byte == 0) return 3;
  return byte <= 3 ? byte : 0;
}

std::uint8_t FramerLedByte(std::uint8_t byte, int e1, bool isLine, bool value) {
  if (e1 < 0 || e1 > 3) return byte;
  const unsigned link = 1u << (2 * e1), line = link << 1;
  unsigned b = byte;
  if (!isLine) {
    b = value ? b & ~link : b | link;
  } else if (value) {
    if (!(b & line)) b |= link;
    b |= line;
  } else {
    b &= ~(link | line);
  }
  return std::uint8_t(b);
}

std::string TemperatureOf(const std::string& line) { return line.substr(0, line.find_first_of(kWhite)); }

std::string VoiceBuildOf(const std::string& line) {
  std::vector<std::string> tokens;
  for (std::size_t at = 0; at < line.size();) {
    at = line.find_first_not_of(' ', at);
    if (at == std::string::npos) break;
    const std::size_t stop = line.find(' ', at);
    std::string token = line.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
    const std::size_t first = token.find_first_not_of(kWhite);
    token = first == std::string::npos ? "" : token.substr(first, token.find_last_not_of(kWhite) - first + 1);
    tokens.push_back(token);
    at = stop;
  }
  if (tokens.size() >= 4) return tokens[1] + " [" + tokens[2] + " " + tokens[3] + "]";
  if (tokens.size() == 3) return tokens[1] + " [" + tokens[2] + "]";
  return "none";
}

bool ParseConfigName(const char* name, ConfigVersion& v) {
  static const char kPrefix[] = "config.";
  const std::size_t prefix = sizeof kPrefix - 1;
  if (std::strncmp(name, kPrefix, prefix) != 0 || std::strncmp(name, "config.2save.tar.bz2", 20) == 0) return false;
  const std::string rest = std::string(name + prefix).substr(0, 25);
  ParseHex(rest.c_str(), 8, v.first);
  if (rest.size() >= 10) ParseHex(rest.c_str() + 9, 16, v.second);
  return true;
}

bool ScanConfigDir(const std::string& dir, bool chdirTo, const std::function<void(const ConfigVersion&)>& each) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Children started later (pppd, fax) inherit it.
  if (chdirTo && ::fchdir(fd) != 0) {
    LOG_LIMITED(std::cerr) << "monitoring: chdir " << dir << ": " << std::strerror(errno) << std::endl;
  }
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return false;
  }
  ConfigVersion v;
  while (const dirent* e = ::readdir(d)) {
    struct stat st;
    if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) continue;
    if (ParseConfigName(e->d_name, v)) each(v);
  }
  ::closedir(d);
  return true;
}

}  // namespace Monitoring
