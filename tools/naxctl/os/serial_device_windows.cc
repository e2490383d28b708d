// Serial device names and open failures on Windows.
#include <windows.h>

#include "serial_device.h"

namespace naxctl {

namespace {

std::string system_message(DWORD error) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(error) : message;
}

}  // namespace

std::string serial_device_path(const std::string& device) {
  // The library opens the name in the device namespace.
  return "\\\\.\\" + device;
}

std::string serial_open_detail(const std::string& path) {
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return "device " + path + ": " + system_message(GetLastError());
  DCB settings{};
  settings.DCBlength = sizeof settings;
  const bool serial = GetCommState(port, &settings) != 0;
  const DWORD error = GetLastError();
  CloseHandle(port);
  if (!serial) return "device " + path + ": " + system_message(error);
  return "device " + path;
}

}  // namespace naxctl
