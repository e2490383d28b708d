// Parser of the connection string given to nax_open.
#include "link/conn_string.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace nax {

namespace {

char* copy_string(const char* begin, std::size_t length) {
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, begin, length);
  copy[length] = '\0';
  return copy;
}

bool starts_with_nocase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (std::tolower(static_cast<unsigned char>(*text)) != *prefix) return false;
  }
  return true;
}

}  // namespace

uint32_t parse_connection_string(Link* link, const char* conn) {
  if (conn == nullptr) return NAX_ERR_BAD_CONN_STRING;
  std::size_t name_length = std::strcspn(conn, ": ");
  link->device_name = copy_string(conn, name_length);
  if (link->device_name == nullptr) return NAX_ERR_NO_MEMORY;
  if (conn[name_length] == '\0') return NAX_ERR_BAD_CONN_STRING;
  const char* param = conn + name_length + 1;
  std::size_t param_length = std::strcspn(param, ": ");
  link->device_param = copy_string(param, param_length);
  if (link->device_param == nullptr) return NAX_ERR_NO_MEMORY;
  const char* name = link->device_name;
  link->device_type =
      (starts_with_nocase(name, "com") || starts_with_nocase(name, "tty") || name[0] == '/')
          ? kDeviceSerial
          : kDeviceTcp;
  for (const char* p = link->device_param; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return NAX_ERR_BAD_CONN_STRING;
  }
  return NAX_OK;
}

}  // namespace nax
