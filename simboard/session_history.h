#pragma once
// Records of a driver's sessions that outlive their close, so that the
// control commands can still show them: each record says whether its session
// is live.
#include <algorithm>
#include <cstddef>

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

}  // namespace SimBoard
