#pragma once
// The controller's backplane bus tests (testBpc) through the cross-connect: a
// run of timeslots of one bus is checked against a pseudo-random byte pattern
// from a seed (written there by another board or by the write test), written
// with it and read back, or switched off. Both ends derive the same bytes
// from the same seed.
#include <iosfwd>

#include "control/ctrl_server.h"
#include "hardware/hw_mux.h"
#include "hardware/pattern.h"

class HwTests : public CtrlSrv::Service {
public:
  static constexpr int kTimeslots = 128;

  // The daemon's one, on the daemon's cross-connect.
  static HwTests& instance();

  explicit HwTests(HwMux& mux);

  void OnConnect() override {}
  void OnDisconnect() override {}
  // Takes testBpc only.
  bool OnCommand(const LGCP::Command& command) override;

  void OnTestBpc(const LGCP::BpcTestParams& params);
  void TestRead();
  void TestWrite();
  void TestDisconnect();

  void PutHeader(std::ostream& out) const;

private:
  // Compares the run with the pattern from its start; the first mismatch is
  // logged and answered busError, the rest of the run is not looked at.
  void Check(bool writing);

  HwMux& mux;
  int bus = 0;
  int firstChannel = 0;
  int endChannel = 0;
  int seed = 0;
  Hardware::Pattern pattern;
};
