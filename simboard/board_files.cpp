#include "simboard/board_files.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>

namespace SimBoard {

namespace {

struct DefaultFile {
  const char* path;
  const char* text;
};

const DefaultFile kFiles[] = {
    {"/proc/temperature", "42 C\n"},
    {"/proc/voice/version", "voice 2.6.1 build-1043\n"},
    {"/var/version", "ulvarond-sim 1.0.0\n"},
    {"/var/u-boot-version", "U-Boot 2009.11-sim\n"},
    {"/var/fpga-version", "fpga 3.2\n"},
    {"/var/board-version", "board rev C\n"},
};

bool MakeDirs(const std::string& path) {
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    if (::mkdir(path.substr(0, at).c_str(), 0755) != 0 && errno != EEXIST) return false;
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool Write(const std::string& path, const std::string& text) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirs(path.substr(0, slash))) return false;
  std::ofstream out(path, std::ios::trunc);
  out << text;
  return bool(out);
}

}  // namespace

BoardFiles::BoardFiles() : Driver(kName, SOCK_SEQPACKET) {}

std::string BoardFiles::FramerText() {
  return "Current state           : Normal operation\n"
         "Loss of Signal          : no\n"
         "Loss of Frame Alignment : no\n"
         "Receive Slip Negative   : 0\n"
         "Receive Slip Positive   : 0\n";
}

bool BoardFiles::place(std::string root) {
  root_ = std::move(root);
  placed_ = true;
  bool ok = true;
  for (int n = 0; n < 4; ++n) ok &= Write(root_ + "/proc/driver/hdlc/peb22554/" + std::to_string(n), FramerText());
  for (const DefaultFile& f : kFiles) ok &= Write(root_ + f.path, f.text);
  // One configuration name: others a test left are removed.
  const std::string etc = root_ + "/usr/local/etc";
  ok &= MakeDirs(etc);
  if (DIR* dir = ::opendir(etc.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string name = e->d_name;
      if (name.compare(0, 7, "config.") == 0 && name.compare(0, 12, "config.2save") != 0 && name != kConfigName)
        std::remove((etc + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ok &= Write(etc + "/" + kConfigName, "");
  if (!ok) std::cerr << "simboard: board files under " << root_ << " not all written" << std::endl;
  return ok;
}

}  // namespace SimBoard
