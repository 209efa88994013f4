#pragma once
// SS7 signalling link control: level 2 of the message transfer part on one
// HDLC channel. It aligns and proves the link with LSSUs, keeps it in service
// with FISUs and carries MSUs with the basic error correction method
// (positive and negative acknowledgement by BSN/BIB and FSN/FIB, and
// retransmission of every unacknowledged MSU). Layer 3 lives in the
// controller: MSUs pass up and down as their bare SIO and SIF octets and this
// layer adds and strips the three-octet header.
//
// Deliberately not here, for the peers' sake: no congestion procedure (T5 and
// T6 exist but are never armed), no alignment or signal unit error rate
// monitor, proving ends at the first FISU or MSU from the peer, and each unit
// is handed to the channel once: the channel repeats the last FISU or LSSU on
// an idle line, so the last one handed over always carries the current
// sequence numbers.
//
// A link out of service (idle) stays so, silent, whatever it receives, until
// it is activated; the alignment states answer status units as Q.703 says,
// with one unit per change of state, so two links cannot drive each other
// round for ever.
#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "foundation/containers.h"
#include "foundation/log_limit.h"
#include "foundation/timer.h"
#include "hardware/hdlc.h"
#include "transport/packet.h"
#include "transport/protocol.h"

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
public:
  using Seq = Cyclic<unsigned, 127u>;

  // The status octet of an LSSU.
  enum Indication : std::uint8_t { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

  // Protocol figures, by their Q.703 names where it has them.
  static constexpr unsigned kHeader = 3;       // BSN/BIB, FSN/FIB, LI
  static constexpr unsigned kLiMax = 63;       // LI of every unit with 63 or more octets
  static constexpr int kMaxOutstanding = 127;  // MSUs sent and not acknowledged
  static constexpr unsigned kTbAccept = 200;   // MSUs from above waiting to be sent
  static constexpr unsigned kTbSize = 327;     // kTbAccept + room for a retransmission
  static constexpr unsigned kMinMsu = 3;       // SIO and two SIF octets: shorter reads as FISU or LSSU
  static constexpr unsigned kMaxSif = 272;
  static constexpr unsigned kMaxMsu = 1 + kMaxSif;
  static_assert(kHeader + kMaxMsu <= Packet::packet_max_size, "an MSU fits a packet buffer");

  // Whether an MSU (SIO and SIF) of this many octets can be sent whole.
  static bool Carries(std::size_t octets) { return octets >= kMinMsu && octets <= kMaxMsu; }

  class State;
  template <int N, class Base>
  class TState;

  struct TimerVal {
    unsigned ms;
    void (SLC::*handler)(Timer*);
  };
  static const TimerVal T1;   // aligned ready
  static const TimerVal T2;   // not aligned
  static const TimerVal T3;   // aligned
  static const TimerVal T4n;  // proving, normal
  static const TimerVal T4e;  // proving, emergency
  static const TimerVal T5;   // never armed
  static const TimerVal T6;   // never armed
  static const TimerVal T7;   // excessive delay of acknowledgement

  // Set by the owning slot, in this order, from its SS7 log switches.
  struct Trace {
    bool state = false;
    bool raw_receive = false;
    bool raw_transmit = false;
    bool mtp_transmit = false;
    bool mtp_receive = false;
    bool mtp_activate = false;
    bool timers = false;
    bool msu_processing = false;
  };

  // Never reset.
  struct Stats {
    std::int32_t msuTxCount = 0;    // FISUs and MSUs handed to the channel
    std::int32_t msuRxCount = 0;    // received units of at least three octets
    std::int32_t octetsTx = 0;      // of the units in msuTxCount, header included
    std::int32_t octetsRx = 0;      // of every received unit
    std::int32_t overflowCntr = 0;  // MSUs refused with the transmission buffer full
    std::int32_t rtbSize = 0;       // outstanding MSUs as of the last statistics()
    std::int32_t repeatCntr = 0;    // retransmissions started
    std::int32_t badSeqCntr = 0;    // negative acknowledgements sent
  };

  class State {
  public:
    enum type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
    explicit State(type t) : type_(t) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    virtual ~State() = default;
    virtual void on_enter(SLC&) = 0;
    virtual void on_leave(SLC&) = 0;
    virtual void fisu(SLC&) = 0;
    virtual void lssu(SLC&, Indication) = 0;
    virtual void msu(SLC&, Packet&) = 0;
    virtual void message(SLC&, Packet&) = 0;
    virtual int get_state_id() const = 0;
    type get_type() const { return type_; }

  private:
    type type_;
  };

  // Each event calls the link's handler of the same name with the concrete
  // state, so overload resolution picks the handler; a state derived from
  // another shares the handlers it does not have itself.
  template <int N, class Base = State>
  class TState : public Base {
  public:
    TState() : Base(State::type(N)) {}
    explicit TState(State::type t) : Base(t) {}
    void on_enter(SLC& s) override { s.on_enter(*this); }
    void on_leave(SLC& s) override { s.on_leave(*this); }
    void fisu(SLC& s) override { s.fisu(*this); }
    void lssu(SLC& s, Indication i) override { s.lssu(*this, i); }
    void msu(SLC& s, Packet& p) override { s.msu(*this, p); }
    void message(SLC& s, Packet& p) override { s.message(*this, p); }
    int get_state_id() const override { return N; }
  };
  using Idle = TState<0>;
  using NotAligned = TState<1>;
  using Aligned = TState<2>;
  using Proving = TState<3>;
  using AlignedReady = TState<4, Proving>;
  using Worked = TState<5>;

  // Prints the received sequence state: " BSN=n BIB=b FSN=n FIB=b".
  struct DumpPtr {
    const SLC* slc;
  };

  SLC();
  ~SLC() override;

  void set_linkno(unsigned n) { linkno = n; }
  void set_slc(unsigned n) { slc = n; }
  void set_dpc(unsigned n) { dpc = n; }
  void set_opc(unsigned n) { opc = n; }
  void set_emergency(bool on) { emergency = on; }
  // Any channel: the board's, or a fake one in tests.
  void hdlc(GenericHDLC* ch) { channel = ch; }

  int get_state_id() const { return current->get_state_id(); }
  unsigned get_bsn() const { return bsnt; }
  const Stats* statistics() const;
  void OnTrunkHardStatus(bool up);

  // Protocol
  Protocol_name const& name() const override { return name_str; }
  bool compare_name(Protocol_name const& n) const override { return name_str.compare(n); }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  // An MSU from above: SIO and SIF.
  void message(Packet& msu) override;
  // A unit from the channel.
  void receive(Packet& unit) override;
  void protocol_info(std::ostream& os) const override;

  // HDLC::Notify
  void on_hdlc_receive(Packet& unit) override;
  void on_hdlc_error(Cause::Type cause) override;
  void on_hdlc_ready() override;

  // Not used by the slot.
  void send_msu(Packet& msu);
  bool CoutCongestion();

  void PutHeader(std::ostream& os) const;
  void PutShortInfo(std::ostream& os) const;

  Trace trace;

private:
  // Handlers; the State& overloads are the "nothing happens" of the table.
  void on_enter(State&) {}
  void on_enter(Idle&);
  void on_enter(NotAligned&);
  void on_enter(Aligned&);
  void on_enter(Proving&);
  void on_enter(AlignedReady&);
  void on_enter(Worked&);
  void on_leave(State&);
  void on_leave(Idle&) {}
  void fisu(State&) {}
  void fisu(Proving&);
  void fisu(Worked&);
  void lssu(State&, Indication);
  void lssu(Worked&, Indication);
  void msu(State&, Packet&) {}
  void msu(Proving&, Packet&);
  void msu(Worked&, Packet&);
  void message(State&, Packet&) {}
  void message(Worked&, Packet&);

  void next_state(State& s);
  bool in_service() const { return current == &st_worked; }
  void set(TimerVal const& t);
  void on_T1(Timer*);
  void on_T2(Timer*);
  void on_T3(Timer*);
  void on_T4(Timer*);
  void on_T5(Timer*) {}
  void on_T6(Timer*) {}
  void on_T7(Timer*);

  // Takes a buffer for a unit without throwing; false (logged) when the pool
  // is empty.
  bool new_unit(Packet& p);
  bool send(Packet const& payload);
  void fisu();
  void lssu(Indication i);
  void sio() { lssu(SIO); }
  void sin() { lssu(SIN); }
  void sie() { lssu(SIE); }
  void sios() { lssu(SIOS); }

  void reset();
  void clear_rtb();
  void make_expected();
  // False when the acknowledgement took the link out of service.
  bool process_bsnr();
  void unexpected_fib();
  void nack();
  void retransmit();
  void put_to_tb(Packet& msu);
  void process_tb();

  Seq bsnr;
  bool bibr = false;
  Seq fsnr;
  bool fibr = false;
  std::uint32_t li = 0;
  Seq bsnt;
  bool bibt = false;
  Seq fsnt;
  bool fibt = false;
  Seq fsnx;
  bool fibx = false;
  bool bibx = false;
  bool nackPending = false;
  bool bsnError = false;
  bool fibError = false;
  Packet rtb[128];
  Seq rtbFirst;
  Seq rtbLast;
  std::int32_t rtbCount = 0;
  CleanQueue<Packet, kTbSize> tb;
  std::uint32_t linkno = 0;
  Timer timer;
  Idle st_idle;
  NotAligned st_not_aligned;
  Aligned st_aligned;
  Proving st_proving;
  AlignedReady st_aligned_ready;
  Worked st_worked;
  State* current;
  bool emergency = false;
  Protocol_name_str name_str;
  std::uint32_t lastCongestionReport;
  std::uint32_t slc = 0;
  std::uint32_t dpc = 0;
  std::uint32_t opc = 0;
  mutable Stats stats;
  GenericHDLC* channel = nullptr;
  // What the line, the channel or the controller sets off is logged through
  // these: a faulty unit says itself (in at most two lines) once a second,
  // then its count.
  Log::Limiter lineLog{2};
  Log::Limiter deviceLog;
  Log::Limiter commandLog;

  friend std::ostream& operator<<(std::ostream& os, DumpPtr const& d);
};

std::ostream& operator<<(std::ostream& os, SLC::Indication i);
std::ostream& operator<<(std::ostream& os, SLC::State::type t);
std::ostream& operator<<(std::ostream& os, SLC::State const& s);
std::ostream& operator<<(std::ostream& os, SLC::DumpPtr const& d);

}  // namespace SS7
