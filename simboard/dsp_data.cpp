#include "simboard/dsp_data.h"

#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "board/dsp_data.h"
#include "board/mcc.h"
#include "simboard/mcc.h"
#include "simboard/simulator.h"

namespace SimBoard {

namespace Req = Board::DspData;

class DspData::Channel : public OpenState {
public:
  int timeslot = -1;
  std::array<int, Req::kSubslots> b{{-1, -1, -1}};
};

DspData::DspData(std::vector<int> channels, std::vector<int> bPool)
    : Driver(Req::kDevice, SOCK_SEQPACKET), channels_(std::move(channels)), bPool_(std::move(bPool)) {
  std::sort(channels_.begin(), channels_.end());
  std::sort(bPool_.begin(), bPool_.end());
  add_value_request(Req::kTimeslot, [this](Session& s, unsigned long v) { return timeslot(s, v); });
  add_request(Req::kAddB, [this](Session& s, void* arg) { return add_b(s, arg); });
  add_request(Req::kRemoveB, [this](Session& s, void* arg) { return remove_b(s, arg); });
  add_command("dspdata", "list", "", "the open signalling channels: timeslot, B subslots 0..2 and their timeslots",
              [this](const Args& a, Reply& r) {
                if (!a.empty()) return r.fail("usage: dspdata list");
                for (std::string& line : describe()) r.line(std::move(line));
              });
}

DspData::~DspData() = default;

DspData::Channel* DspData::channel_of(Session& s) const { return dynamic_cast<Channel*>(s.state()); }

int DspData::on_open(Session& s) {
  for (int t : channels_) {
    if (channel(t)) continue;
    std::unique_ptr<Channel> c(new Channel);
    c->timeslot = t;
    s.set_state(std::move(c));
    return 0;
  }
  return EBUSY;
}

Session* DspData::channel(int timeslot) const {
  if (timeslot < 0) return nullptr;
  for (Session* s : sessions()) {
    const Channel* c = channel_of(*s);
    if (c && c->timeslot == timeslot) return s;
  }
  return nullptr;
}

int DspData::subslot(int channel_timeslot, unsigned n) const {
  Session* s = channel(channel_timeslot);
  if (!s || n >= Req::kSubslots) return -1;
  return channel_of(*s)->b[n];
}

std::vector<std::string> DspData::describe() const {
  std::vector<std::string> lines;
  for (Session* s : sessions()) {
    const Channel* c = channel_of(*s);
    if (!c) continue;
    std::string line = "channel=" + std::to_string(c->timeslot);
    for (std::size_t i = 0; i < c->b.size(); ++i)
      line += " b" + std::to_string(i) + "=" + (c->b[i] < 0 ? std::string("-") : std::to_string(c->b[i]));
    lines.push_back(line);
  }
  return lines;
}

int DspData::timeslot(Session& s, unsigned long value) {
  const Channel* c = channel_of(s);
  if (value != 0 || !c) return -EINVAL;
  return c->timeslot;
}

bool DspData::b_taken(int timeslot) const {
  for (Session* s : sessions())
    if (const Channel* c = channel_of(*s))
      if (std::find(c->b.begin(), c->b.end(), timeslot) != c->b.end()) return true;
  return false;
}

int DspData::add_b(Session& s, void* arg) {
  Req::AddB rec;
  std::memcpy(&rec, arg, sizeof rec);
  Channel* c = channel_of(s);
  if (!c || rec.subslot >= Req::kSubslots) return -EINVAL;
  if (c->b[rec.subslot] >= 0) return -EBUSY;
  for (int t : bPool_) {
    if (b_taken(t)) continue;
    c->b[rec.subslot] = t;
    rec.timeslot = t;
    std::memcpy(arg, &rec, sizeof rec);
    return 0;
  }
  return -EBUSY;
}

int DspData::remove_b(Session& s, void* arg) {
  Req::RemoveB rec;
  std::memcpy(&rec, arg, sizeof rec);
  Channel* c = channel_of(s);
  if (!c || rec.subslot >= Req::kSubslots) return -EINVAL;
  c->b[rec.subslot] = -1;
  return 0;
}

void DspData::on_data(Session& s, const std::uint8_t* data, std::size_t len) {
  const Channel* c = channel_of(s);
  Mcc* mcc = sim_ ? sim_->device<Mcc>(Board::Mcc::kDevice) : nullptr;
  if (!c || !mcc || len == 0) return;
  mcc->lines().from_channel(c->timeslot, Lines::Frame(data, data + len));
}

Lines::Handed DspData::deliver_frame(int output, const Lines::Frame& frame) {
  Session* s = channel(output);
  if (!s) return Lines::Handed::None;
  return s->send(frame.data(), frame.size()) ? Lines::Handed::Delivered : Lines::Handed::Lost;
}

}  // namespace SimBoard
