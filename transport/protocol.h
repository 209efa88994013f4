#pragma once

#include "foundation/lists.h"
#include "transport/packet.h"
#include "transport/smart_pointer.h"

#include <iosfwd>
#include <string>

// Name of a protocol layer, used to find a layer in a stack and in traces.
class Protocol_name {
public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual char const* name() const = 0;
  virtual bool compare(Protocol_name const& other) const = 0;
  bool compatible(Protocol_name const& other) const { return kind() == other.kind(); }
};

class Protocol_name_null : public Protocol_name {
public:
  int kind() const override { return 0; }
  char const* name() const override { return "(no name)"; }
  bool compare(Protocol_name const& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name {
public:
  explicit Protocol_name_str(char const* text);
  ~Protocol_name_str() override;
  Protocol_name_str(Protocol_name_str const&) = delete;
  Protocol_name_str& operator=(Protocol_name_str const&) = delete;

  int kind() const override { return 1; }
  char const* name() const override { return text; }
  bool compare(Protocol_name const& other) const override;

private:
  char* text;
};

class Protocol_info {
public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(Protocol_name const&) const { return false; }
  virtual Protocol_name const& name() const { return null_name; }

private:
  Protocol_name_null null_name;
};

// Outcome of an operation of a layer, passed by counted pointer along a
// stack. Immutable once made.
class Internal_protocol_status {
public:
  static constexpr bool copy_on_write = false;

  explicit Internal_protocol_status(Protocol_info const* reporter) : layer(reporter), ref_count(0) {}
  Internal_protocol_status(Internal_protocol_status const&) = delete;
  Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;
  virtual ~Internal_protocol_status() = default;

  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual void out(std::ostream& os) const = 0;

  Protocol_info const* reporter() const { return layer; }

private:
  Protocol_info const* layer;
  uint32_t ref_count;

  friend class Smart_pointer<Internal_protocol_status>;
};

using Protocol_status = Smart_pointer<Internal_protocol_status>;

class Protocol_status_success : public Internal_protocol_status {
public:
  Protocol_status_success(Protocol_info const* reporter, std::string const& text)
      : Internal_protocol_status(reporter), text(text) {}
  bool success() const override { return true; }
  std::string message() const override { return text; }
  void out(std::ostream& os) const override;

private:
  std::string text;
};

class Protocol_status_error : public Internal_protocol_status {
public:
  Protocol_status_error(Protocol_info const* reporter, std::string const& text)
      : Internal_protocol_status(reporter), text(text) {}
  bool success() const override { return false; }
  std::string message() const override { return text; }
  void out(std::ostream& os) const override;

private:
  std::string text;
};

class Protocol_initialize_error : public Protocol_status_error {
public:
  explicit Protocol_initialize_error(Protocol_info const* reporter) : Protocol_status_error(reporter, "error") {}
};

class ProtocolsList;

// One layer of a stack. The previous layer in the owner's list is the one
// below (nearer the wire), the next one the layer above. Packets go down
// through message/transmit and up through receive/on_message; activation runs
// bottom-up, orderly deactivation top-down, failures travel up to the owner.
class Protocol : public Protocol_info, public F_dual_list_item<Protocol> {
public:
  Protocol() : owner(nullptr) {}
  Protocol(Protocol const&) = delete;
  Protocol& operator=(Protocol const&) = delete;
  // A layer deleted on its own leaves its owner's list consistent.
  ~Protocol() override;

  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Protocol_status local_initialize();
  virtual void local_activate();
  virtual void local_deactivate();
  virtual void transmit(Packet& p);
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Protocol_status st);
  virtual void on_status(Protocol_status st);
  virtual void message(Packet& p);
  virtual void receive(Packet& p);
  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream& os) const;

  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);
  Protocol_status initialize();

  Protocol* lower() const { return get_prev(); }
  Protocol* upper() const { return get_next(); }
  ProtocolsList* get_owner() const { return owner; }

private:
  ProtocolsList* owner;

  friend class ProtocolsList;
};

// An ordered list of layers, lowest first, that owns them: they are created
// with new and deleted with the list, highest first.
class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
public:
  ProtocolsList() = default;
  ~ProtocolsList() override;

  virtual void on_activated(Protocol* p);
  virtual void on_deactivated(Protocol* p, Protocol_status st);
  virtual Protocol* add_protocol_head(Protocol* p);
  virtual Protocol* add_protocol_tail(Protocol* p);

  Protocol* search(Protocol_name const& n) const;

  Protocol* lowest() const { return *F_dual_list<Protocol>::begin(); }
  Protocol* highest() const { return *F_dual_list<Protocol>::last(); }
  unsigned layers() const { return F_dual_list<Protocol>::count(); }

private:
  friend class Protocol;
};

// A list that is itself one layer: a whole stack standing as a layer of a
// bigger one, or embedded in the object that consumes its output.
class ProtocolsFamily : public ProtocolsList {
public:
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Protocol_status local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status st) override;
};
