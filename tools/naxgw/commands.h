// Node commands reachable over MQTT: PREFIX/NAME/cmd/COMMAND with a JSON object of
// arguments; the answer is the library's status and the command's records as JSON.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records.h"

namespace naxgw {

struct Target {
  int32_t link = 0;
  uint16_t node = 1;
};

// Runs command on the target.  Returns the library's status; result is filled on success.
// Throws BadRequest for arguments that are missing, malformed or out of range (nothing is
// sent then), and for an unknown command.
uint32_t run_command(const Target& target, const std::string& command, const json& args,
                     json& result);

// Names of every command, for documentation and tests.
std::vector<std::string> command_names();

}  // namespace naxgw
