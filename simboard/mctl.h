#pragma once
// "/dev/mctl" of the simulated board: the DSP modems. Modems are enumerated
// in order (ENODEV after the last); an open allocates the first free one and
// holds it until its last close; each has its own timeslot. A record naming
// another modem than the open's fails with EINVAL. From its first allocation
// on, a modem's terminal "/dev/mdm<n>" is a local stream socket at dev/mdm<n>
// under the root prefix: what a program writes there is kept for "mdm read",
// "mdm write" sends to it. A program that has the terminal open holds the
// modem too, also after the open's close (a fax program works its modem
// itself). Every request (a record's octets in hex) and the close go into the
// modem's log.
#include <memory>
#include <string>
#include <vector>

#include "foundation/event.h"
#include "foundation/os.h"
#include "simboard/driver.h"

namespace SimBoard {

class Mctl : public Driver {
public:
  static constexpr int kTimeslotBase = 600;
  static constexpr int kDefaultCount = 4;
  static constexpr std::size_t kMaxLog = 200;
  static constexpr std::size_t kMaxReceived = 65536;

  explicit Mctl(int count = kDefaultCount);
  ~Mctl() override;

  int on_open(Session& s) override;
  void on_close(Session& s) override;
  void reset() override;

  int count() const { return count_; }
  // The modem's log (also of earlier holders), empty when it has none.
  std::vector<std::string> log(int modem) const;
  bool allocated(int modem) const;
  // The terminal's path, as a program opens it.
  static std::string terminal(int modem);

private:
  class Open;
  struct Modem;
  Modem* modem_of(Session& s) const;
  Modem& at(int n);
  int allocate(Session& s);
  int enumerate(unsigned long previous) const;
  int timeslot(Session& s);
  int record(Session& s, void* arg, std::size_t size, const char* what);
  void release(Modem& m);

  int count_;
  std::vector<std::unique_ptr<Modem>> modems_;
};

}  // namespace SimBoard
