// The connection string given to nax_open: "device<sep>param[<sep>ignored]".
#pragma once

#include <cstdint>

#include "link/registry.h"

namespace nax {

// sep is the first ':' or ' '; param must be all digits.  Fills the link's
// device_name, device_param and device_type.  1001 for a null string, one
// without a separator or a param with another character; 1000 when a copy
// cannot be allocated.  The copies stay with the link (freed with it) even
// when the string is refused.
uint32_t parse_connection_string(Link* link, const char* conn);

}  // namespace nax
