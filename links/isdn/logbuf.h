#pragma once
// The one text buffer of the D channel traces: each traced frame is rendered
// into it, and the next one overwrites it.
#include <cstddef>

namespace ISDN {

constexpr std::size_t logbuf_size = 1024;
extern char logbuf[logbuf_size];

}  // namespace ISDN
