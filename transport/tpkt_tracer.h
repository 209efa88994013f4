#pragma once
// A small TCP server for TPKT-framed messages, on its own without the layer
// framework: any number of clients, frames of at most 512 payload octets
// from each handed to a receiver, and messages sent framed to the client
// being read or to every client.
//
// Sockets are non-blocking and a send never waits: a client whose socket
// cannot take a whole message (it stopped reading and its buffers are full)
// is dropped, as is one that sends a bad frame or fails.
#include <cstdint>
#include <list>

#include "foundation/accept_pause.h"
#include "foundation/event.h"

class TPKTTracer {
public:
  static constexpr unsigned header_size = 4;
  static constexpr unsigned max_payload = 512;
  // The most the 16-bit length field can announce.
  static constexpr unsigned max_send = 0xFFFF - header_size;
  static constexpr unsigned accept_pause_ms = 1000;

  class Receiver {
  public:
    virtual ~Receiver() {}
    // One complete payload; may call Send, which then answers this client.
    virtual void OnFrame(unsigned char const* data, unsigned length) = 0;
  };

  TPKTTracer();
  ~TPKTTracer();
  TPKTTracer(TPKTTracer const&) = delete;
  TPKTTracer& operator=(TPKTTracer const&) = delete;

  void SetReceiver(Receiver* r) { receiver = r; }

  // Every local address; false with nothing registered when a step fails.
  bool Listen(unsigned short port);
  bool IsListening() const { return listener.IsActive(); }
  unsigned short GetListenPort() const;
  size_t Clients() const { return connections.size(); }

  void OnEvent(int fd, short events);
  void OnDataEvent(int fd, short events);

  // Inside the receiver's call to the client being read, otherwise to all.
  // A message the length field cannot carry is refused with a log line.
  void Send(void const* data, unsigned int len);

private:
  struct Connection {
    Connection() : readingHeader(1), expected(header_size), received(0) {}
    int readingHeader;
    uint32_t expected;
    uint32_t received;
    Event event;
    unsigned char buffer[max_payload];
  };
  using List = std::list<Connection*>;

  List::iterator FindConnection(int fd);
  void CloseConnection(List::iterator it);
  void SendTo(List::iterator it, struct msghdr const& m, unsigned total);

  Receiver* receiver;
  Event listener;
  AcceptPause acceptPause{listener, accept_pause_ms};
  List connections;
  List::iterator current;
};
