#pragma once
// Records of a driver's sessions that outlive their close, so that the
// control commands can still show them: each record says whether its session
// is live.
#include <algorithm>
#include <cstddef>
#include <memory>

#include "simboard/driver.h"

namespace SimBoard {

// Drops every record of a closed session (a board reset).
template <class Records>
void drop_ended(Records& records) {
  records.erase(std::remove_if(records.begin(), records.end(), [](const auto& r) { return !r->live; }), records.end());
}

// Keeps at most `keep` records of closed sessions, the newest.
template <class Records>
void keep_ended(Records& records, std::size_t keep) {
  std::size_t ended = 0;
  for (const auto& r : records) ended += !r->live;
  for (auto it = records.begin(); ended > keep && it != records.end();) {
    if (!(*it)->live) {
      it = records.erase(it);
      --ended;
    } else {
      ++it;
    }
  }
}

// A numbered record for a session just opened, held by its open state (an
// Open made from the record) and by the records, which keep at most keep
// records of closed sessions.
template <class Open, class Records>
void open_record(Session& s, Records& records, unsigned& next_id, std::size_t keep) {
  auto rec = std::make_shared<typename Records::value_type::element_type>();
  rec->id = next_id++;
  s.set_state(std::make_unique<Open>(rec));
  records.push_back(rec);
  keep_ended(records, keep);
}

// The record of an open session, null when it has none.
template <class Open>
auto session_record(Session& s) -> decltype(s.state_as<Open>()->record.get()) {
  Open* o = s.state_as<Open>();
  return o ? o->record.get() : nullptr;
}

}  // namespace SimBoard
