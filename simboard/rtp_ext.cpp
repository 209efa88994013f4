#include "simboard/rtp_ext.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "foundation/ext_text.h"
#include "simboard/session_history.h"
#include "simboard/simulator.h"

namespace SimBoard {

namespace E = Board::RtpExt;

namespace {

std::string Dotted(std::uint32_t addr) {
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

std::string Number(Board::Request request) { return "'E' " + std::to_string(Board::Ppc::number(request)); }

// "0a01a8c0": false when it is no whole octets, none, or too many.
bool ParseHex(const std::string& text, std::vector<std::uint8_t>& out) {
  std::string octets;
  if (text.empty() || text.size() / 2 > E::kMaxPacket || !ext::parse_hex(text, octets)) return false;
  out.assign(octets.begin(), octets.end());
  return true;
}

}  // namespace

class RtpExt::Open : public OpenState {
public:
  explicit Open(std::shared_ptr<Record> r) : record(std::move(r)) {}
  std::shared_ptr<Record> record;
};

RtpExt::RtpExt() : Driver(E::kDevice, SOCK_SEQPACKET) {
  add_request(E::kInit, [this](Session& s, void* arg) { return init(s, arg); });
  add_request(E::kAttachSession, [this](Session& s, void* arg) { return attach(s, arg); });
  add_request(E::kDetachSession, [this](Session& s, void* arg) { return detach(s, arg); });
  add_request(E::kNextPacket, [this](Session& s, void* arg) { return next_packet(s, arg); });
  add_request(E::kSetFilter, [this](Session& s, void* arg) { return set_filter(s, arg); });
  add_request(E::kResetFilter, [this](Session& s, void* arg) { return reset_filter(s, arg); });
  add_commands();
}

RtpExt::~RtpExt() = default;

void RtpExt::on_added(Simulator& sim) { sim_ = &sim; }

Rtp* RtpExt::rtp() const { return sim_ ? sim_->device<Rtp>(Board::Rtp::kDevice) : nullptr; }

int RtpExt::on_open(Session& s) {
  open_record<Open>(s, records_, next_id_, kHistory);
  return 0;
}

void RtpExt::on_close(Session& s) {
  Record* r = record(s);
  if (!r) return;
  note(*r, "close");
  r->live = false;
  r->pending.clear();
}

void RtpExt::on_data(Session& s, const std::uint8_t* data, std::size_t len) {
  Record* r = record(s);
  if (!r) return;
  if (r->sent.size() == kMaxSent) r->sent.pop_front();
  r->sent.push_back(ext::hex_text(data, len, ' '));
}

void RtpExt::reset() { drop_ended(records_); }

RtpExt::Record* RtpExt::record(Session& s) const { return session_record<Open>(s); }

Session* RtpExt::live_session(int tdm) const {
  const Rtp* engine = rtp();
  const Rtp::Record* session = engine ? engine->live(tdm) : nullptr;
  if (!session) return nullptr;
  // The newest, should two be bound to it.
  for (auto it = sessions().rbegin(); it != sessions().rend(); ++it) {
    const Record* r = record(**it);
    if (r && r->live && r->bound.get() == session) return *it;
  }
  return nullptr;
}

const RtpExt::Record* RtpExt::live(int tdm) const {
  Session* s = live_session(tdm);
  return s ? record(*s) : nullptr;
}

std::vector<const RtpExt::Record*> RtpExt::history(int tdm) const {
  std::vector<const Record*> out;
  for (const auto& r : records_)
    if (std::any_of(r->held.begin(), r->held.end(), [tdm](const auto& h) { return h->tdm == tdm; }))
      out.push_back(r.get());
  return out;
}

void RtpExt::note(Record& r, std::string entry) {
  if (r.log.size() == kMaxLog) r.log.erase(r.log.begin());
  r.log.emplace_back(NextLogOrder(), std::move(entry));
}

std::string RtpExt::inject(int tdm, std::uint32_t ssrc, std::uint32_t addr,
                           const std::vector<std::vector<std::uint8_t>>& packets) {
  Session* s = live_session(tdm);
  if (!s) return "no header-extension session on " + std::to_string(tdm);
  Record& r = *record(*s);
  if (r.filter && r.filter_addr != addr) return "filtered";
  for (const auto& p : packets) {
    Pending pending;
    pending.ssrc = ssrc;
    pending.addr = addr;
    if (!s->send(p.data(), p.size(), &pending.length)) return "not queued: the session's queue is full";
    r.pending.push_back(pending);
  }
  return "";
}

void RtpExt::settle(Session& s, Record& r) {
  int waiting = 0;
  if (::ioctl(s.request_fd(), FIONREAD, &waiting) != 0 || waiting < 0) return;
  // A record device's socket counts the octets of every record it holds;
  // the daemon reads them in order, so what it read is at the front.
  std::size_t total = 0;
  for (const Pending& p : r.pending) total += p.length;
  while (!r.pending.empty() && total > static_cast<std::size_t>(waiting)) {
    total -= r.pending.front().length;
    r.pending.pop_front();
  }
}

int RtpExt::init(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  std::memcpy(&r->init, arg, sizeof r->init);
  r->initialised = true;
  char etype[8];
  std::snprintf(etype, sizeof etype, "0x%04X", static_cast<unsigned>(r->init.etype));
  note(*r, Number(E::kInit) + " etype=" + etype + " words=" + std::to_string(r->init.param1) + "," +
               std::to_string(r->init.param2) + "," + std::to_string(r->init.param3) + "," +
               std::to_string(r->init.param4));
  return 0;
}

int RtpExt::attach(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  rtp_ext_attach_session_params a;
  std::memcpy(&a, arg, sizeof a);
  std::string entry =
      Number(E::kAttachSession) + " fd=" + std::to_string(a.fd_rtp) + " pid=" + std::to_string(a.pid_rtp);
  int result = 0;
  std::shared_ptr<const Rtp::Record> target;
  if (!r->initialised) {
    result = -EINVAL;
  } else if (r->bound) {
    result = -EBUSY;
  } else if (a.pid_rtp != -1 && a.pid_rtp != ::getpid()) {
    result = -ESRCH;
  } else {
    // The descriptor number means what it means in the daemon's process,
    // which is this one.
    const Session* session = sim_ && a.fd_rtp >= 0 ? sim_->session_of(a.fd_rtp) : nullptr;
    const Rtp* engine = rtp();
    target = session && engine ? engine->shared_record(*session) : nullptr;
    if (!target) result = -EBADF;
  }
  if (result == 0) {
    r->bound = target;
    r->pid = a.pid_rtp;
    r->held.push_back(target);
    entry += " rtp=" + std::to_string(target->id);
  } else {
    entry += " " + ErrnoName(-result);
  }
  note(*r, entry);
  return result;
}

int RtpExt::detach(Session& s, void*) {
  Record* r = record(s);
  if (!r) return -EBADF;
  const int result = r->bound ? 0 : -EINVAL;
  r->bound.reset();
  note(*r, Number(E::kDetachSession) + (result ? " " + ErrnoName(-result) : ""));
  return result;
}

int RtpExt::next_packet(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  settle(s, *r);
  rtp_ext_next_packet_params p = {};
  if (!r->pending.empty()) {
    p.ssrc = r->pending.front().ssrc;
    p.addr = r->pending.front().addr;
    p.reserved = static_cast<std::uint32_t>(r->pending.front().length);
  }
  std::memcpy(arg, &p, sizeof p);
  note(*r, Number(E::kNextPacket) +
               (r->pending.empty() ? " none" : " ssrc=" + std::to_string(p.ssrc) + " from " + Dotted(p.addr)));
  return r->pending.empty() ? 0 : 1;
}

int RtpExt::set_filter(Session& s, void* arg) {
  Record* r = record(s);
  if (!r) return -EBADF;
  rtp_ext_filter_params f;
  std::memcpy(&f, arg, sizeof f);
  r->filter = true;
  r->filter_addr = f.addr;
  note(*r, Number(E::kSetFilter) + " " + Dotted(f.addr));
  return 0;
}

int RtpExt::reset_filter(Session& s, void*) {
  Record* r = record(s);
  if (!r) return -EBADF;
  r->filter = false;
  r->filter_addr = 0;
  note(*r, Number(E::kResetFilter));
  return 0;
}

void RtpExt::add_commands() {
  auto tdm_arg = [](const std::string& text, int& tdm, Reply& r) {
    long long v = 0;
    if (!ParseNumber(text, 0, INT32_MAX, v)) {
      r.fail("bad tdm channel " + text);
      return false;
    }
    tdm = static_cast<int>(v);
    return true;
  };
  auto binding = [](const Record& r) {
    return r.bound ? "rtp=" + std::to_string(r.bound->id) + " pid=" + std::to_string(r.pid) : std::string("rtp=-");
  };
  auto filter = [](const Record& r) { return "filter=" + (r.filter ? Dotted(r.filter_addr) : std::string("off")); };

  add_command("rtpext", "list", "", "the live header-extension sessions", [=](const Args& a, Reply& r) {
    if (!a.empty()) return r.fail("usage: rtpext list");
    for (const auto& rec : records_) {
      if (!rec->live) continue;
      const std::string tdm = rec->bound && rec->bound->live ? std::to_string(rec->bound->tdm) : "-";
      r.line("session=" + std::to_string(rec->id) + " tdm=" + tdm + " " + binding(*rec) + " " + filter(*rec));
    }
  });
  add_command("rtpext", "get", "<tdm>",
              "the init record, binding (RTP session and pid) and filter of the channel's live session",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                if (a.size() != 1) return r.fail("usage: rtpext get <tdm>");
                if (!tdm_arg(a[0], tdm, r)) return;
                const Record* rec = live(tdm);
                if (!rec) return r.fail("no header-extension session on " + a[0]);
                char etype[8];
                std::snprintf(etype, sizeof etype, "0x%04X", static_cast<unsigned>(rec->init.etype));
                r.line("session=" + std::to_string(rec->id));
                r.line(!rec->initialised
                           ? std::string("init=-")
                           : std::string("etype=") + etype + " words=" + std::to_string(rec->init.param1) + "," +
                                 std::to_string(rec->init.param2) + "," + std::to_string(rec->init.param3) + "," +
                                 std::to_string(rec->init.param4));
                r.line(binding(*rec));
                r.line(filter(*rec));
              });
  add_command(
      "rtpext", "inject", "<tdm> <ssrc> <a.b.c.d> <hex>[,<hex>...]",
      "queues header extensions, all at once, from that stream and source on the channel's live session",
      [=](const Args& a, Reply& r) {
        int tdm = 0;
        long long ssrc = 0;
        in_addr addr;
        if (a.size() != 4) return r.fail("usage: rtpext inject <tdm> <ssrc> <a.b.c.d> <hex>[,<hex>...]");
        if (!tdm_arg(a[0], tdm, r)) return;
        if (!ParseNumber(a[1], 0, UINT32_MAX, ssrc)) return r.fail("bad ssrc " + a[1]);
        if (::inet_pton(AF_INET, a[2].c_str(), &addr) != 1) return r.fail("bad address " + a[2]);
        std::vector<std::vector<std::uint8_t>> packets;
        std::size_t from = 0;
        for (;;) {
          const std::size_t comma = a[3].find(',', from);
          std::vector<std::uint8_t> octets;
          const std::string part = a[3].substr(from, comma == std::string::npos ? std::string::npos : comma - from);
          if (!ParseHex(part, octets))
            return r.fail("bad packet \"" + part + "\": 1 to " + std::to_string(E::kMaxPacket) + " octets in hex");
          packets.push_back(std::move(octets));
          if (comma == std::string::npos) break;
          from = comma + 1;
        }
        const std::string why = inject(tdm, static_cast<std::uint32_t>(ssrc), addr.s_addr, packets);
        if (!why.empty()) r.fail(why);
      });
  add_command("rtpext", "sent", "<tdm>", "what the channel's sessions wrote, one line a header extension, oldest first",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                if (a.size() != 1) return r.fail("usage: rtpext sent <tdm>");
                if (!tdm_arg(a[0], tdm, r)) return;
                for (const Record* rec : history(tdm))
                  for (const std::string& line : rec->sent) r.line(line);
              });
  add_command("rtpext", "log", "<tdm>",
              "the requests and closes of the channel's header-extension and RTP sessions, in order",
              [=](const Args& a, Reply& r) {
                int tdm = 0;
                if (a.size() != 1) return r.fail("usage: rtpext log <tdm>");
                if (!tdm_arg(a[0], tdm, r)) return;
                std::vector<std::pair<std::uint64_t, std::string>> all;
                for (const Record* rec : history(tdm))
                  for (const auto& e : rec->log)
                    all.emplace_back(e.first, "rtpext " + std::to_string(rec->id) + ": " + e.second);
                if (const Rtp* engine = rtp())
                  for (const Rtp::Record* rec : engine->history(tdm))
                    for (std::size_t i = 0; i < rec->log.size(); ++i)
                      all.emplace_back(rec->order[i], "rtp " + std::to_string(rec->id) + ": " + rec->log[i]);
                if (all.empty()) return r.fail("no session on " + a[0]);
                std::sort(all.begin(), all.end());
                for (const auto& e : all) r.line(e.second);
              });
}

}  // namespace SimBoard
