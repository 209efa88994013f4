#include "hardware/testing/fake_hdlc.h"

#include <algorithm>

namespace HdlcTesting {

Bytes ToBytes(const Packet& p) {
  if (p.empty()) return Bytes();
  return Bytes(p.cdata(), p.cdata() + p.length());
}

Packet ToPacket(const Bytes& b) {
  Packet p;
  p.reserve_head(0);
  if (!b.empty()) std::copy(b.begin(), b.end(), p.put(static_cast<unsigned>(b.size())));
  return p;
}

void Direction::drop(unsigned nth) {
  if (nth) pending_.push_back(Pending{Pending::Drop, nth, Spoiler()});
}

void Direction::duplicate(unsigned nth) {
  if (nth) pending_.push_back(Pending{Pending::Duplicate, nth, Spoiler()});
}

void Direction::corrupt(unsigned nth, Spoiler how) {
  if (!how)
    how = [](Bytes& f) {
      if (!f.empty()) f.back() = static_cast<std::uint8_t>(f.back() ^ 0xFF);
    };
  if (nth) pending_.push_back(Pending{Pending::Corrupt, nth, std::move(how)});
}

void Direction::repeat(unsigned ms) {
  repeat_ms_ = ms;
  if (ms && has_last_)
    repeat_timer_.set<Direction>(ms, &Direction::on_repeat, this);
  else
    repeat_timer_.reset();
}

void Direction::clear_record() {
  sent_.clear();
  delivered_.clear();
  lost_ = 0;
}

// A frame the sending end transmitted.
void Direction::take(const Bytes& frame) {
  sent_.push_back(frame);
  bool drop = swallow_, dup = false;
  Bytes f = frame;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (--it->countdown > 0) {
      ++it;
      continue;
    }
    if (it->kind == Pending::Drop) drop = true;
    if (it->kind == Pending::Duplicate) dup = true;
    if (it->kind == Pending::Corrupt) it->how(f);
    it = pending_.erase(it);
  }
  if (drop) {
    ++lost_;
    return;
  }
  queue_.push_back(f);
  if (dup) queue_.push_back(f);
  last_ = f;
  has_last_ = true;
  repeat(repeat_ms_);
  to_->link_.wake();
}

void Direction::on_repeat() {
  if (!has_last_ || !repeat_ms_) return;
  if (!swallow_) {
    queue_.push_back(last_);
    to_->link_.wake();
  }
  repeat_timer_.set<Direction>(repeat_ms_, &Direction::on_repeat, this);
}

bool FakeChannel::hdlc_transmit(Packet& frame) {
  if (frame.empty()) return true;
  if (!open_) {
    ++discarded_;
    return false;
  }
  if (refusing_) {
    ++refused_;
    ready_ = false;
    return false;
  }
  ++transmitted_;
  out_.take(ToBytes(frame));
  return true;
}

void FakeChannel::open() {
  open_ = true;
  ready_ = false;
  ready_due_ = true;
  error_due_ = false;
  link_.wake();
}

void FakeChannel::close() {
  open_ = false;
  ready_ = false;
  ready_due_ = false;
}

void FakeChannel::fail() {
  close();
  error_due_ = true;
  link_.wake();
}

void FakeChannel::refuse(unsigned ms) {
  refusing_ = true;
  if (ms)
    refuse_timer_.set<FakeChannel>(ms, &FakeChannel::on_refuse_end, this);
  else
    refuse_timer_.reset();
}

void FakeChannel::accept() {
  refuse_timer_.reset();
  on_refuse_end();
}

void FakeChannel::on_refuse_end() {
  refusing_ = false;
  if (open_ && !ready_) {
    ready_due_ = true;
    link_.wake();
  }
}

void FakeChannel::inject(const Bytes& frame) {
  Direction& in = &out_ == &link_.ab_ ? link_.ba_ : link_.ab_;
  in.queue_.push_back(frame);
  link_.wake();
}

FakeLink::FakeLink() : a_(*this, ab_), b_(*this, ba_) {
  ab_.to_ = &b_;
  ba_.to_ = &a_;
  dpc_.Bind(this, &FakeLink::on_dpc);
}

FakeLink::~FakeLink() = default;

void FakeLink::wake() { dpc_.Activate(); }

void FakeLink::on_dpc() {
  if (!step()) dpc_.Deactivate();
}

bool FakeLink::idle() const {
  return ab_.queue_.empty() && ba_.queue_.empty() && !a_.ready_due_ && !b_.ready_due_ && !a_.error_due_ &&
         !b_.error_due_;
}

bool FakeLink::step() {
  for (FakeChannel* c : {&a_, &b_}) {
    if (c->error_due_) {
      c->error_due_ = false;
      if (c->client_) c->client_->on_hdlc_error(HDLC::Notify::Cause::read_error);
      return true;
    }
    if (c->ready_due_) {
      c->ready_due_ = false;
      if (c->open_ && !c->ready_ && !c->refusing_) {
        c->ready_ = true;
        ++c->readies_;
        if (c->client_) c->client_->on_hdlc_ready();
      }
      return true;
    }
  }
  // The directions take turns, so a busy one does not hold the other back.
  turn_ = !turn_;
  for (Direction* d : {turn_ ? &ab_ : &ba_, turn_ ? &ba_ : &ab_}) {
    if (d->queue_.empty()) continue;
    Bytes f = std::move(d->queue_.front());
    d->queue_.pop_front();
    FakeChannel& to = *d->to_;
    if (!to.open_) {
      ++d->lost_;
      return true;
    }
    d->delivered_.push_back(f);
    ++to.received_;
    Packet p = ToPacket(f);
    if (to.client_) to.client_->on_hdlc_receive(p);
    return true;
  }
  return false;
}

}  // namespace HdlcTesting
