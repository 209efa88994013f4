#pragma once
// Trace switches of the components, read from the configuration section
// "traces". Plain bytes: the readers test them on every traced event.
#include "foundation/ini_file.h"

class TraceCtl {
public:
  struct Signalling {
    bool hdlc;
    bool lemzgw;
    bool events;
  };
  struct Monitoring {
    bool internal;
  };

  void Reset();
  // Every occurrence of the section, in file order.
  void Configure(IniFile::Section& section);
  // One occurrence. "signalling.events" keeps what an earlier occurrence set
  // unless this one has the key; the other switches start from false.
  void Configure(IniFile::SubSection& block);

  Signalling signalling;
  Monitoring monitoring;
};

static_assert(sizeof(TraceCtl) == 4, "four one-byte switches");

// All false until the configuration is read.
extern TraceCtl traces;
