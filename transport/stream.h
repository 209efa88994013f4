#pragma once
// Lowest layer of a message connection: moves bytes between one connected,
// non-blocking stream socket and the layers above. Each readiness event makes
// one read, handed up unframed; each message going down is written whole
// before the call returns, or the connection fails.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "foundation/os.h"
#include "transport/protocol.h"

class StrmProtocol : public Protocol {
public:
  // The longest a message may keep the loop waiting for the socket.
  static constexpr unsigned write_budget_ms = 1000;

  StrmProtocol();
  explicit StrmProtocol(Fd const& fd);
  ~StrmProtocol() override;

  Protocol_name const& name() const override { return fname; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void init();
  // Takes a duplicate of fd; does not register for input yet.
  void attach(Fd const& fd);
  // Drops the poll registration and closes the layer's descriptor; nobody is
  // told.
  void release();
  bool opened() const { return fd.is_valid(); }
  // True when the peer has closed its side or the socket holds an error,
  // although the loop has not read that yet; asked without reading.
  bool peer_gone() const;

  void on_event(int fd, short events);
  // One receive. Result: bytes handed up (or dropped for want of a buffer),
  // 0 when the socket had nothing, -1 when the layer failed.
  int do_read();
  void on_error(std::string const& text);

  std::string const& service_name() const { return service; }
  void service_name(std::string const& name) { service = name; }
  Measure const& get_read_measure() const { return read_measure; }
  Measure const& get_write_measure() const { return write_measure; }
  uint32_t GetOverflowCounter() const { return overflow; }

  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;

  void PutHeader(std::ostream& os) const;

private:
  void put_socket_state(std::ostream& os) const;
  // Text of the socket's pending error, for poll error and hang-up reports.
  std::string pending_error_text(char const* when_none) const;

  Protocol_name_str fname;
  Fd fd;
  bool sendq_counts_free;
  std::string service;
  Event input;
  Measure read_measure;
  Measure write_measure;
  uint32_t overflow;
};
