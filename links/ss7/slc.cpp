#include "links/ss7/slc.h"

#include <cstring>
#include <iostream>

#include "foundation/ext_text.h"
#include "foundation/log_limit.h"
#include "foundation/mux_time.h"

namespace SS7 {

const SLC::TimerVal SLC::T1 = {45000, &SLC::on_T1};
const SLC::TimerVal SLC::T2 = {7000, &SLC::on_T2};
const SLC::TimerVal SLC::T3 = {1500, &SLC::on_T3};
const SLC::TimerVal SLC::T4n = {8200, &SLC::on_T4};
const SLC::TimerVal SLC::T4e = {500, &SLC::on_T4};
const SLC::TimerVal SLC::T5 = {100, &SLC::on_T5};
const SLC::TimerVal SLC::T6 = {4500, &SLC::on_T6};
const SLC::TimerVal SLC::T7 = {12000, &SLC::on_T7};

namespace {

// Where an LSSU takes the link (Q.703 initial alignment). Idle stays idle
// and silent until activated: answering there is what let two links drive
// each other round. In service any LSSU ends service.
enum class Go { stay, idle, aligned, proving };
constexpr Go kLssuMoves[6][4] = {
    //  SIO          SIN or SIE    SIOS        other
    {Go::stay, Go::stay, Go::stay, Go::stay},        // idle
    {Go::aligned, Go::aligned, Go::stay, Go::stay},  // not aligned
    {Go::stay, Go::proving, Go::idle, Go::stay},     // aligned
    {Go::aligned, Go::stay, Go::idle, Go::idle},     // proving
    {Go::idle, Go::stay, Go::idle, Go::idle},        // aligned ready
    {Go::idle, Go::idle, Go::idle, Go::idle},        // worked
};

int LssuColumn(SLC::Indication i) {
  switch (i) {
    case SLC::SIO:
      return 0;
    case SLC::SIN:
    case SLC::SIE:
      return 1;
    case SLC::SIOS:
      return 2;
  }
  return 3;
}

// The counters wrap like the board's, without signed overflow.
void Count(std::int32_t& counter, unsigned n = 1) {
  counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + n);
}

// " 0xFF 0x1 ..." of the unit's octets.
struct Octets {
  const Packet& p;
};

std::ostream& operator<<(std::ostream& os, Octets const& o) {
  const unsigned char* d = o.p.empty() ? nullptr : o.p.cdata();
  for (unsigned i = 0; i < o.p.length(); ++i) os << ' ' << ext::hex(d[i], 0);
  return os;
}

}  // namespace

SLC::SLC() : current(&st_idle), name_str("MTP/L2"), lastCongestionReport(Mux::milliseconds()) {
  rtbFirst = 0;
  rtbLast = 127;
}

SLC::~SLC() = default;

const SLC::Stats* SLC::statistics() const {
  stats.rtbSize = rtbCount;
  return &stats;
}

void SLC::OnTrunkHardStatus(bool up) {
  if (up || current == &st_idle) return;
  deviceLog.line(std::clog) << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  next_state(st_idle);
}

// ------------------------------------------------------------------ Protocol

void SLC::local_prepare_head(Packet& p) { p.reserve_head(kHeader); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::local_activate() {
  if (current == &st_idle) {
    if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
    next_state(st_not_aligned);
    return;
  }
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  if (in_service()) on_activate();
}

void SLC::local_deactivate() {
  if (trace.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  next_state(st_idle);
}

void SLC::message(Packet& msu) {
  if (trace.mtp_transmit) std::clog << ext::header(this) << " mtp tx" << Octets{msu} << std::endl;
  current->message(*this, msu);
}

void SLC::receive(Packet& unit) {
  if (trace.raw_receive) std::clog << ext::header(this) << " rx raw" << Octets{unit} << std::endl;
  const unsigned length = unit.length();
  Count(stats.octetsRx, length);
  if (length < kHeader) {
    lineLog.line(std::cerr) << ext::header(this) << "ignore packet, length too small " << unit << std::endl;
    return;
  }
  // The unit is stripped and trimmed below; a buffer shared with someone
  // else would be copied on the first change, so take the copy now, the way
  // that cannot throw.
  if (unit.use_count() > 1) {
    Packet own;
    if (!own.try_reserve_head(0)) {
      lineLog.line(std::cerr) << ext::header(this) << "no packet buffer, unit dropped" << std::endl;
      return;
    }
    std::memcpy(own.put(length), unit.cdata(), length);
    unit = own;
  }
  const unsigned char* d = unit.cdata();
  bsnr = d[0] & 0x7Fu;
  bibr = (d[0] & 0x80u) != 0;
  fsnr = d[1] & 0x7Fu;
  fibr = (d[1] & 0x80u) != 0;
  li = d[2];
  const unsigned left = length - kHeader;
  const unsigned n = left < kLiMax ? left : kLiMax;
  if (li != n) {
    lineLog.line(std::cerr) << ext::header(this) << "invalid packet length,"
              << " expected = " << li << ", received = " << left << std::endl;
    if (n == kLiMax) {
      lineLog.line(std::cerr) << ext::header(this) << "can't truncate signalling unit." << std::endl;
    } else if (li < n) {
      lineLog.line(std::cerr) << ext::header(this) << "truncate " << (n - li) << " octet(s) : " << unit << std::endl;
      unit.trim(n - li);
    }
  }
  unit.pull(kHeader);
  li = unit.length();
  Count(stats.msuRxCount);
  if (li == 0) {
    current->fisu(*this);
  } else if (li <= 2) {
    current->lssu(*this, static_cast<Indication>(unit.cdata()[0]));
  } else {
    current->msu(*this, unit);
  }
}

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

// ---------------------------------------------------------------- HDLC::Notify

void SLC::on_hdlc_receive(Packet& unit) { receive(unit); }

void SLC::on_hdlc_error(Cause::Type cause) {
  deviceLog.line(std::clog) << ext::header(this) << "hdlc error [cause=" << cause << "]" << std::endl;
  // The channel has closed itself: nothing goes out or comes in any more.
  if (current != &st_idle) next_state(st_idle);
}

void SLC::on_hdlc_ready() {
  deviceLog.line(std::clog) << ext::header(this) << "hdlc ready" << std::endl;
  process_tb();
}

// ------------------------------------------------------------------ states

void SLC::next_state(State& s) {
  if (trace.state)
    std::clog << ext::shortinfo(this) << ": "
              << "change state from " << ext::quoted(*current) << " to " << ext::quoted(s) << std::endl;
  current->on_leave(*this);
  current = &s;
  current->on_enter(*this);
}

void SLC::on_enter(Idle&) {
  reset();
  sios();
  on_deactivate(Protocol_status(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::on_enter(NotAligned&) {
  reset();
  set(T2);
  sio();
}

void SLC::on_enter(Aligned&) {
  set(T3);
  if (trace.timers) std::clog << ext::header(this) << "set T3" << std::endl;
  if (emergency)
    sie();
  else
    sin();
}

void SLC::on_enter(Proving&) {
  if (emergency) {
    set(T4e);
    sie();
  } else {
    set(T4n);
    sin();
  }
  if (trace.timers) std::clog << ext::header(this) << "set T4" << std::endl;
}

void SLC::on_enter(AlignedReady&) {
  set(T1);
  fisu();
}

void SLC::on_enter(Worked&) {
  if (!tb.empty()) {
    commandLog.line(std::cerr) << ext::header(this) << "discard " << tb.count() << " msu in TB" << std::endl;
    tb.clear();
  }
  reset();
  fisu();
  process_tb();
  on_activate();
}

void SLC::on_leave(State&) { timer.reset(); }

void SLC::fisu(Proving&) { next_state(st_worked); }

// The MSU that ends proving is not delivered: the peer sends it again.
void SLC::msu(Proving&, Packet&) { next_state(st_worked); }

void SLC::lssu(State& s, Indication i) {
  switch (kLssuMoves[s.get_state_id()][LssuColumn(i)]) {
    case Go::stay:
      break;
    case Go::idle:
      next_state(st_idle);
      break;
    case Go::aligned:
      next_state(st_aligned);
      break;
    case Go::proving:
      next_state(st_proving);
      break;
  }
}

void SLC::lssu(Worked& s, Indication i) {
  lineLog.line(std::cerr) << ext::header(this) << "receive lssu: " << i << " " << DumpPtr{this} << std::endl;
  lssu(static_cast<State&>(s), i);
}

// ------------------------------------------------------------------ timers

void SLC::set(TimerVal const& t) { timer.set<SLC>(t.ms, t.handler, this); }

void SLC::on_T1(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T1 expired" << std::endl;
  next_state(st_idle);
}

void SLC::on_T2(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T2 expired" << std::endl;
  next_state(st_idle);
}

void SLC::on_T3(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T3 expired" << std::endl;
  next_state(st_idle);
}

void SLC::on_T4(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T4 expired." << std::endl;
  next_state(st_aligned_ready);
}

void SLC::on_T7(Timer*) {
  if (trace.timers) std::clog << ext::header(this) << "T7 expired: " << rtbCount << " packets in RTB." << std::endl;
  next_state(st_idle);
}

// ------------------------------------------------------------------ sending

bool SLC::new_unit(Packet& p) {
  if (p.try_reserve_head(kHeader)) return true;
  deviceLog.line(std::cerr) << ext::header(this) << "no packet buffer, unit not sent" << std::endl;
  return false;
}

bool SLC::send(Packet const& payload) {
  if (!channel) {
    deviceLog.line(std::clog) << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return false;
  }
  Packet su;
  if (!new_unit(su)) return false;
  const unsigned n = payload.length();
  if (n) std::memcpy(su.put(n), payload.cdata(), n);
  su.push8(static_cast<unsigned char>(n < kLiMax ? n : kLiMax));
  su.push8(static_cast<unsigned char>(unsigned(fsnt) | (fibt ? 0x80u : 0u)));
  su.push8(static_cast<unsigned char>(unsigned(bsnt) | (bibt ? 0x80u : 0u)));
  if (!channel->hdlc_transmit(su)) {
    if (trace.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
    return false;
  }
  if (trace.raw_transmit) std::clog << ext::header(this) << " tx raw" << Octets{su} << std::endl;
  Count(stats.msuTxCount);
  Count(stats.octetsTx, su.length());
  return true;
}

void SLC::fisu() { send(Packet()); }

void SLC::lssu(Indication i) {
  if (!channel) return;
  Packet su;
  if (!new_unit(su)) return;
  unsigned char* at = su.put(4);
  at[0] = 0xFF;
  at[1] = 0xFF;
  at[2] = 0x01;
  at[3] = i;
  channel->hdlc_transmit(su);
}

void SLC::send_msu(Packet& msu) {
  if (trace.msu_processing && msu.empty()) {
    std::cerr << ext::header(this) << "fail to send msu (bad packet)" << std::endl;
    return;
  }
  send(msu);
}

bool SLC::CoutCongestion() {
  const std::uint32_t now = Mux::milliseconds();
  if (now - lastCongestionReport < 1000) return true;
  lastCongestionReport = now;
  return false;
}

// ------------------------------------------------------- error correction

void SLC::clear_rtb() {
  for (int k = 0; k < rtbCount; ++k) rtb[unsigned(rtbFirst + k)].clear();
  rtbFirst = 0;
  rtbLast = 127;
  rtbCount = 0;
}

void SLC::reset() {
  clear_rtb();
  nackPending = bsnError = fibError = false;
  bsnt = 127;
  fsnt = 127;
  bibt = fibt = true;
}

void SLC::make_expected() {
  fsnx = bsnt;
  fibx = bibt;
  bibx = fibt;
}

void SLC::fisu(Worked&) {
  make_expected();
  if (fibr != fibx) {
    unexpected_fib();
    return;
  }
  nackPending = fibError = false;
  if (!process_bsnr()) return;
  if (fsnr != fsnx) nack();
}

void SLC::msu(Worked&, Packet& su) {
  make_expected();
  if (fsnr == fsnx) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702"
                << " fsnr=" << unsigned(fsnr) << " fsnx=" << unsigned(fsnx) << std::endl;
    return;
  }
  if (fibr != fibx) {
    unexpected_fib();
    return;
  }
  nackPending = fibError = false;
  if (!process_bsnr()) return;
  if (fsnr != fsnx + 1) {
    if (trace.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702"
                << " fsnr=" << unsigned(fsnr) << " fsnx=" << unsigned(fsnx) << std::endl;
    nack();
    return;
  }
  bsnt = fsnr;
  if (trace.msu_processing) std::cerr << ext::header(this) << "ack!" << std::endl;
  fisu();
  if (trace.mtp_receive) std::clog << ext::header(this) << " mtp rx" << Octets{su} << std::endl;
  on_message(su);
}

// A FIB that does not match: once it may be the peer not yet retransmitting,
// twice in a row the link is lost.
void SLC::unexpected_fib() {
  if (nackPending) {
    process_bsnr();
  } else if (fibError) {
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
    next_state(st_idle);
  } else {
    fibError = true;
  }
}

void SLC::nack() {
  bibt = !bibt;
  fibx = bibt;
  nackPending = true;
  fisu();
  Count(stats.badSeqCntr);
  if (trace.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

bool SLC::process_bsnr() {
  if (!((rtbFirst - 1 <= bsnr) <= rtbLast)) {
    if (!bsnError) {
      bsnError = true;
      return true;
    }
    if (trace.msu_processing)
      std::cerr << ext::header(this) << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
    next_state(st_idle);
    return false;
  }
  bsnError = false;
  const bool frees = rtbFirst != bsnr + 1;
  if (frees) set(T7);
  while (rtbFirst != bsnr + 1) {
    rtb[unsigned(rtbFirst)].clear();
    --rtbCount;
    ++rtbFirst;
  }
  if (rtbCount == 0) timer.reset();
  if (bibr != bibx)
    retransmit();
  else if (frees && !tb.empty())
    process_tb();
  return true;
}

void SLC::retransmit() {
  if (trace.msu_processing)
    std::cerr << ext::header(this) << "retransmit"
              << " rtb=" << rtbCount << std::endl;
  Count(stats.repeatCntr);
  fsnt = rtbFirst - 1;
  fibt = bibr;
  // Newest first to the front, so the oldest goes out first.
  for (int k = 0; k < rtbCount; ++k) {
    Packet& m = rtb[unsigned(rtbLast - k)];
    tb.append(m);
    m.clear();
  }
  rtbLast = fsnt;
  rtbCount = 0;
  process_tb();
}

void SLC::message(Worked&, Packet& msu) {
  // Shorter would read as a FISU or an LSSU at the far end, longer passes
  // the SIF; the slot refuses both before they get here.
  if (!Carries(msu.length())) {
    commandLog.line(std::cerr) << ext::header(this) << "ignore msu, bad length " << msu.length() << std::endl;
    return;
  }
  put_to_tb(msu);
  process_tb();
}

void SLC::put_to_tb(Packet& msu) {
  if (tb.count() >= kTbAccept) {
    Count(stats.overflowCntr);
    commandLog.line(std::cerr) << ext::header(this) << "no space in TB buffer,"
              << " TB=" << tb.count() << " RTB=" << rtbCount << " ignoring msu: " << msu << std::endl;
    return;
  }
  tb.put(msu);
}

void SLC::process_tb() {
  if (!in_service()) return;
  Packet m;
  while (rtbCount < kMaxOutstanding && tb.preview(&m)) {
    fsnt = rtbLast + 1;
    if (!send(m)) {
      // Not sent: the FISUs meanwhile must not announce it.
      fsnt = rtbLast;
      return;
    }
    tb.get(m);
    rtbLast = fsnt;
    rtb[unsigned(rtbLast)] = m;
    if (++rtbCount == 1) set(T7);
  }
  // The channel repeats the last FISU while nothing new goes: it carries the
  // newest FSN, so that the peer notices when the last MSU went missing.
  fisu();
}

// ------------------------------------------------------------------ text

void SLC::PutShortInfo(std::ostream& os) const {
  os << "SS7/L2 "
     << "["
     << "dpc=" << dpc << ", slc=" << slc << ", trunk=" << linkno << "]";
}

void SLC::PutHeader(std::ostream& os) const {
  PutShortInfo(os);
  os << " (" << *current << ")"
     << ": ";
}

std::ostream& operator<<(std::ostream& os, SLC::Indication i) {
  switch (i) {
    case SLC::SIO:
      return os << "out of alignment";
    case SLC::SIN:
      return os << "normal alignment";
    case SLC::SIE:
      return os << "emergency alignment";
    case SLC::SIOS:
      return os << "out of service";
  }
  return os << "unknown:" << ext::hex(unsigned(i), 0);
}

std::ostream& operator<<(std::ostream& os, SLC::State::type t) {
  static const char* const names[] = {"idle", "not aligned", "aligned", "proving", "aligned ready", "worked"};
  const unsigned v = static_cast<unsigned>(t);
  return os << (v < 6 ? names[v] : "unknown");
}

std::ostream& operator<<(std::ostream& os, SLC::State const& s) { return os << s.get_type(); }

std::ostream& operator<<(std::ostream& os, SLC::DumpPtr const& d) {
  return os << " BSN=" << unsigned(d.slc->bsnr) << " BIB=" << int(d.slc->bibr) << " FSN=" << unsigned(d.slc->fsnr)
            << " FIB=" << int(d.slc->fibr);
}

}  // namespace SS7
