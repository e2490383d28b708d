// Serial port access for links: raw 8N1 lines without flow control.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>

namespace nax::platform {

// Settings of the port before the link changed them, restored at close.
struct SerialSaved {
  bool valid;
  struct termios tio;
  int modem_bits;
};

}  // namespace nax::platform
