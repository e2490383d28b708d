// What the node's own status numbers mean, command by command.
#pragma once

#include <cstdint>
#include <string>

namespace naxctl {

// The meaning of status (below 1000, not 1) as an answer to the library function named,
// or nullptr when naxctl knows none: the number is then the node's own.
const char* node_status_meaning(const std::string& function, uint32_t status);

}  // namespace naxctl
