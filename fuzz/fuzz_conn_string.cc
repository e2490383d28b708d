// libFuzzer target: the connection-string parser.  The fuzzer's bytes are
// the string (cut at a NUL, as the host's C string would be).
//
// Checks: only 1 or 1001 (1000 cannot happen without memory pressure); on 1
// the string is the device name, a separator and an all-digit parameter,
// each copied exactly, and the transport follows the name's prefix.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "link/conn_string.h"

using namespace nax;

namespace {

bool serial_name(const char* name) {
  return strncasecmp(name, "com", 3) == 0 || strncasecmp(name, "tty", 3) == 0 || name[0] == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t input_size) {
  const std::string conn(reinterpret_cast<const char*>(input),
                         strnlen(reinterpret_cast<const char*>(input), input_size));
  auto link = std::make_unique<Link>();
  const uint32_t status = parse_connection_string(link.get(), conn.c_str());
  FUZZ_CHECK(status == NAX_OK || status == NAX_ERR_BAD_CONN_STRING);
  const std::size_t sep = conn.find_first_of(": ");
  FUZZ_CHECK(link->device_name != nullptr);
  FUZZ_CHECK(conn.compare(0, sep, link->device_name) == 0);
  if (sep == std::string::npos) {
    FUZZ_CHECK(status == NAX_ERR_BAD_CONN_STRING);
    FUZZ_CHECK(link->device_param == nullptr);
  } else {
    FUZZ_CHECK(link->device_param != nullptr);
    const std::string rest = conn.substr(sep + 1);
    const std::string param = rest.substr(0, rest.find_first_of(": "));
    FUZZ_CHECK(param == link->device_param);
    const bool digits = param.find_first_not_of("0123456789") == std::string::npos;
    FUZZ_CHECK((status == NAX_OK) == digits);
    if (status == NAX_OK) {
      FUZZ_CHECK(link->device_type ==
                 (serial_name(link->device_name) ? kDeviceSerial : kDeviceTcp));
    }
  }
  std::free(link->device_name);
  std::free(link->device_param);
  return 0;
}
