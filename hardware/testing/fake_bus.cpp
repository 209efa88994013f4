#include "hardware/testing/fake_bus.h"

namespace HdlcTesting {

bool BusEnd::countdown(std::vector<unsigned>& pending) {
  bool hit = false;
  for (auto it = pending.begin(); it != pending.end();) {
    if (--*it == 0) {
      hit = true;
      it = pending.erase(it);
    } else {
      ++it;
    }
  }
  return hit;
}

bool BusEnd::hdlc_transmit(Packet& frame) {
  if (frame.empty()) return true;
  Bytes const b = ToBytes(frame);
  sent_.push_back(b);
  bus_.log_.push_back(FakeBus::Sent{index_, b});
  bool const lost = countdown(drop_out_) || mute_;
  if (!lost) bus_.send(*this, b);
  return true;
}

bool BusEnd::lose_in() { return countdown(drop_in_) || deaf_; }

void BusEnd::drop_in(unsigned nth) {
  if (nth) drop_in_.push_back(nth);
}

void BusEnd::drop_out(unsigned nth) {
  if (nth) drop_out_.push_back(nth);
}

void BusEnd::inject(Bytes const& frame) { bus_.queue_.push_back(FakeBus::InFlight{this, frame}); }

FakeBus::FakeBus(unsigned terminals) : network_(new BusEnd(*this, -1)) {
  if (terminals > max_terminals) terminals = max_terminals;
  for (unsigned i = 0; i < terminals; ++i) terminals_.emplace_back(new BusEnd(*this, int(i)));
}

void FakeBus::send(BusEnd& from, Bytes const& frame) {
  if (from.network_) {
    for (auto& t : terminals_)
      if (!t->lose_in()) queue_.push_back(InFlight{t.get(), frame});
  } else if (!network_->lose_in()) {
    queue_.push_back(InFlight{network_.get(), frame});
  }
}

bool FakeBus::step() {
  if (queue_.empty()) return false;
  InFlight f = std::move(queue_.front());
  queue_.pop_front();
  f.to->delivered_.push_back(f.frame);
  if (f.to->client_) {
    Packet p = ToPacket(f.frame);
    f.to->client_->on_hdlc_receive(p);
  }
  return true;
}

void FakeBus::run() {
  while (step()) {
  }
}

}  // namespace HdlcTesting
