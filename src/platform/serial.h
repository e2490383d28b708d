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

namespace nax::platform {

// Opens a serial device read/write, non-blocking, not as controlling
// terminal; -1 on failure.
int serial_open_device(const char* path);
// Raw 8N1, no flow control, DTR and RTS off, at baud (one of 9600 ... 115200).
// Saves the previous settings first.  1, or 1005 when they cannot be read or set.
uint32_t serial_configure(int fd, uint32_t baud, SerialSaved* saved);
void serial_restore(int fd, const SerialSaved& saved);
void serial_close_device(int fd);
// Bounded by timeout_ms and ended with 1061 when stop_fd becomes readable.
// A failed write purges the output (1019 short write, 1021 time-out, 1020 failure).
uint32_t serial_write(int fd, int stop_fd, uint32_t timeout_ms, const uint8_t* bytes,
                      std::size_t count);
// Returns as soon as at least one byte is there.  A failed read purges the
// input (1021 time-out, 1020 failure, 1023 nothing read); a hang-up on the
// line (the other end went away) is 1061 like a closed connection.
uint32_t serial_read(int fd, int stop_fd, uint32_t timeout_ms, uint8_t* buffer,
                     std::size_t max_count, uint32_t* count);

}  // namespace nax::platform
