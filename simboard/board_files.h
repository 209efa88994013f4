#pragma once
// The board's kernel and version files as the simulated board leaves them
// under the root prefix: the four E1 framers' status texts
// (proc/driver/hdlc/peb22554/0..3), proc/temperature, proc/voice/version,
// var/version, var/u-boot-version, var/fpga-version, var/board-version and
// one configuration name usr/local/etc/config.<8 hex>-<16 hex>. Tests change
// them by writing the files. Nothing is written before place() (the
// daemon's board start), so in-process boards leave the tree alone; after
// it, "board reset" writes them again. It is a driver of the registry only
// for that reset; nothing opens it.
#include <string>

#include "simboard/driver.h"

namespace SimBoard {

class BoardFiles : public Driver {
public:
  static constexpr const char* kName = "files";
  static constexpr const char* kConfigName = "config.0000000a-0000000000000010";

  BoardFiles();
  // Writes the default files under root; false when one could not be written.
  bool place(std::string root);
  void reset() override {
    if (placed_) place(root_);
  }

  // The default status text of an E1 framer.
  static std::string FramerText();

private:
  std::string root_;
  bool placed_ = false;
};

}  // namespace SimBoard
