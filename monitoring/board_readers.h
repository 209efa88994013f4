#pragma once
// What the monitoring service reads from the board, kept apart from the
// reading itself so it can be fed any text: the framers' status texts, the
// interfaces' running state smoothed over three samples, the power byte, the
// framer LED byte, the temperature and voice-driver lines and the
// configuration names. Every reader takes what a file or device gives as
// untrusted: any length, any octets.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Monitoring {

// The file text of an E1 framer that one read takes; the rest is not read.
inline constexpr std::size_t kFramerTextMax = 1024;

}  // namespace Monitoring

// One E1 framer as its status file tells it.
class FramerDataHolder {
public:
  FramerDataHolder(int number, std::string path) : number_(number), path_(std::move(path)) {}

  // Takes one status text (lines with "key : value"); true when any field
  // changed.
  bool setFramerStatus(const std::vector<unsigned char>& text);

  bool connected() const { return connected_; }
  const std::string& state() const { return state_; }
  bool signalLoss() const { return signalLoss_; }
  bool frameAlignmentLoss() const { return frameAlignmentLoss_; }
  int negativeSlips() const { return negativeSlips_; }
  int positiveSlips() const { return positiveSlips_; }
  // 1 to 4: the table index of its monitoring items.
  int number() const { return number_; }
  const std::string& path() const { return path_; }

private:
  bool connected_ = false;
  std::string state_ = "absent";
  bool signalLoss_ = true;
  bool frameAlignmentLoss_ = true;
  int negativeSlips_ = 0;
  int positiveSlips_ = 0;
  int number_;
  std::string path_;
};

// One network interface: its running flag, smoothed by the majority of the
// last three samples so that one deviating sample never flips a settled
// state.
class NetIfDataHolder {
public:
  NetIfDataHolder(int index, std::string name) : index_(index), name_(std::move(name)) {}

  // Samples the interface through the board seam; true when the smoothed
  // state changed. A failed probe is no sample.
  bool updateNetIf();
  // One sample, 0 or 1; true when the smoothed state changed (the first
  // sample always does).
  bool setNetIfStatus(int running);

  int running() const { return running_; }
  // 1 up, 2 down; the admin status always equals it once sampled.
  int operStatus() const { return operStatus_; }
  int adminStatus() const { return adminStatus_; }
  int index() const { return index_; }
  const std::string& name() const { return name_; }

private:
  int running_ = -1;
  int operStatus_ = 2;
  int adminStatus_ = 2;
  std::vector<int> samples_;
  int index_;
  std::string name_;
};

namespace Monitoring {

// The interfaces with an index from 0 to 15 that answer SIOCGIFNAME, through
// the board seam.
std::vector<NetIfDataHolder> DiscoverNetIfs();

// The power byte as LGCP::POWERStatus: 0 and 3 both (3), 1 standby, 2 main,
// anything above unknown (0).
int PowerStatusOf(unsigned char byte);

// The framer LED byte after a report for E1 e (0 to 3): a `line` or a `link`
// report with its value. Two bits per E1: 2e link, 2e+1 line.
std::uint8_t FramerLedByte(std::uint8_t byte, int e1, bool isLine, bool value);

// The temperature line up to its first white space.
std::string TemperatureOf(const std::string& line);

// The voice-driver build from the first line of its version file: "2.6.1
// [build]" style, or "none" with fewer than three tokens.
std::string VoiceBuildOf(const std::string& line);

// The configuration version the names of the configuration directory give.
struct ConfigVersion {
  std::uint32_t first = 0;
  std::uint64_t second = 0;
};
// A "config.<8 hex>-<16 hex>" name updates v: a part that does not parse
// keeps its value. False (v untouched) for any other name and for
// "config.2save.tar.bz2".
bool ParseConfigName(const char* name, ConfigVersion& v);
// Every configuration name of the directory in directory order, each
// reported with the version so far; directories are skipped. With chdirTo
// the directory becomes the process's working directory. False when the
// directory does not open.
bool ScanConfigDir(const std::string& dir, bool chdirTo, const std::function<void(const ConfigVersion&)>& each);

}  // namespace Monitoring
