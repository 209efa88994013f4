#pragma once
// The system's fixed paths, in one place. On the board the root prefix is
// empty; the host build relocates the whole tree (see ULVAROND_ROOT_PREFIX).
#include <cstdlib>
#include <string>

namespace SysPaths {

inline constexpr const char* kRootPrefix = ULVAROND_ROOT_PREFIX;

inline constexpr const char* kRunDir = "/var/run/";
inline constexpr const char* kConfigFile = "/usr/local/etc/server.conf";
inline constexpr const char* kStatusDump = "/var/log/server-status";
inline constexpr const char* kMonitoringDir = "/var/monitoring/";
inline constexpr const char* kSyslogSocket = "/dev/log";
inline constexpr const char* kConsole = "/dev/console";
inline constexpr const char* kWatchdog = "/dev/misc/gw-wd";
// The file player's phrases.
inline constexpr const char* kVoiceDir = "/usr/local/voice/";
// The simulated board's control socket (host build only).
inline constexpr const char* kSimBoardSocket = "/var/run/simboard.sock";

// A host moves the port of pppd's authentication link (52000 on the board)
// with this variable, so that simulated boards side by side do not collide;
// the programs the daemon starts inherit it.
inline constexpr const char* kAuthPortVariable = "ULVAROND_AUTH_PORT";

// The port the variable names: 0 when it is unset, and -1 when it names no
// port (1 to 65535 in decimal).
inline long authPortFromEnvironment() {
  const char* text = std::getenv(kAuthPortVariable);
  if (!text) return 0;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  return *text >= '0' && *text <= '9' && *end == '\0' && port >= 1 && port <= 65535 ? port : -1;
}

// An absolute system path as this build sees it.
inline std::string resolve(const char* absolute) { return std::string(kRootPrefix) + absolute; }

}  // namespace SysPaths
