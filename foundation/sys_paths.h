#pragma once
// The system's fixed paths, in one place. On the board the root prefix is
// empty; the host build relocates the whole tree (see ULVAROND_ROOT_PREFIX).
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

// An absolute system path as this build sees it.
inline std::string resolve(const char* absolute) { return std::string(kRootPrefix) + absolute; }

}  // namespace SysPaths
