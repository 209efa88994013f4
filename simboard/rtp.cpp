#include "simboard/rtp.h"
#include "simboard/session_history.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace SimBoard {

namespace R = Board::Rtp;

namespace {

std::string Address(std::uint32_t addr, std::uint16_t port) {
  char text[INET_ADDRSTRLEN] = "?";
  // The address is as inet_addr gives it: its bytes in network order.
  ::inet_ntop(AF_INET, &addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(port);
}

std::uint32_t Word(const rtp_event& e, int n) {
  std::uint32_t w[9];
  std::memcpy(w, &e, sizeof w);
  return w[n];
}

std::string Words(const rtp_event& e) {
  std::string text;
  for (int i = 0; i < 9; ++i) text += (i ? " " : "") + std::to_string(static_cast<std::int32_t>(Word(e, i)));
  return text;
}

std::string Number(Board::Request request) { return "'R' " + std::to_string(Board::Ppc::number(request)); }

}  // namespace

class Rtp::Open : public OpenState {
public:
  explicit Open(std::shared_ptr<Record> r) : record(std::move(r)) {}
  std::shared_ptr<Record> record;
};

Rtp::Rtp(std::vector<int> pool) : Driver(R::kDevice, SOCK_SEQPACKET), pool_(std::move(pool)) {
  add_request(R::kBeginSession, [this](Session& s, void* arg) { return begin(s, arg); });
  add_request(R::kAddChannel, [this](Session& s, void* arg) { return add_channel(s, arg); });
  add_request(R::kAttachSession, [this](Session& s, void* arg) { return attach(s, arg); });
  add_request(R::kPayloadDetect, [this](Session& s, void* arg) { return arm(s, arg); });
  add_request(R::kPayloadReset, [this](Session& s, void* arg) { return disarm(s, arg); });
  for (Board::Request r : {R::kTeardown1, R::kTeardown2, R::kTeardown3, R::kStartInput, R::kStopInput})
    add_value_request(r, [this, r](Session& s, unsigned long) { return simple(s, r); });

  auto tdm_arg = [](const std::string& text, int& tdm, Reply& r) {
    long long v = 0;
    if (!ParseNumber(text, 0, INT32_MAX, v)) {
      r.fail("bad tdm channel " + text);
      return false;
    }
    tdm = static_cast<int>(v);
    return true;
  };
  add_command("rtp", "list", "", "the live sessions", [this](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: rtp list");
    for (const auto& rec : records_)
      if (rec->live) r.line(describe(*rec));
  });
  add_command("rtp", "get", "<tdm>", "the record of the session on the channel (the live one, else the last)",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                if (a.size() != 1) return r.fail("usage: rtp get <tdm>");
                if (!tdm_arg(a[0], tdm, r)) return;
                const Record* rec = live(tdm);
                if (!rec) {
                  const auto all = history(tdm);
                  if (all.empty()) return r.fail("no session on " + a[0]);
                  rec = all.back();
                }
                const rtp_connection_params& p = rec->params;
                r.line("session=" + std::to_string(rec->id) + " live=" + (rec->live ? "1" : "0"));
                r.line("tdm=" + std::to_string(rec->tdm) + " bss=" + (rec->bss ? "1" : "0"));
                r.line("remote=" + Address(p.remote_addr, p.remote_port));
                r.line("local=" + Address(p.local_addr, p.local_port));
                r.line("rx_pt=" + std::to_string(p.rx_pt) + " tx_pt=" + std::to_string(p.tx_pt));
                r.line("packet_factor=" + std::to_string(p.packet_factor));
                r.line("vad=" + std::to_string(p.vad) + " crate=" + std::to_string(p.crate));
                r.line("ssrc=" + std::to_string(p.ssrc));
                r.line("ttl=" + std::to_string(p.ttl));
                r.line("tos=" + std::to_string(p.tos));
                r.line(std::string("input=") + (rec->input ? "1" : "0"));
                r.line(std::string("pd=") + (rec->pd ? "1 " + Words(rec->pd_params) : "0"));
                if (rec->attached)
                  r.line("attach=" + std::to_string(rec->attach.fd_rtp) + "," + std::to_string(rec->attach.pid_rtp));
              });
  add_command("rtp", "log", "<tdm>", "the requests and closes of every session that held the channel",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                if (a.size() != 1) return r.fail("usage: rtp log <tdm>");
                if (!tdm_arg(a[0], tdm, r)) return;
                const auto all = history(tdm);
                if (all.empty()) return r.fail("no session on " + a[0]);
                for (const Record* rec : all)
                  for (const std::string& e : rec->log) r.line("session " + std::to_string(rec->id) + ": " + e);
              });
  add_command("rtp", "event", "<tdm> <type> <value> <timeout>",
              "queues one event record on the live session of the channel (type 1: payload detected)",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                long long type = 0, value = 0, timeout = 0;
                if (a.size() != 4) return r.fail("usage: rtp event <tdm> <type> <value> <timeout>");
                if (!tdm_arg(a[0], tdm, r)) return;
                if (!ParseNumber(a[1], 0, UINT32_MAX, type)) return r.fail("bad type " + a[1]);
                if (!ParseNumber(a[2], INT32_MIN, INT32_MAX, value)) return r.fail("bad value " + a[2]);
                if (!ParseNumber(a[3], INT32_MIN, INT32_MAX, timeout)) return r.fail("bad timeout " + a[3]);
                if (!live(tdm)) return r.fail("no live session on " + a[0]);
                if (!event(tdm, std::uint32_t(type), std::int32_t(value), std::int32_t(timeout)))
                  r.fail("not queued: the session's queue is full");
              });
}

Rtp::~Rtp() = default;

int Rtp::on_open(Session& s) {
  open_record<Open>(s, records_, next_id_, kHistory);
  return 0;
}

void Rtp::on_close(Session& s) {
  Record* r = record(s);
  if (!r) return;
  note(*r, "close");
  r->live = false;
  r->input = false;
  r->pd = false;
}

void Rtp::reset() { drop_ended(records_); }

Rtp::Record* Rtp::record(Session& s) const { return session_record<Open>(s); }

std::shared_ptr<const Rtp::Record> Rtp::shared_record(const Session& s) const {
  if (&s.driver() != this) return nullptr;
  Open* o = s.state_as<Open>();
  return o ? o->record : nullptr;
}

Rtp::Record* Rtp::live_record(int tdm) const {
  for (const auto& r : records_)
    if (r->live && r->tdm == tdm) return r.get();
  return nullptr;
}

const Rtp::Record* Rtp::live(int tdm) const { return live_record(tdm); }

std::vector<const Rtp::Record*> Rtp::history(int tdm) const {
  std::vector<const Record*> out;
  for (const auto& r : records_)
    if (r->tdm == tdm) out.push_back(r.get());
  return out;
}

void Rtp::note(Record& r, std::string entry) {
  if (r.log.size() == kMaxLog) {
    r.log.erase(r.log.begin());
    r.order.erase(r.order.begin());
  }
  r.log.push_back(std::move(entry));
  r.order.push_back(NextLogOrder());
}

int Rtp::begin(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  std::memcpy(&r->params, arg, sizeof r->params);
  r->begun = true;
  note(*r, Number(R::kBeginSession));
  return 0;
}

int Rtp::add_channel(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  rtp_add_channel_params p;
  std::memcpy(&p, arg, sizeof p);
  int result = 0;
  int tdm = -1;
  if (!r->begun) {
    result = -EINVAL;
  } else if (r->tdm >= 0) {
    result = -EBUSY;
  } else if (p.info.tdm == R::kAny) {
    for (int t : pool_)
      if (!live_record(t)) {
        tdm = t;
        break;
      }
    if (tdm < 0) result = -ENOSPC;
  } else if (std::find(pool_.begin(), pool_.end(), p.info.tdm) == pool_.end()) {
    result = -EINVAL;
  } else if (live_record(p.info.tdm)) {
    result = -EBUSY;
  } else {
    tdm = p.info.tdm;
  }
  std::string entry = Number(R::kAddChannel) + " ask=" + std::to_string(p.info.tdm);
  if (result == 0) {
    r->tdm = tdm;
    r->bss = p.bss != 0;
    p.info.tdm = tdm;
    std::memcpy(arg, &p, sizeof p);
    entry += " tdm=" + std::to_string(tdm);
  } else {
    entry += " " + ErrnoName(-result);
  }
  note(*r, entry);
  return result;
}

int Rtp::attach(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  std::memcpy(&r->attach, arg, sizeof r->attach);
  r->attached = true;
  note(*r, Number(R::kAttachSession) + " fd=" + std::to_string(r->attach.fd_rtp) +
               " pid=" + std::to_string(r->attach.pid_rtp));
  return 0;
}

int Rtp::arm(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  std::memcpy(&r->pd_params, arg, sizeof r->pd_params);
  r->pd = true;
  note(*r, Number(R::kPayloadDetect) + " " + Words(r->pd_params));
  return 0;
}

int Rtp::disarm(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  std::uint32_t value = 0;
  std::memcpy(&value, arg, sizeof value);
  r->pd = false;
  note(*r, Number(R::kPayloadReset) + " " + std::to_string(value));
  return 0;
}

int Rtp::simple(Session& s, Board::Request request) {
  Record* r = record(s);
  if (!r) return -EBADF;
  int result = 0;
  if (request == R::kStartInput || request == R::kStopInput) {
    if (r->tdm < 0)
      result = -EINVAL;
    else
      r->input = request == R::kStartInput;
  }
  note(*r, Number(request) + (result ? " " + ErrnoName(-result) : ""));
  return result;
}

bool Rtp::event(int tdm, std::uint32_t type, std::int32_t value, std::int32_t timeout) {
  for (Session* s : sessions()) {
    Record* r = record(*s);
    if (!r || !r->live || r->tdm != tdm) continue;
    rtp_event e = {};
    e.type = type;
    e.value = value;
    e.timeout = timeout;
    return s->send(&e, sizeof e);
  }
  return false;
}

std::string Rtp::describe(const Record& r) {
  const rtp_connection_params& p = r.params;
  return "tdm=" + std::to_string(r.tdm) + " session=" + std::to_string(r.id) +
         " remote=" + Address(p.remote_addr, p.remote_port) + " local=" + Address(p.local_addr, p.local_port) +
         " rx_pt=" + std::to_string(p.rx_pt) + " tx_pt=" + std::to_string(p.tx_pt) + " input=" + (r.input ? "1" : "0") +
         " pd=" + (r.pd ? "1" : "0");
}

}  // namespace SimBoard
