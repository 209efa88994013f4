#include "hardware/hw_tests.h"

#include "messages/LGCP.h"

#include <unistd.h>

#include <iostream>

#include "foundation/ext_text.h"

HwTests& HwTests::instance() {
  static HwTests theInstance(HwMux::instance());
  return theInstance;
}

HwTests::HwTests(HwMux& mux) : mux(mux) {}

bool HwTests::OnCommand(const LGCP::Command& command) {
  if (!command.testBpc_isSelected()) return false;
  OnTestBpc(command.get_testBpc());
  return true;
}

void HwTests::OnTestBpc(const LGCP::BpcTestParams& params) {
  const int start = params.get_timeslot_start().getValue();
  const int length = params.get_timeslot_length().getValue();
  // A run past the bus's last timeslot would reach into the next bus.
  if (start + length > kTimeslots) {
    Error(LGCP::ErrorCause::invalidParams);
    return;
  }
  bus = params.get_bus().getValue();
  firstChannel = HwMux::kFirstOutput + kTimeslots * bus + start;
  endChannel = firstChannel + length;
  seed = params.get_seed().getValue();
  pattern.Seed(static_cast<std::uint32_t>(seed));

  const LGCP::BpcTestMode& mode = params.get_mode();
  if (mode.read_isSelected())
    TestRead();
  else if (mode.write_isSelected())
    TestWrite();
  else if (mode.disconnect_isSelected())
    TestDisconnect();
  else
    Error(LGCP::ErrorCause::invalidParams);
}

void HwTests::Check(bool writing) {
  for (int channel = firstChannel; channel < endChannel; ++channel) {
    const unsigned char expected = pattern.NextByte();
    const unsigned char read = static_cast<unsigned char>(mux.Read(channel) & 0xFF);
    if (expected == read) continue;
    std::cerr << ext::header(this) << (writing ? "write" : "test") << " failed on channel " << channel % kTimeslots
              << (writing ? " write " : " expected ") << ext::hex(&expected, &expected + 1)
              << (writing ? " written " : " read ") << ext::hex(&read, &read + 1) << std::endl;
    Error(LGCP::ErrorCause::busError);
    return;
  }
  Success();
}

void HwTests::TestRead() { Check(false); }

void HwTests::TestWrite() {
  for (int channel = firstChannel; channel < endChannel; ++channel) mux.Write(channel, pattern.NextByte());
  ::usleep(500);
  pattern.Seed(static_cast<std::uint32_t>(seed));
  Check(true);
}

void HwTests::TestDisconnect() {
  for (int channel = firstChannel; channel < endChannel; ++channel) mux.Disable(channel);
  ::usleep(250);
  Success();
}

void HwTests::PutHeader(std::ostream& out) const { out << "bus " << bus << ": "; }
