#pragma once
// "/dev/rtp" of the simulated board: the RTP media engine. Each open is one
// session: 'R' 0 stores its connection record, 'R' 2 gives it a TDM channel
// of the board's pool (or the one it asks for again on a restart, unless
// another live session holds it), 'R' 4 and 5 start and stop its input,
// 'R' 9 keeps the record of the session whose packets it shares, 'R' 12 and
// 13 arm and disarm payload detection. Every request and the
// close go into the session's log, which outlives it. Events are queued to
// the session by command and read as one 36-byte record each.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "board/rtp.h"
#include "simboard/driver.h"

namespace SimBoard {

class Rtp : public Driver {
public:
  // Ended sessions kept for their logs beyond this many are forgotten.
  static constexpr std::size_t kHistory = 256;
  static constexpr std::size_t kMaxLog = 200;

  struct Record {
    unsigned id = 0;  // 1, 2, ... in the order of opening
    bool live = true;
    bool begun = false;
    rtp_connection_params params{};
    int tdm = -1;
    bool bss = false;
    bool input = false;
    bool pd = false;
    rtp_event pd_params{};
    bool attached = false;
    rtp_attach_session_params attach{};
    std::vector<std::string> log;
    // The board-wide order of each log entry (NextLogOrder).
    std::vector<std::uint64_t> order;
  };

  // The TDM channels the engine hands out, lowest first.
  explicit Rtp(std::vector<int> pool);
  ~Rtp() override;

  int on_open(Session& s) override;
  void on_close(Session& s) override;
  // Forgets the ended sessions; live ones stay.
  void reset() override;

  const std::vector<int>& pool() const { return pool_; }
  // The record of an open of this device, for a device that refers to it
  // beyond the open's life; null for another device's open.
  std::shared_ptr<const Record> shared_record(const Session& s) const;
  // The live session on the channel, or null.
  const Record* live(int tdm) const;
  // Every session that held the channel, oldest first.
  std::vector<const Record*> history(int tdm) const;
  // Queues one event on the live session of the channel; false when none
  // holds it or its queue is full.
  bool event(int tdm, std::uint32_t type, std::int32_t value, std::int32_t timeout);

  // "tdm=512 remote=127.0.0.1:5004 local=0.0.0.0:5006 rx_pt=8 ..."
  static std::string describe(const Record& r);

private:
  class Open;
  Record* record(Session& s) const;
  Record* live_record(int tdm) const;
  void note(Record& r, std::string entry);
  int begin(Session& s, void* arg);
  int add_channel(Session& s, void* arg);
  int attach(Session& s, void* arg);
  int arm(Session& s, void* arg);
  int disarm(Session& s, void* arg);
  int simple(Session& s, Board::Request request);

  std::vector<int> pool_;
  unsigned next_id_ = 1;
  std::deque<std::shared_ptr<Record>> records_;
};

}  // namespace SimBoard
