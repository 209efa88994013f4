#include "control/ctrl_server.h"

#include <algorithm>
#include <boost/core/demangle.hpp>
#include <exception>
#include <iostream>
#include <iterator>
#include <typeinfo>
#include <vector>

#include "asn1/coder_env.h"
#include "foundation/ext_text.h"
#include "messages/LGCP.h"
#include "transport/tpkt.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

const char kNotBound[] = "CtrlSrv::Service error! service not connected to server.";

// Promises nobody keeps are forgotten beyond this many.
const size_t kMaxDeferred = 4096;

const unsigned kMaxSlot = 1023;

// An undecodable payload is shown by its head only.
const unsigned kDumpOctets = 64;

std::string NameOf(const Service& service) { return boost::core::demangle(typeid(service).name()); }

const char* AlternativeOf(const ASN1::CHOICE& choice) {
  if (choice.isUnknownSelection()) return "(unknown)";
  const char* name = choice.getSelectionName();
  return name ? name : "(none)";
}

// Runs one call into a service. A program error in it (a getter asked for
// what the message does not hold, above all) is logged and ends the call, so
// that one faulty service cannot take the daemon down. False when it threw.
template <class Header, class Call>
bool Guarded(const Header* header, const Service& service, const char* event, const char* alternative, Call call) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    std::cerr << ext::header(header) << "software error: " << NameOf(service) << " failed on " << event
              << (*alternative ? " " : "") << alternative << ": " << e.what() << std::endl;
  }
  return false;
}

}  // namespace

// Service ---------------------------------------------------------------------

Service::Service() : server(nullptr) {}

Service::~Service() {
  if (server) server->Unbind(this);
}

void Service::OnSignal(const LGCP::Signal&) {}

bool Service::CheckServer() const {
  if (server) return true;
  std::cerr << kNotBound << std::endl;
  return false;
}

void Service::Success() {
  if (CheckServer()) server->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (CheckServer()) server->Error(cause);
}

void Service::ShowSignal(const LGCP::Signal& signal) {
  for (Service* s : server->services)
    if (s != this) Guarded(server, *s, "signal", AlternativeOf(signal), [&] { s->OnSignal(signal); });
}

void Service::SendSignal(const LGCP::Signal& signal) {
  if (!CheckServer()) return;
  ShowSignal(signal);
  server->SendSignal(signal);
}

void Service::SendSignal(unsigned int slot, const LGCP::Signal& signal) {
  if (!CheckServer()) return;
  ShowSignal(signal);
  server->SendSignal(slot, signal);
}

void Service::SendBoardSignal(const LGCP::Signal& signal) {
  if (!CheckServer()) return;
  ShowSignal(signal);
  server->SendBoardSignal(signal);
}

int Service::GetSlot() const { return CheckServer() ? server->GetSlot() : -1; }

bool Service::IsSlotPresent() const { return CheckServer() && server->IsSlotPresent(); }

int Service::delayResponse() { return CheckServer() ? server->delayResponse() : -1; }

void Service::delayedSuccess(unsigned int slot, unsigned int seq) {
  if (CheckServer()) server->delayedSuccess(slot, seq);
}

void Service::delayedError(unsigned int slot, unsigned int seq, LGCP::ErrorCause::NamedNumber cause) {
  if (CheckServer()) server->delayedError(slot, seq, cause);
}

bool Service::CheckServerConnection(bool& connected) const {
  return server != nullptr && server->CheckServerConnection(connected);
}

// Server ----------------------------------------------------------------------

Server::Server()
    : connection(nullptr), seqPresent(false), seq(0), slot(-1), answerState(AnswerState::None), handling(false) {}

Server::~Server() {
  Deactivate();
  for (Service* s : services) s->server = nullptr;
}

void Server::Bind(Service* service) {
  if (service->server == this) return;
  if (service->server) service->server->Unbind(service);
  services.push_back(service);
  service->server = this;
}

void Server::Unbind(Service* service) {
  services.remove(service);
  service->server = nullptr;
}

bool Server::Activate(Control::Service* c) {
  Deactivate();
  connection = c;
  connection->service_name("server");
  connection->Bind(this);
  return connection->Activate();
}

void Server::Deactivate() {
  if (!connection) return;
  connection->Deactivate();
  OnDisconnect();
  connection->UnBind();
  delete connection;
  connection = nullptr;
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!connection) return false;
  connected = connection->IsConnected();
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (connection) connection->Disconnect();
}

void Server::PutHeader(std::ostream& os) const {
  if (!connection)
    os << "ctrl [null]: ";
  else if (connection->IsConnected())
    os << "ctrl [" << connection->GetAddr() << "]: ";
  else
    os << "ctrl [not connected]: ";
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (Service* s : services) Guarded(this, *s, "connect", "", [s] { s->OnConnect(); });
}

void Server::OnDisconnect() {
  for (Service* s : services) Guarded(this, *s, "disconnect", "", [s] { s->OnDisconnect(); });
  // Answers still promised belonged to that controller.
  deferred.clear();
}

void Server::OnMessage(const char* data, int length) {
  if (data == nullptr || length < 0) {
    data = "";
    length = 0;
  }
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message message;
  if (ASN1::decode(data, data + length, &env, message, true)) {
    OnMessage(message);
  } else {
    // Both lines of a payload are one entry of the limiter: a flood writes
    // whole pairs and counts the rest.
    const unsigned shown = std::min(unsigned(length), kDumpOctets);
    undecodableLog.line(std::cerr) << ext::header(this)
                                   << "receive fail: decode error!\n msg: " << ext::hex(data, shown)
                                   << (shown < unsigned(length) ? "... " : "") << '(' << length << " octets)"
                                   << std::endl;
  }
  slot = -1;
}

void Server::OnMessage(const LGCP::Message& message) {
  handling = true;
  answerState = AnswerState::None;
  if (message.seq_isPresent()) {
    seq = message.get_seq().getValue();
    seqPresent = true;
  } else {
    seqPresent = false;
  }
  slot = -1;
  const LGCP::PDU& pdu = message.get_pdu();
  if (!pdu.command_isSelected()) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (message.slot_isPresent() && message.get_slot().getValue() > kMaxSlot) {
    // The two-octet field carries more than the slot range.
    Error(LGCP::ErrorCause::invalidSlot);
  } else {
    if (message.slot_isPresent()) slot = int32_t(message.get_slot().getValue());
    const LGCP::Command& command = pdu.get_command();
    if (command.connect_isSelected() && command.get_connect().getValue() > kMaxSlot) {
      // The slot manager's answer to a target beyond the slot range.
      Error(LGCP::ErrorCause::invalidSlot);
    } else if (!message.isValid()) {
      // The decoder takes whatever fits the bits of a field; the ranges, sizes
      // and enumerations are judged here, once for every service.
      Error(LGCP::ErrorCause::invalidParams);
    } else {
      Dispatch(command);
    }
  }
  handling = false;
}

void Server::Dispatch(const LGCP::Command& command) {
  bool taken = false;
  for (Service* s : services) {
    bool took = false;
    if (!Guarded(this, *s, "command", AlternativeOf(command), [&] { took = s->OnCommand(command); })) {
      if (answerState == AnswerState::None) Error(LGCP::ErrorCause::internal);
      return;
    }
    if (took) {
      taken = true;
      break;
    }
  }
  if (!taken) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (answerState == AnswerState::None) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Answer(LGCP::Response& response, bool success) {
  LGCP::Message message;
  if (seqPresent) message.set_seq(seq);
  if (slot != -1) message.set_slot(unsigned(slot));
  message.set_pdu().select_response(response);
  SendMsg(message);
  answerState = success ? AnswerState::Success : AnswerState::Error;
}

void Server::Success() {
  if (!handling) {
    std::cerr << ext::header(this) << "software error: success outside command handling not sent!!!" << std::endl;
    return;
  }
  if (answerState != AnswerState::None) return;
  LGCP::Response response;
  response.select_success();
  Answer(response, true);
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (!handling) {
    std::cerr << ext::header(this) << "software error: error " << int(cause) << " outside command handling not sent!!!"
              << std::endl;
    return;
  }
  if (answerState == AnswerState::Error) return;
  LGCP::Response response;
  response.select_error(cause);
  Answer(response, false);
}

int Server::delayResponse() {
  if (!handling) {
    std::cerr << ext::header(this) << "software error: answer deferred outside command handling!!!" << std::endl;
    return seq;
  }
  answerState = AnswerState::Success;
  if (deferred.size() >= kMaxDeferred) deferred.pop_front();
  deferred.push_back(Deferred{slot, seq, seqPresent});
  return seq;
}

void Server::DelayedAnswer(unsigned int toSlot, unsigned int toSeq, const LGCP::Response& response) {
  bool withSeq = true;
  bool withSlot = toSlot <= kMaxSlot;
  std::list<Deferred>::iterator promise = std::find_if(deferred.begin(), deferred.end(), [&](const Deferred& d) {
    return unsigned(d.slot) == toSlot && unsigned(d.seq) == toSeq;
  });
  if (promise != deferred.end()) {
    withSeq = promise->seqPresent;
    withSlot = promise->slot != -1;
    deferred.erase(promise);
  }
  LGCP::Message message;
  if (withSeq) message.set_seq(int(toSeq));
  if (withSlot) message.set_slot(toSlot);
  message.set_pdu().select_response(response);
  SendMsg(message);
}

void Server::delayedSuccess(unsigned int toSlot, unsigned int toSeq) {
  LGCP::Response response;
  response.select_success();
  DelayedAnswer(toSlot, toSeq, response);
}

void Server::delayedError(unsigned int toSlot, unsigned int toSeq, LGCP::ErrorCause::NamedNumber cause) {
  LGCP::Response response;
  response.select_error(cause);
  DelayedAnswer(toSlot, toSeq, response);
}

void Server::SendSignal(const LGCP::Signal& signal) {
  LGCP::Message message;
  if (slot != -1) message.set_slot(unsigned(slot));
  message.set_pdu().select_signal(signal);
  SendMsg(message);
}

void Server::SendSignal(unsigned int toSlot, const LGCP::Signal& signal) {
  LGCP::Message message;
  message.set_slot(toSlot);
  message.set_pdu().select_signal(signal);
  SendMsg(message);
}

void Server::SendBoardSignal(const LGCP::Signal& signal) {
  LGCP::Message message;
  message.set_pdu().select_signal(signal);
  SendMsg(message);
}

bool Server::SendMsg(const LGCP::Message& message) {
  std::vector<char> octets;
  octets.reserve(200);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
    encodeLog.line(std::cerr) << ext::header(this) << "send fail: encode error!" << message.asValueNotation()
                              << std::endl;
    return false;
  }
  if (!connection) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return false;
  }
  if (octets.size() > Tpkt_protocol::max_payload) {
    std::cerr << ext::header(this) << "send fail: " << octets.size() << " octets do not fit one frame!!!" << std::endl;
    return false;
  }
  return connection->Send(octets.data(), int(octets.size()));
}

}  // namespace CtrlSrv
