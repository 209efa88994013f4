// The controller's whole way in: arbitrary octets arrive on a stream socket,
// pass the stream and TPKT layers and the command server, and reach every
// service the daemon binds (daemon/bound_services.cpp). The run stops when
//  - a command outside its declared ranges reaches the services (a spy is
//    offered every command first),
//  - a decoded command gets other than exactly one answer (a promised answer
//    counts as one), or an undecodable payload gets any,
//  - the server reports a software error (a service read what the command
//    does not hold, or left it unanswered).
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "asn1/coder_env.h"
#include "daemon/bound_services.h"
#include "control/ctrl_server.h"
#include "messages/LGCP.h"
#include "transport/control_service.h"
#include "transport/packet.h"
#include "transport/testing/link_test_util.h"

namespace {

const unsigned kMaxSlot = 1023;

[[noreturn]] void fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "control_server_fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

bool decode(const char* data, size_t size, LGCP::Message& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(data, data + size, &env, message, true);
}

// Offered every command before the daemon's services; takes none.
class Spy : public CtrlSrv::Service {
public:
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(const LGCP::Command& command) override {
    if (!command.isValid()) fail("a command outside its declared ranges reached the services");
    if (command.connect_isSelected() && command.get_connect().getValue() > kMaxSlot)
      fail("a connect target beyond the slots reached the services");
    if (GetSlot() < -1 || GetSlot() > int(kMaxSlot)) fail("a slot beyond the range reached the services");
    return false;
  }
};

// Serves one end of a socket pair and counts the answers each payload gets
// on the other end.
class PairConnection : public Control::Service {
public:
  PairConnection(const Fd& ours, const Fd& peer, const CtrlSrv::Server& server)
      : ours(ours), peer(peer), server(server) {
    verbose = false;
  }

protected:
  bool ImplActivate() override {
    TakeOver(ours, "fuzz");
    ours.close();
    return true;
  }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}

  void on_message(Packet& p) override {
    const std::string payload =
        p.empty() ? std::string() : std::string(reinterpret_cast<const char*>(p.cdata()), p.length());
    LGCP::Message message;
    const unsigned expected = decode(payload.data(), payload.size(), message) ? 1 : 0;
    const size_t promisedBefore = server.GetDeferredCount();
    Control::Service::on_message(p);
    const unsigned promised = server.GetDeferredCount() > promisedBefore ? 1 : 0;
    const unsigned answers = AnswersArrived();
    if (answers + promised != expected)
      fail(expected ? "a command did not get exactly one answer:" : "an undecodable payload was answered:",
           std::to_string(answers) + " answers, " + std::to_string(promised) + " promised");
  }

private:
  // Responses among the frames that have arrived; signals are no answers.
  unsigned AnswersArrived() {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(peer.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      pending.append(buf, size_t(n));
    }
    unsigned responses = 0;
    while (pending.size() >= 4) {
      const size_t length = (size_t(uint8_t(pending[2])) << 8) | uint8_t(pending[3]);
      if (uint8_t(pending[0]) != 3 || length < 4) fail("the server sent a bad frame header");
      if (pending.size() < length) fail("the server sent part of a frame");
      LGCP::Message sent;
      if (!decode(pending.data() + 4, length - 4, sent)) fail("the server sent an undecodable message");
      if (sent.get_pdu().response_isSelected()) ++responses;
      pending.erase(0, length);
    }
    if (!pending.empty()) fail("the server sent part of a frame header");
    return responses;
  }

  Fd ours;
  Fd peer;
  const CtrlSrv::Server& server;
  std::string pending;
};

CtrlSrv::Server& TheServer() {
  static Spy spy;
  static CtrlSrv::Server server;
  static bool bound = false;
  if (!bound) {
    server.Bind(&spy);
    for (CtrlSrv::Service* service : CtrlSrv::BoundServices()) server.Bind(service);
    bound = true;
  }
  return server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CtrlSrv::Server& server = TheServer();
  linktest::SocketPair pair;
  if (!pair.a.is_valid()) fail("no socket pair");
  // All of it must fit the socket at once: the loop is not running yet.
  const ssize_t written = size ? ::send(pair.b.lowlevel_fd(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL) : 0;
  if (written < 0 || size_t(written) != size) return 0;
  ::shutdown(pair.b.lowlevel_fd(), SHUT_WR);

  std::ostringstream sink;
  std::streambuf* savedLog = std::clog.rdbuf(sink.rdbuf());
  std::streambuf* savedErr = std::cerr.rdbuf(sink.rdbuf());
  PairConnection* connection = new PairConnection(pair.a, pair.b, server);
  pair.a.close();
  server.Activate(connection);
  const bool ended = linktest::run_until([&] {
    return connection->GetState() != Control::Service::State::Connected &&
           connection->GetState() != Control::Service::State::Deactivating;
  });
  server.Deactivate();
  std::clog.rdbuf(savedLog);
  std::cerr.rdbuf(savedErr);

  if (!ended) fail("the connection did not end with its input");
  const std::string log = sink.str();
  const size_t error = log.find("software error");
  if (error != std::string::npos) fail("the server reported", log.substr(log.rfind('\n', error) + 1, 300));
  return 0;
}
