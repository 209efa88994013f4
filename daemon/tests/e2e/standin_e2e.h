#pragma once
// The daemon on the default simulated board with the stand-in installed as
// its child programs: each run's record under var/log/standin tells what it
// was given and did.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "daemon/tests/e2e/board_e2e.h"

namespace e2e {

const std::string kRoot = SysPaths::kRootPrefix;
const std::string kStandinDir = kRoot + "/var/log/standin";

class StandinDaemon : public BoardDaemon {
protected:
  void SetUp() override {
    BoardDaemon::SetUp();
    for (std::string const& f : Logs("")) std::remove(f.c_str());
  }
  void TearDown() override {
    if (daemon.Pid() > 0) Stop();
  }

  // The stand-in's records of a program ("pppd", "fax", "t38"), named
  // <name>-<pid>-<run>.txt, first run first: by the number each record
  // starts with, as pids wrap. A record counts once that first line is whole.
  std::vector<std::string> Logs(std::string const& name) const {
    std::vector<std::pair<unsigned long long, std::string>> runs;
    if (DIR* d = ::opendir(kStandinDir.c_str())) {
      while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n[0] == '.' || n.compare(0, name.size(), name) != 0) continue;
        const std::string path = kStandinDir + "/" + n;
        const std::string text = ReadFile(path);
        if (text.compare(0, 4, "run ") == 0 && text.find('\n') != std::string::npos)
          runs.emplace_back(std::strtoull(text.c_str() + 4, nullptr, 10), path);
      }
      ::closedir(d);
    }
    std::sort(runs.begin(), runs.end());
    std::vector<std::string> out;
    for (auto const& r : runs) out.push_back(r.second);
    return out;
  }
  // The n-th record of the program once it has part in it.
  std::string WaitLog(std::string const& name, std::string const& part, size_t n = 0, int timeout_ms = 10000) {
    std::string text;
    Eventually(
        [&] {
          const std::vector<std::string> logs = Logs(name);
          text = logs.size() > n ? ReadFile(logs[n]) : "";
          return contains(text, part);
        },
        timeout_ms);
    return text;
  }
  int Pid(std::string const& name, size_t n = 0) {
    const std::vector<std::string> logs = Logs(name);
    if (logs.size() <= n) return -1;
    return std::atoi(logs[n].c_str() + kStandinDir.size() + 1 + name.size() + 1);
  }
  bool Gone(int pid) { return pid > 0 && Eventually([&] { return ::kill(pid, 0) != 0; }); }
};

}  // namespace e2e
