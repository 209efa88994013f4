#include "simboard/spi.h"

#include <errno.h>

#include <cstring>
#include <string>

#include "board/hal.h"
#include "simboard/hal.h"

namespace SimBoard {

namespace {

std::string Hex(int value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "0x";
  text += digits[(value >> 4) & 0xF];
  text += digits[value & 0xF];
  return text;
}

}  // namespace

void SpiFramers::reset() {
  std::memset(regs_, 0, sizeof regs_);
  for (auto& framer : regs_) framer[kStatusRegister] = kStatusNormal;
  log_.clear();
  present_ = true;
}

int SpiFramers::read(void* arg) const {
  if (!present_) return -ENODEV;
  Board::Hal::SpiAccess rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.channel >= kChannels) return -EINVAL;
  return regs_[rec.channel][rec.reg];
}

int SpiFramers::write(void* arg) {
  if (!present_) return -ENODEV;
  Board::Hal::SpiAccess rec;
  std::memcpy(&rec, arg, sizeof rec);
  if (rec.channel >= kChannels) return -EINVAL;
  regs_[rec.channel][rec.reg] = rec.data;
  if (log_.size() == kLogSize) log_.pop_front();
  log_.push_back(Write{rec.channel, rec.reg, rec.data});
  return 0;
}

void SpiFramers::install(Hal& hal) {
  hal.add_request(Board::Hal::kSpiRead, [this](Session&, void* arg) { return read(arg); });
  hal.add_request(Board::Hal::kSpiWrite, [this](Session&, void* arg) { return write(arg); });

  auto number = [](const std::string& text, long long max, const char* what, long long& n, Reply& r) {
    if (!ParseNumber(text, 0, max, n))
      r.fail(std::string("bad ") + what + " " + text + " (0.." + std::to_string(max) + ")");
    return !r.failed();
  };
  hal.add_command("spi", "set", "<ch> <reg> <value>",
                  "sets a framer register (51 is the status register, 0xC5 in sync)", [=](const Args& a, Reply& r) {
                    long long ch = 0, reg = 0, value = 0;
                    if (a.size() != 3) return r.fail("usage: spi set <ch> <reg> <value>");
                    if (number(a[0], kChannels - 1, "channel", ch, r) &&
                        number(a[1], kRegisters - 1, "register", reg, r) && number(a[2], 255, "value", value, r))
                      set(int(ch), int(reg), std::uint8_t(value));
                  });
  hal.add_command(
      "spi", "get", "<ch> [<reg>]", "a framer register, or the framer's non-zero registers",
      [=](const Args& a, Reply& r) {
        long long ch = 0, reg = 0;
        if (a.empty() || a.size() > 2) return r.fail("usage: spi get <ch> [<reg>]");
        if (!number(a[0], kChannels - 1, "channel", ch, r)) return;
        if (a.size() == 2) {
          if (number(a[1], kRegisters - 1, "register", reg, r))
            r.line("ch=" + std::to_string(ch) + " reg=" + std::to_string(reg) +
                   " value=" + Hex(get(int(ch), int(reg))));
          return;
        }
        for (int n = 0; n < kRegisters; ++n)
          if (get(int(ch), n))
            r.line("ch=" + std::to_string(ch) + " reg=" + std::to_string(n) + " value=" + Hex(get(int(ch), n)));
      });
  hal.add_command("spi", "log", "[clear]", "the register writes, oldest first (decimal), or forgets them",
                  [this](const Args& a, Reply& r) {
                    if (a.size() > 1 || (a.size() == 1 && a[0] != "clear")) return r.fail("usage: spi log [clear]");
                    if (a.size() == 1) return clear_log();
                    for (const Write& w : log_)
                      r.line("ch=" + std::to_string(w.channel) + " reg=" + std::to_string(w.reg) +
                             " value=" + std::to_string(w.value));
                  });
  hal.add_command("spi", "nospi", "on|off", "on: every SPI request fails with ENODEV", [this](const Args& a, Reply& r) {
    if (a.size() != 1 || (a[0] != "on" && a[0] != "off")) return r.fail("usage: spi nospi on|off");
    present_ = a[0] == "off";
  });
}

}  // namespace SimBoard
