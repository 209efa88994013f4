#pragma once
// A monitoring agent for the tests: a loopback TCP listener that takes the
// daemon's link, reads TPKT frames of any size, decodes each MON::Message
// and records it, answers pings unless told not to, and sends a command,
// garbage or a close on demand. It does not use the main loop: pump() does
// the work of one look at the sockets, so it serves an in-process loop (called
// from a run_until condition) and a daemon in another process alike.
#include <functional>
#include <string>
#include <vector>

#include "foundation/os.h"
#include "messages/MON.h"

namespace montest {

// The monitoring items as the agents are to get them, in item-number order:
// the agent types that get it (2 "tams", 4 "lemzgw.qv"), section and column.
struct Item {
  int mask;
  const char* section;
  const char* column;
};
extern const Item kItems[35];
// The item number of a column, -1 for none.
int ItemOf(const std::string& column);

class Agent {
public:
  Agent();
  unsigned short port() const { return port_; }
  // "127.0.0.1:<port>"
  std::string host() const;

  // Accepts a waiting connection (the newest one replaces the served one)
  // and reads whatever has arrived, without waiting.
  void pump();
  // Pumps until done() holds or real_ms went by.
  bool wait(const std::function<bool()>& done, int real_ms = 5000);

  bool connected() const { return conn_.is_valid(); }
  int connections() const { return connections_; }
  bool send(const MON::Message& message);
  bool sendPayload(const std::string& payload);
  void close() { conn_.close(); }

  // Every message received, in order, and the text of those that did not
  // decode.
  std::vector<MON::Message> messages;
  int undecoded = 0;
  bool answerPings = true;
  int pings = 0;

  // The snmp-set entries of every message from `from` on.
  std::vector<MON::SnmpSetCommand> sets(std::size_t from = 0) const;
  // The values of one item column (section and name as sent), with their index.
  std::vector<std::pair<int, std::string>> values(const std::string& column, std::size_t from = 0) const;
  // Number of snmp-set messages from `from` on.
  int setMessages(std::size_t from = 0) const;

private:
  Fd listen_;
  Fd conn_;
  unsigned short port_ = 0;
  int connections_ = 0;
  std::string input_;
};

// An snmp-set command naming a key of the configuration.
MON::SnmpSetCommand SetCommand(const std::string& section, const std::string& name, long index,
                               const std::string& value, long uniq = 1);

}  // namespace montest
