// Feeds arbitrary frames to the trace decoder: into the shared buffer, and
// into a small buffer whose size the input chooses, checking that the text
// is terminated where the decoder says and nothing past the capacity moves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "links/isdn/logbuf.h"
#include "links/isdn/q931_trace.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  uint8_t const mode = data[0];
  uint8_t const* frame = data + 1;
  unsigned const length = unsigned(size - 1);

  std::size_t n = ISDN::dlogframe(frame, length, mode & 1, ISDN::logbuf);
  if (n >= ISDN::logbuf_size || ISDN::logbuf[n] != '\0' || std::strlen(ISDN::logbuf) != n) std::abort();

  constexpr std::size_t guard = 16;
  char small[64 + guard];
  std::size_t const cap = (mode >> 1) % 64;
  std::memset(small, 0x5A, sizeof small);
  n = ISDN::dlogframe(frame, length, mode & 1, small, cap);
  if (cap == 0 ? n != 0 : n >= cap || small[n] != '\0') std::abort();
  for (std::size_t i = cap; i < sizeof small; ++i)
    if (small[i] != 0x5A) std::abort();
  return 0;
}
