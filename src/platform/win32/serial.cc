// Windows serial ports: overlapped I/O, raw 8N1 lines without flow control,
// every read and write bounded by a time-out and cut short by the link's
// stop event.
#include "platform/serial.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vedodiroz.h"

namespace nax::platform {
namespace {

struct WinSaved {
  DCB dcb;
  COMMTIMEOUTS timeouts;
};
static_assert(sizeof(WinSaved) <= sizeof(SerialSaved::bytes));

constexpr DWORD kQueueBytes = 1024;

HANDLE handle_of(SerialPort port) {
  return reinterpret_cast<HANDLE>(port);
}

// Waits for an overlapped operation that was started on port: 1 with the
// byte count in *done, 1061 when stop is set first, 1021 on time-out, 1020
// for any failure of the port.  A line that hung up or an adapter that went
// away fails every operation with 1020 too: the reception thread retries, and
// the keepalive finds the node gone.
uint32_t wait_completion(HANDLE port, const Event* stop, uint32_t timeout_ms, OVERLAPPED* op,
                         DWORD* done) {
  if (GetLastError() != ERROR_IO_PENDING) return NAX_ERR_IO;
  HANDLE handles[2] = {op->hEvent, nullptr};
  DWORD n = 1;
  if (stop != nullptr && stop->native() != kNoWaitable) {
    handles[1] = reinterpret_cast<HANDLE>(stop->native());
    n = 2;
  }
  DWORD rc =
      WaitForMultipleObjects(n, handles, FALSE, timeout_ms == kWaitForever ? INFINITE : timeout_ms);
  uint32_t status = NAX_ERR_IO;
  if (rc == WAIT_OBJECT_0) {
    return GetOverlappedResult(port, op, done, FALSE) ? uint32_t{NAX_OK} : uint32_t{NAX_ERR_IO};
  } else if (n == 2 && rc == WAIT_OBJECT_0 + 1) {
    status = NAX_ERR_CONN_CLOSED;
  } else if (rc == WAIT_TIMEOUT) {
    status = NAX_ERR_TIMEOUT;
  }
  // The operation still refers to the caller's buffer and event: end it
  // before they go away.
  CancelIo(port);
  (void)GetOverlappedResult(port, op, done, TRUE);
  return status;
}

}  // namespace

// "COM1" ... "COM256" in any letter case, through the device namespace, so
// that ports above COM9 open too.  Other names do not name a port here.
bool serial_device_path(const char* name, char* path, std::size_t path_size) {
  if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
    return false;
  }
  unsigned long number = 0;
  for (const char* p = name + 3; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || number > 256) return false;
    number = number * 10 + static_cast<unsigned long>(*p - '0');
  }
  if (number < 1 || number > 256) return false;
  return std::snprintf(path, path_size, "%s%s", "\\\\.\\", name) < static_cast<int>(path_size);
}

SerialPort serial_open_device(const char* path) {
  HANDLE h =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OVERLAPPED | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoSerialPort : reinterpret_cast<SerialPort>(h);
}

uint32_t serial_configure(SerialPort port, uint32_t baud, SerialSaved* saved) {
  HANDLE h = handle_of(port);
  WinSaved old{};
  old.dcb.DCBlength = sizeof old.dcb;
  if (!GetCommState(h, &old.dcb)) return NAX_ERR_SERIAL_CONFIG;
  std::memcpy(saved->bytes, &old, sizeof old);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  if (!SetCommState(h, &dcb)) return NAX_ERR_SERIAL_CONFIG;
  (void)SetupComm(h, kQueueBytes, kQueueBytes);
  (void)PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  if (!GetCommTimeouts(h, &old.timeouts)) return NAX_ERR_SERIAL_CONFIG;
  std::memcpy(saved->bytes, &old, sizeof old);
  saved->valid = true;
  // A read returns as soon as one byte is there and otherwise waits for the
  // first byte; the library bounds that wait itself.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = MAXDWORD - 1;
  timeouts.WriteTotalTimeoutMultiplier = 10;
  timeouts.WriteTotalTimeoutConstant = 100;
  if (!SetCommTimeouts(h, &timeouts)) return NAX_ERR_SERIAL_CONFIG;
  return NAX_OK;
}

void serial_restore(SerialPort port, const SerialSaved& saved) {
  if (!saved.valid) return;
  WinSaved old{};
  std::memcpy(&old, saved.bytes, sizeof old);
  (void)SetCommTimeouts(handle_of(port), &old.timeouts);
  (void)SetCommState(handle_of(port), &old.dcb);
}

void serial_close_device(SerialPort port) {
  if (port != kNoSerialPort) CloseHandle(handle_of(port));
}

uint32_t serial_write(SerialPort port, const Event* stop, uint32_t timeout_ms, const uint8_t* bytes,
                      std::size_t count) {
  HANDLE h = handle_of(port);
  OVERLAPPED op{};
  op.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (op.hEvent == nullptr) return NAX_ERR_SERIAL_WRITE_EVENT;
  DWORD written = 0;
  uint32_t status = NAX_OK;
  if (!WriteFile(h, bytes, static_cast<DWORD>(count), &written, &op)) {
    status = wait_completion(h, stop, timeout_ms, &op, &written);
  }
  CloseHandle(op.hEvent);
  if (status == NAX_OK && written != count) status = NAX_ERR_SERIAL_WRITE_SHORT;
  if (status != NAX_OK) (void)PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
  return status;
}

uint32_t serial_read(SerialPort port, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                     std::size_t max_count, uint32_t* count) {
  *count = 0;
  if (port == kNoSerialPort) return NAX_ERR_IO;
  HANDLE h = handle_of(port);
  OVERLAPPED op{};
  op.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (op.hEvent == nullptr) return NAX_ERR_SERIAL_READ_EVENT;
  DWORD got = 0;
  uint32_t status = NAX_OK;
  if (!ReadFile(h, buffer, static_cast<DWORD>(max_count), &got, &op)) {
    status = wait_completion(h, stop, timeout_ms, &op, &got);
  }
  CloseHandle(op.hEvent);
  if (status == NAX_OK && got == 0) status = NAX_ERR_SERIAL_READ_EMPTY;
  if (status == NAX_OK) {
    *count = got;
    return NAX_OK;
  }
  (void)PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR);
  return status;
}

}  // namespace nax::platform
