#pragma once
// "/dev/rtp_ext" of the simulated board: the header-extension side of the
// RTP engine. Each open is one session: 'E' 0 stores its init record, 'E' 1
// binds it to the "/dev/rtp" session that fd_rtp names in the daemon's own
// process (pid_rtp -1 or the daemon's; EBADF when the descriptor is no RTP
// session), 'E' 2 unbinds it, 'E' 3 fills the next-packet record from the
// packet the next read returns (1, or 0 with none queued), 'E' 4 and 5 set
// and clear a source filter.
//
// Packets come from the control socket, addressed by the TDM channel of the
// RTP session the header-extension session is bound to, and wait in the
// session's socket: a read returns one of them, EAGAIN when none is left,
// and the descriptor polls readable while one waits. Each write is one sent
// header extension, kept for the channel's `rtpext sent`. The log merges the
// requests and closes of the channel's header-extension and RTP sessions in
// the order they happened.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/rtp_ext.h"
#include "simboard/driver.h"
#include "simboard/rtp.h"

namespace SimBoard {

class RtpExt : public Driver {
public:
  static constexpr std::size_t kHistory = 256;
  static constexpr std::size_t kMaxLog = 200;
  static constexpr std::size_t kMaxSent = 200;

  // A packet sent to the daemon and not known to be read yet.
  struct Pending {
    std::uint32_t ssrc = 0;
    std::uint32_t addr = 0;  // network byte order
    std::size_t length = 0;
  };

  struct Record {
    unsigned id = 0;  // 1, 2, ... in the order of opening
    bool live = true;
    bool initialised = false;
    rtp_ext_init_params init{};
    // The RTP session it is bound to, and every one it ever was.
    std::shared_ptr<const Rtp::Record> bound;
    std::int32_t pid = 0;
    std::vector<std::shared_ptr<const Rtp::Record>> held;
    bool filter = false;
    std::uint32_t filter_addr = 0;  // network byte order
    std::deque<Pending> pending;
    std::deque<std::string> sent;  // hex, one write each
    std::vector<std::pair<std::uint64_t, std::string>> log;
  };

  RtpExt();
  ~RtpExt() override;

  void on_added(Simulator& sim) override;
  int on_open(Session& s) override;
  void on_close(Session& s) override;
  void on_data(Session& s, const std::uint8_t* data, std::size_t len) override;
  // Forgets the ended sessions; live ones stay as they are.
  void reset() override;

  // The live session bound to the live RTP session of the channel, or null.
  const Record* live(int tdm) const;
  // Every session bound at some time to an RTP session of the channel,
  // oldest first.
  std::vector<const Record*> history(int tdm) const;
  // Queues the packets, all at once, on the live session of the channel;
  // empty when done, else why not (a packet the filter drops: "filtered").
  std::string inject(int tdm, std::uint32_t ssrc, std::uint32_t addr,
                     const std::vector<std::vector<std::uint8_t>>& packets);

private:
  class Open;
  // The RTP engine of the board, whenever it was added.
  Rtp* rtp() const;
  Record* record(Session& s) const;
  Session* live_session(int tdm) const;
  void note(Record& r, std::string entry);
  // Drops what the daemon has read since, found by what its socket holds.
  void settle(Session& s, Record& r);
  int init(Session& s, void* arg);
  int attach(Session& s, void* arg);
  int detach(Session& s, void* arg);
  int next_packet(Session& s, void* arg);
  int set_filter(Session& s, void* arg);
  int reset_filter(Session& s, void* arg);
  void add_commands();

  Simulator* sim_ = nullptr;
  unsigned next_id_ = 1;
  std::deque<std::shared_ptr<Record>> records_;
};

}  // namespace SimBoard
