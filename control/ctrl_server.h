#pragma once
// The command server: every controller message enters here, is decoded as one
// LGCP::Message and offered to the bound command services in bind order; every
// answer and signal leaves through here.
//
// A command reaches the services only when every value in it lies in its
// declared range, size and enumeration (the slot and a connect target in
// 0..1023); anything else is answered by the server itself. Services may rely
// on that and need not check ranges again. Fields and alternatives the
// controller may leave out still have to be asked for (_isPresent,
// _isSelected); reading one that is not there throws ASN1::AccessError, which
// the server reports as a software error and answers with internal.
//
// Service headers include only messages/LGCP_fwd.h and take messages by
// reference; their sources include the message headers they read, so that a
// schema change recompiles only the code that uses the changed types.
#include <cstdint>
#include <iosfwd>
#include <list>

#include "foundation/log_limit.h"
#include "messages/LGCP_fwd.h"
#include "transport/control_service.h"

namespace CtrlSrv {

class Server;

// Base of every controller command service.
class Service {
public:
  Service();
  // Leaves the server's list, so that a server outliving its services never
  // calls a dead one.
  virtual ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True when this service has taken the command.
  virtual bool OnCommand(const LGCP::Command& command) = 0;
  virtual void OnSignal(const LGCP::Signal& signal);

  bool IsBound() const { return server != nullptr; }

protected:
  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  // Shown to every other bound service first.
  void SendSignal(const LGCP::Signal& signal);
  void SendSignal(unsigned int slot, const LGCP::Signal& signal);
  // A signal of the whole board: never carries a slot number.
  void SendBoardSignal(const LGCP::Signal& signal);
  int GetSlot() const;
  bool IsSlotPresent() const;
  // Promises a later answer; keep the result and GetSlot() for it.
  int delayResponse();
  void delayedSuccess(unsigned int slot, unsigned int seq);
  void delayedError(unsigned int slot, unsigned int seq, LGCP::ErrorCause::NamedNumber cause);
  // False when unbound; otherwise tells whether a controller is connected.
  bool CheckServerConnection(bool& connected) const;
  bool CheckServer() const;

  Server* server;

private:
  friend class Server;
  void ShowSignal(const LGCP::Signal& signal);
};

class Server : public Control::Notify {
public:
  struct AnswerState {
    enum Type { None = 0, Success = 1, Error = 2 };
  };

  Server();
  ~Server() override;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Appends; there is no unbind but a service's death.
  void Bind(Service* service);
  // Takes ownership of connection.
  bool Activate(Control::Service* connection);
  void Deactivate();

  void OnMessage(const char* data, int length) override;
  void OnConnect() override;
  void OnDisconnect() override;

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  int delayResponse();
  void delayedSuccess(unsigned int slot, unsigned int seq);
  void delayedError(unsigned int slot, unsigned int seq, LGCP::ErrorCause::NamedNumber cause);
  void SendSignal(const LGCP::Signal& signal);
  void SendSignal(unsigned int slot, const LGCP::Signal& signal);
  void SendBoardSignal(const LGCP::Signal& signal);

  int GetSlot() const { return slot; }
  bool IsSlotPresent() const { return slot != -1; }
  bool CheckServerConnection(bool& connected) const;
  void OnHeartbeatTimeout();

  void PutHeader(std::ostream& os) const;

  const std::list<Service*>& GetServices() const { return services; }
  const Control::Service* GetConnection() const { return connection; }
  int GetAnswerState() const { return answerState; }
  size_t GetDeferredCount() const { return deferred.size(); }

private:
  friend class Service;

  // A promised answer: whether its command carried seq and slot.
  struct Deferred {
    int32_t slot;
    int32_t seq;
    bool seqPresent;
  };

  void OnMessage(const LGCP::Message& message);
  void Dispatch(const LGCP::Command& command);
  void Answer(LGCP::Response& response, bool success);
  void DelayedAnswer(unsigned int slot, unsigned int seq, const LGCP::Response& response);
  bool SendMsg(const LGCP::Message& message);
  void Unbind(Service* service);

  std::list<Service*> services;
  Control::Service* connection;
  bool seqPresent;
  int32_t seq;
  int32_t slot;
  int32_t answerState;
  // True while a decoded message is being dispatched: answers belong to it.
  bool handling;
  std::list<Deferred> deferred;
  Log::Limiter undecodableLog;
  // A value the coder refuses may come back with every signal of a kind.
  Log::Limiter encodeLog;
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
