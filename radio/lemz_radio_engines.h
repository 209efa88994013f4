#pragma once
// The two LEMZ engines. The gateway engine takes the workstations' commands
// (types 1 to 13) while its transmit lock admits them (in software: it sets
// no source filter), and sends its state reports (types 129 to 135) when the
// controller changes the state and again from its status timer. The
// workstation engine takes the gateway's reports, sends the workstation's
// commands, admits every packet and repeats nothing.
#include <cstdint>

#include "radio/lemz_radio_control.h"

namespace RTPSignalling {

class LemzRadioGWControl : public LemzRadioControl {
public:
  using LemzRadioControl::LemzRadioControl;
  ~LemzRadioGWControl() override;

protected:
  // Sends the periodic items that are due; the delay until the next run.
  std::uint32_t ProcessRadioStatus(std::uint32_t now, std::uint32_t interval) override;
  int PutProtoFromRadioToChan(LemzRadioState const& s) override;
  int PutProtoFromChanToRadio(LemzRadioState const& s) override;
  // The transmit lock.
  int AccessFormChanToRadio(LemzRadioState const& s) override;
  // None: the transmit lock decides, and a filter on the owner would drop a
  // stronger station's PTT before the lock sees it.
  void ApplyAccess() override {}
  int EncodeProto(LemzRadioState const& s, sig_proto& p) override;
};

class LemzRadioWSControl : public LemzRadioControl {
public:
  using LemzRadioControl::LemzRadioControl;
  ~LemzRadioWSControl() override;

protected:
  int PutProtoFromRadioToChan(LemzRadioState const& s) override;
  int PutProtoFromChanToRadio(LemzRadioState const& s) override;
  int EncodeProto(LemzRadioState const& s, sig_proto& p) override;
};

}  // namespace RTPSignalling
