#include "board/request_text.h"

#include <cstdio>

namespace Board {

std::string directionName(Request request) {
  switch (Ppc::direction(request)) {
    case Ppc::kNone:
      return "none";
    case Ppc::kRead:
      return "read";
    case Ppc::kWrite:
      return "write";
    case Ppc::kRead | Ppc::kWrite:
      return "rw";
    default:
      return "dir " + std::to_string(Ppc::direction(request));
  }
}

std::string describe(Request request) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(request));
  const unsigned char type = Ppc::type(request);
  char type_text[8];
  if (type >= 0x21 && type < 0x7F)
    std::snprintf(type_text, sizeof type_text, "'%c'", type);
  else
    std::snprintf(type_text, sizeof type_text, "0x%02X", type);
  const Request size = Ppc::size(request);
  return std::string(number) + " (" + directionName(request) + ", " + std::to_string(size) +
         (size == 1 ? " byte, " : " bytes, ") + type_text + " " + std::to_string(Ppc::number(request)) + ")";
}

}  // namespace Board
