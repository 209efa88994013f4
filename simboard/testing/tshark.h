#pragma once
// tshark reading back a capture of the simulated board's lines, for tests.
// A test without tshark on the machine skips what needs it.
#include <string>
#include <vector>

namespace SimBoard {

bool HaveTshark();

// tshark's fields of every frame of file that passes the display filter
// (none where empty), one line per frame, fields split by '|'; every line as
// tshark printed it, none where tshark could not run.
std::vector<std::string> TsharkFields(const std::string& file, const std::string& fields,
                                      const std::string& filter = "");

}  // namespace SimBoard
