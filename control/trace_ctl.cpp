#include "control/trace_ctl.h"

#include <iostream>

#include "foundation/ini_reader.h"

TraceCtl traces = {};

void TraceCtl::Reset() { *this = TraceCtl{}; }

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::Section::iterator it = section.begin(); it != section.end(); ++it) Configure(*it);
}

void TraceCtl::Configure(IniFile::SubSection& block) {
  IniFile::Reader reader("traces: ", std::cerr);
  signalling.hdlc = false;
  signalling.lemzgw = false;
  monitoring.internal = false;
  reader.optional.add<bool>(&signalling.hdlc, "signalling.hdlc");
  reader.optional.add<bool>(&signalling.lemzgw, "signalling.lemzgw");
  reader.optional.add<bool>(&signalling.events, "signalling.events");
  reader.optional.add<bool>(&monitoring.internal, "monitoring.internal");
  reader(block);
}
