#pragma once
// The board's TDM cross-connect on "/dev/hal": joins a source timeslot to an
// output, idles an output with the byte 213, writes or reads a constant byte,
// and switches outputs off. Outputs 8192..10239 are 16 buses of 128 timeslots
// (8192 + 128 * bus + timeslot); the daemon remembers what it did to each of
// them and keeps repeating the disable of those it switched off. A device
// that hangs up is opened again by the request that finds it so, and gets
// the remembered outputs back.
#include <cstdint>

#include "foundation/dpc.h"
#include "foundation/os.h"

class HwMux {
public:
  static constexpr int kFirstOutput = 8192;
  static constexpr int kOutputs = 2048;
  // Outputs visited by one run of the refresh.
  static constexpr int kRefreshPerRun = 128;

  enum class State : std::uint8_t { Disabled, Constant, Connected };
  // What the daemon last did to an output. The source is kept apart from the
  // state, so any source number is a live connection.
  struct Output {
    State state;
    unsigned char byte;  // meaningful when Constant
    int source;          // meaningful when Connected
  };

  // The daemon's one; tests build their own.
  static HwMux& instance();

  // Opens and sweeps the device at once; a failed open is tried again on
  // the next operation.
  HwMux();
  ~HwMux();
  HwMux(const HwMux&) = delete;
  HwMux& operator=(const HwMux&) = delete;

  bool Connect(int source, int output);
  // The output then carries the idle byte 213.
  bool Disconnect(int output);
  bool Disable(int output);
  bool Write(int output, unsigned char byte);
  // 0..255, or 255 when the channel cannot be read.
  int Read(int channel);

  // Opens the device when it is not open yet and starts the refresh. The
  // first opening disables all 2048 outputs; one after a hang-up gives each
  // output what the table holds for it.
  bool IsOpened();

  void OnDPC();
  void RefreshChannel(int index);

  // The record of an output, or null outside 8192..10239.
  const Output* Find(int output) const;
  int RefreshCursor() const { return cursor; }
  bool IsRefreshing() const { return refresh.IsActive(); }

private:
  Output* Entry(int output);
  // The table to the device, one request per output; not checked.
  void Apply();
  // The request; when it finds the device hung up, it goes once more to the
  // device opened anew. False with errno on failure.
  bool Request(std::uint32_t request, void* record);

  // Destroyed after the descriptor is closed.
  Dpc refresh;
  Fd device;
  Output table[kOutputs];
  int cursor;
};

// Prints the caller's stack on the standard output; a debugging aid.
void print_trace();
