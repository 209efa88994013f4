#pragma once
// The PPP authentication link: pppd's plug-in connects over TCP on the
// loopback address and exchanges attr records, every word a 32-bit unsigned
// in the processor's byte order: length (this word included, 4..512), type
// (1 request, 2 accept, 3 ip, 4 accounting), session id (the DSP modem
// number, -1 for a digital modem), then the body. AuthLink owns the listener
// and the connections (AuthClient); what the records mean is its Owner's
// business (ModemFactory).
#include <cstddef>
#include <cstdint>
#include <list>

#include "foundation/accept_pause.h"
#include "foundation/event.h"
#include "foundation/inet4.h"
#include "foundation/log_limit.h"
#include "foundation/os.h"
#include "foundation/timer.h"

class AuthClient;
class ModemSlot;

namespace Auth {

// The board's port; a host build may move it (Board::authPort).
inline constexpr unsigned short kPort = 52000;
inline constexpr std::uint32_t kMaxRecord = 512;
inline constexpr std::uint32_t kHeader = 12;
enum Type : std::uint32_t { kRequest = 1, kAccept = 2, kIp = 3, kAccounting = 4 };
inline constexpr std::uint32_t kRequestLength = 140, kAcceptLength = 16, kIpLength = 36, kAccountingLength = 64;
// Connections not yet bound to a slot, at most: the board's 4 E1 and 8 BRI
// trunks carry fewer than 150 calls, so fewer plug-ins wait for their slot.
// A plug-in sends its first record at once, so at the cap the oldest waiting
// connection is the one that goes.
inline constexpr std::size_t kMaxUnbound = 256;
// How often a listener that could not bind tries again: a dial-in call may
// be waiting for it.
inline constexpr unsigned kBindRetryMs = 1000;
// How long the listener waits when an accept found no descriptor free.
inline constexpr unsigned kAcceptPauseMs = 1000;

inline std::uint32_t word(const unsigned char* record, std::size_t offset) {
  std::uint32_t w;
  __builtin_memcpy(&w, record + offset, sizeof w);
  return w;
}

}  // namespace Auth

class AuthLink {
public:
  class Owner {
  public:
    virtual ~Owner() = default;
    // One complete record of 12 octets or more.
    virtual void OnAuthRecord(AuthClient& client, const unsigned char* record, std::uint32_t length) = 0;
    // The connection is going: nothing may keep it.
    virtual void OnAuthClientGone(AuthClient& client) = 0;
  };

  explicit AuthLink(Owner& owner);
  ~AuthLink();
  AuthLink(const AuthLink&) = delete;
  AuthLink& operator=(const AuthLink&) = delete;

  // Listens on 127.0.0.1:port; false when it cannot yet: it then tries again
  // every second until it can (a failure logged once, and the success after
  // it). A listening socket that fails is closed and bound again the same
  // way.
  bool Listen(unsigned short port);
  bool listening() const { return event.IsActive(); }
  unsigned short port() const { return port_; }
  void OnSocketEvent(int fd, short revents);
  const std::list<AuthClient*>& clients() const { return clients_; }
  const Event& listener_event() const { return event; }
  // Closes the connection; it is deleted once no call of its own runs.
  void Close(AuthClient* client);

private:
  friend class AuthClient;
  void OnAuthSocketDisconnect(AuthClient* client);
  bool Bind();
  void OnBindRetry();
  // The first open connection that waits for its first record, and how many
  // wait.
  AuthClient* OldestUnbound(std::size_t& waiting) const;

  Owner& owner;
  // Holds the listening socket.
  Event event;
  AcceptPause acceptPause{event, Auth::kAcceptPauseMs};
  Timer bindRetry;
  // A bind failure, or the listening socket's error, was logged: the next
  // bind logs its success.
  bool bindFailing = false;
  bool lostSocket = false;
  unsigned short port_ = 0;
  std::list<AuthClient*> clients_;
  Log::Limiter log;
};

class AuthClient {
public:
  AuthClient(Fd socket, INet4::Addr const& addr, AuthLink& link);
  ~AuthClient();
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  // Starts reading.
  void Activate();
  void OnSocketEvent(int fd, short revents);
  // The whole record, or false (and the connection closed).
  bool Send(const void* record, std::uint32_t length);
  void OnDisconnect();
  bool is_open() const { return event.IsActive(); }
  const INet4::Addr& GetAddr() const { return addr; }
  // The session id of the last complete record, -1 before the first.
  int GetSessionId() const { return sessionId; }

  // The slot the connection is bound to by its first record, and that
  // record's session id.
  ModemSlot* slot = nullptr;
  int boundId = -1;

private:
  friend class AuthLink;
  // Deletes a closed client once the outermost of its calls ends.
  class Guard {
  public:
    explicit Guard(AuthClient& c) : client(c) { ++client.recursion; }
    ~Guard() {
      if (--client.recursion == 0) client.CheckDisconnect();
    }

  private:
    AuthClient& client;
  };
  void CheckDisconnect();
  void Read();

  // Holds the connection's only descriptor.
  Event event;
  INet4::Addr addr;
  AuthLink& link;
  int recursion = 0;
  bool gone = false;
  unsigned char buffer[Auth::kMaxRecord];
  std::size_t have = 0;
  std::size_t want = 4;
  int sessionId = -1;
};
