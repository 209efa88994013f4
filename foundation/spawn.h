#pragma once
// Starting a child program: fork, then in the child descriptor 0, every
// descriptor above 2 closed, signals at their defaults, and execv. A failed
// exec is told to the parent through a close-on-exec pipe, and the child
// ends with _exit: none of the parent's static destructors or stream
// buffers run twice. The caller watches the child's end (ChildWait).
#include <string>
#include <vector>

#include "foundation/os.h"

namespace Spawn {

struct Params {
  // The program as execv takes it.
  std::string program;
  // argv[0] and the arguments.
  std::vector<std::string> argv;
  // Becomes descriptor 0 of the child; -1: "/dev/null".
  int input = -1;
  // Becomes descriptor 1 of the child; -1: the parent's.
  int output = -1;
  // Written to descriptor 1 just before the exec, when not empty.
  std::string banner;
  // Written to descriptor 1 when the exec fails, when not empty.
  std::string failText;
  // The child waits this long before the exec. The parent then does not
  // wait to learn whether the exec failed (error stays 0, see report).
  unsigned delaySeconds = 0;
  // The child's exit code when the exec fails.
  int execFailCode = 2;
};

struct Result {
  // The child, or -1 when fork failed (error holds errno then).
  int pid = -1;
  // 0, or the errno of fork or of the child's exec. A child whose exec
  // failed has ended (or is ending) with execFailCode.
  int error = 0;
  // With delaySeconds: where the exec's failure is told, for ExecError.
  Fd report;
};

Result Start(Params const& params);

// For a child started with delaySeconds, once it has ended: the errno of its
// exec, 0 when the exec ran. The report is closed.
int ExecError(Fd& report);

}  // namespace Spawn
