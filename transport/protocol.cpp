#include "transport/protocol.h"

#include <cstring>
#include <ostream>

Protocol_name_str::Protocol_name_str(char const* name) {
  char const* source = name ? name : "(no name)";
  std::size_t size = std::strlen(source) + 1;
  text = new char[size];
  std::memcpy(text, source, size);
}

Protocol_name_str::~Protocol_name_str() { delete[] text; }

bool Protocol_name_str::compare(Protocol_name const& other) const {
  return compatible(other) && std::strcmp(text, other.name()) == 0;
}

void Protocol_status_success::out(std::ostream& os) const { os << text; }

void Protocol_status_error::out(std::ostream& os) const { os << text; }

Protocol::~Protocol() {
  if (owner) owner->F_dual_list<Protocol>::remove(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Protocol_status Protocol::local_initialize() { return new Protocol_status_success(this, "success"); }

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() { on_deactivate(new Protocol_status_success(this, "success")); }

void Protocol::transmit(Packet& p) {
  if (Protocol* below = lower())
    below->message(p);
  else if (owner)
    owner->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (Protocol* above = upper())
    above->receive(p);
  else if (owner)
    owner->on_message(p);
}

void Protocol::on_activate() {
  if (Protocol* above = upper())
    above->local_activate();
  else if (owner)
    owner->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status st) {
  if (st->success()) {
    // Orderly shut-down goes on downwards; each layer reports its own status.
    if (Protocol* below = lower())
      below->deactivate();
    else if (owner)
      owner->on_deactivated(this, st);
  } else {
    // A failure is told to the layers above, which are not shut down.
    if (Protocol* above = upper())
      above->on_deactivate(st);
    else if (owner)
      owner->on_deactivated(this, st);
  }
}

void Protocol::on_status(Protocol_status st) {
  if (Protocol* above = upper())
    above->on_status(st);
  else if (owner)
    owner->on_status(st);
}

void Protocol::message(Packet&) {}

void Protocol::receive(Packet&) {}

void Protocol::activate() {
  if (Protocol* below = lower())
    below->activate();
  else
    local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::protocol_info(std::ostream&) const {}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
  if (Protocol* below = lower()) below->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (Protocol* below = lower()) below->prepare_tail(p);
}

Protocol_status Protocol::initialize() {
  if (Protocol* below = lower()) {
    Protocol_status st = below->initialize();
    if (!st->success()) return st;
  }
  return local_initialize();
}

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = remove_from_tail()) {
    p->owner = nullptr;
    delete p;
  }
}

void ProtocolsList::on_activated(Protocol*) {}

void ProtocolsList::on_deactivated(Protocol*, Protocol_status) {}

Protocol* ProtocolsList::add_protocol_head(Protocol* p) {
  insert_to_head(p);
  p->owner = this;
  return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p) {
  insert_to_tail(p);
  p->owner = this;
  return p;
}

Protocol* ProtocolsList::search(Protocol_name const& n) const {
  for (iterator it = F_dual_list<Protocol>::begin(); it.good(); it++)
    if (it->compare_name(n)) return *it;
  return nullptr;
}

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* top = highest()) top->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* top = highest()) top->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize() {
  if (Protocol* top = highest()) return top->initialize();
  return new Protocol_initialize_error(this);
}

void ProtocolsFamily::local_activate() {
  if (Protocol* top = highest()) top->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* top = highest()) top->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (Protocol* top = highest()) top->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (Protocol* bottom = lowest()) bottom->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p == highest()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status st) { on_deactivate(st); }
