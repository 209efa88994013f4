// The default simulated board: what tools/run-daemon starts on and what
// "board reset" returns to. Each row builds one device in its default state;
// a new device is one Driver class (its requests, commands and reset) and
// one row here.
#include <memory>
#include <vector>

#include "foundation/sys_paths.h"
#include "simboard/board_files.h"
#include "simboard/dsp.h"
#include "simboard/dsp_data.h"
#include "simboard/dtmf.h"
#include "simboard/e1_cas.h"
#include "simboard/hal.h"
#include "simboard/maintenance.h"
#include "simboard/mcc.h"
#include "simboard/mctl.h"
#include "simboard/mixer.h"
#include "simboard/netif.h"
#include "simboard/rtp.h"
#include "simboard/rtp_ext.h"
#include "simboard/simulator.h"
#include "simboard/voice.h"
#include "simboard/watchdog.h"

namespace SimBoard {

namespace {

// The HDLC controller's channel timeslots: clear of the trunk timeslots
// (0..127) and of the buses (8192..10239).
std::vector<int> MccPool() {
  std::vector<int> pool;
  for (int t = 256; t < 320; ++t) pool.push_back(t);
  return pool;
}

// The RTP engine's TDM channels: clear of the trunks, the HDLC controller's
// channels and the buses.
std::vector<int> RtpPool() {
  std::vector<int> pool;
  for (int t = 512; t < 576; ++t) pool.push_back(t);
  return pool;
}

// The DSP data device: two signalling channels and their six B subslots,
// between the HDLC controller's timeslots and the RTP engine's.
std::vector<int> DspDataChannels() { return {320, 321}; }
std::vector<int> DspDataBPool() { return {322, 323, 324, 325, 326, 327}; }

struct Device {
  const char* what;
  std::unique_ptr<Driver> (*make)();
};

const Device kDefaultBoard[] = {
    // Every cross-connect output disabled; the eight BRI framers' status
    // register 51 at 0xC5 (normal); the clock on freerun.
    {"cross-connect, SPI framers, clock", [] { return std::unique_ptr<Driver>(new Hal); }},
    // 64 HDLC channels: 32 data, 16 BRI, 16 transparent, 32 SS7; E1 trunks
    // cabled 0 <-> 1 and 2 <-> 3.
    {"hdlc controller",
     [] {
       return std::unique_ptr<Driver>(new Mcc(MccPool(), {{0, 1}, {2, 3}}, {32, 16, 16, 32}));
     }},
    // Four E1 trunks normal, counters 0.
    {"E1 maintenance", [] { return std::unique_ptr<Driver>(new Maintenance); }},
    // CAS closed on every trunk.
    {"E1 CAS", [] { return std::unique_ptr<Driver>(new E1Cas); }},
    {"watchdog", [] { return std::unique_ptr<Driver>(new Watchdog(SysPaths::kWatchdog)); }},
    // Detectors, rejection and echo cancellers off, no loops.
    {"tone/DTMF", [] { return std::unique_ptr<Driver>(new Dtmf); }},
    // Interface version 2, every function off.
    {"voice processing", [] { return std::unique_ptr<Driver>(new Dsp); }},
    // 64 RTP sessions, none open.
    {"RTP engine", [] { return std::unique_ptr<Driver>(new Rtp(RtpPool())); }},
    // Header-extension sessions of the RTP engine: none open, no filter.
    {"RTP header extensions", [] { return std::unique_ptr<Driver>(new RtpExt); }},
    // Channels per codec class: g729, g723, g711, g711 through the HDLC
    // controller, universal.
    {"voice codecs",
     [] {
       return std::unique_ptr<Driver>(
           new Voice({{4, 32}, {2, 16}, {1, 64}, {8, 16}, {65, 8}}, Board::Voice::Version{{2, 6, 1, 0, 0}}));
     }},
    // Two signalling channels (a third open fails with EBUSY), no B subslot
    // taken.
    {"DSP data", [] { return std::unique_ptr<Driver>(new DspData(DspDataChannels(), DspDataBPool())); }},
    // Mixer units 0 and 1, each with 32 TDM channels and 8 mixer inputs.
    {"mixer",
     [] {
       return std::unique_ptr<Driver>(new Mixer({{0, 32, 8}, {1, 32, 8}}));
     }},
    // Four DSP modems, timeslots 600..603, none held.
    {"modems", [] { return std::unique_ptr<Driver>(new Mctl); }},
    // lo and eth0 running; hdlc0..hdlc3, point-to-point, raw HDLC, channels
    // 700..703.
    {"network interfaces", [] { return std::unique_ptr<Driver>(new NetIf); }},
    // The framers' status texts, temperature, version files and one
    // configuration name (written from the daemon's board start on).
    {"board files", [] { return std::unique_ptr<Driver>(new BoardFiles); }},
};

}  // namespace

void BuildDefaultBoard(Simulator& sim) {
  for (const Device& d : kDefaultBoard) sim.add(d.make());
}

}  // namespace SimBoard
