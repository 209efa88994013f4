#pragma once
// The simulated E1 lines that carry HDLC frames. Trunk t timeslot s is
// cross-connect number 32t + s, as a source (what arrives from the line) and
// as an output (what goes out on it). A frame written on a controller channel
// C goes to every output fed by source C: to another channel C', or onto a
// trunk line, across its cable, to the same timeslot of the cabled trunk,
// where it enters as that source and reaches the channels fed by it. Nothing
// else moves a frame.
//
// A line end (trunk, timeslot) may be tapped by a test (its frames are kept
// for "line read" instead of going across), have frames injected as from the
// far end, spoil the n-th frame crossing it (drop, duplicate, corrupt), repeat
// the last frame that arrived while nothing new comes, and write every frame
// crossing it to a pcap file.
//
// A channel may repeat a frame by itself on an idle line (an SS7 channel its
// last FISU or LSSU): such a frame crosses like any other, except that the
// spoilers do not count it, a line end that repeats by itself ("line repeat")
// does not take it, and the board-wide counters leave it out.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/timer.h"
#include "simboard/driver.h"

namespace SimBoard {

class Hal;

class Lines {
public:
  using Frame = std::vector<std::uint8_t>;
  static constexpr int kTrunks = 4;
  static constexpr int kTimeslots = 32;
  // Frames kept at a tapped line end; older ones go first.
  static constexpr std::size_t kMaxKept = 4096;
  // Line ends a frame may cross before a cross-connect loop stops it.
  static constexpr int kMaxHops = 8;
  // pcap link types.
  static constexpr std::uint32_t kLinkLapd = 203;  // LAPD from the address octet, no pseudo-header
  static constexpr std::uint32_t kLinkMtp2 = 140;  // MTP2 from the BSN octet

  enum class Spoil { Drop, Duplicate, Corrupt };

  struct Stats {
    std::uint64_t sent = 0;         // frames written on channels
    std::uint64_t delivered = 0;    // frame copies handed to channels
    std::uint64_t unconnected = 0;  // frames that found nothing to go to
    std::uint64_t lost = 0;         // copies a channel could not take (full, or too long)
    std::uint64_t looped = 0;       // stopped after kMaxHops line ends
  };

  // Where frames end up: the cross-connect (which outputs a source feeds),
  // and the channels (hands a frame to the channel on an output; false when
  // no channel serves it), with the result counted.
  enum class Handed { None, Delivered, Lost };
  struct Board {
    std::function<Hal*()> hal;
    std::function<Handed(int output, const Frame&)> channel;
  };

  // The cables the board starts with and returns to on reset.
  Lines(Board board, std::vector<std::pair<int, int>> cables);
  ~Lines();
  Lines(const Lines&) = delete;
  Lines& operator=(const Lines&) = delete;

  // A frame written on the controller channel that serves source C, or one
  // that the channel repeats by itself.
  void from_channel(int channel, const Frame& frame, bool repeated = false);

  bool cable(int a, int b);
  bool uncable(int trunk);
  // The trunk cabled to this one, -1 for none.
  int cabled(int trunk) const;

  bool tap(int trunk, int timeslot, bool on);
  // The frames kept at a tapped line end, oldest first; they are gone then.
  std::vector<Frame> take(int trunk, int timeslot);
  // A frame from the far end arrives at the line end.
  bool inject(int trunk, int timeslot, const Frame& frame);
  // The n-th frame crossing the line end from now (1: the next one).
  bool spoil(int trunk, int timeslot, Spoil what, unsigned nth);
  // 0: off.
  bool repeat(int trunk, int timeslot, unsigned ms);
  // Empty path: the capture stops. False with a reason when the file cannot
  // be written.
  bool capture(int trunk, int timeslot, std::uint32_t linktype, const std::string& path, std::string& why);

  const Stats& stats() const { return stats_; }
  // "line 0 16 out=3 in=2 dropped=1 ..." for each line end that saw
  // anything or has something set.
  std::vector<std::string> describe() const;

  // The default cables, no tap, spoiler, repeat or capture, counters 0.
  void reset();

  // The "line" and "pcap" control commands, handed to a driver's add_command.
  using AddCommand = std::function<void(std::string device, std::string verb, std::string usage, std::string help,
                                        Driver::Command run)>;
  void add_commands(const AddCommand& add);

private:
  class End;
  class Pcap;

  End* end(int trunk, int timeslot);
  End& end_at(int trunk, int timeslot);
  static bool valid(int trunk, int timeslot);
  // Hands the frame to every output the source feeds; false when none took it.
  bool to_outputs(int source, const Frame& frame, int hops, bool repeated);
  // Onto the line from the board's side; across the cable.
  bool line_out(int trunk, int timeslot, const Frame& frame, int hops, bool repeated);
  // From the line into the board.
  bool line_in(int trunk, int timeslot, const Frame& frame, int hops, bool repeated);
  // The frames that cross the line end after its spoilers.
  std::vector<Frame> cross(End& e, const Frame& frame, bool repeated);

  Board board_;
  std::vector<std::pair<int, int>> default_cables_;
  int cables_[kTrunks];
  std::unique_ptr<End> ends_[kTrunks * kTimeslots];
  Stats stats_;
  std::vector<int> outputs_;
};

// A device besides the HDLC controller whose opens are frame channels on
// timeslots of their own: the frames the cross-connect feeds to those reach
// it through the controller's lines.
class FrameChannels {
public:
  virtual ~FrameChannels() = default;
  // None when no open of the device serves the output.
  virtual Lines::Handed deliver_frame(int output, const Lines::Frame& frame) = 0;
};

// "02017F" (upper or lower case) to octets; false for an odd length, a
// non-hex digit or nothing at all.
bool ParseHex(const std::string& text, Lines::Frame& frame);
std::string HexText(const Lines::Frame& frame);

}  // namespace SimBoard
