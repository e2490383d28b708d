// Serial port access for links: raw 8N1 lines without flow control.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace nax::platform {

// An open port: a descriptor on POSIX, a HANDLE on Windows; -1 when none.
using SerialPort = std::intptr_t;
inline constexpr SerialPort kNoSerialPort = -1;

// Settings of the port before the link changed them, restored at close; the
// OS layer keeps its own settings blocks in the bytes.
struct SerialSaved {
  bool valid;
  alignas(8) unsigned char bytes[128];
};

// Builds the OS path of a serial device name into path; false when the name
// does not name a serial port on this OS.
bool serial_device_path(const char* name, char* path, std::size_t path_size);
// Opens a serial device read/write, without sharing; kNoSerialPort on failure.
SerialPort serial_open_device(const char* path);
// Raw 8N1, no flow control, DTR and RTS off, at baud (one of 9600 ... 115200),
// 1024-byte queues where the OS has them.  Saves the previous settings first.
// 1, or 1005 when they cannot be read or set.
uint32_t serial_configure(SerialPort port, uint32_t baud, SerialSaved* saved);
void serial_restore(SerialPort port, const SerialSaved& saved);
void serial_close_device(SerialPort port);
// Bounded by timeout_ms and ended with 1061 when stop is set (stop must own
// an OS object).  A failed write purges the output (1019 short write, 1021
// time-out, 1020 failure, 1018 no event).
uint32_t serial_write(SerialPort port, const Event* stop, uint32_t timeout_ms, const uint8_t* bytes,
                      std::size_t count);
// Returns as soon as at least one byte is there.  A failed read purges the
// input (1021 time-out, 1020 failure, 1023 nothing read, 1022 no event); a
// hang-up on the line (the other end went away) is 1061 like a closed
// connection, and so is stop.
uint32_t serial_read(SerialPort port, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                     std::size_t max_count, uint32_t* count);

}  // namespace nax::platform
