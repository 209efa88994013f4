#pragma once
// Board request numbers as log lines show them.
#include <string>

#include "board/board.h"

namespace Board {

// "none", "read", "write", "rw", or "dir <n>" for a direction the encoding
// does not define.
std::string directionName(Request request);

// "0x80084D02 (write, 8 bytes, 'M' 2)"; a type that is not a printable
// character is shown in hexadecimal.
std::string describe(Request request);

}  // namespace Board
