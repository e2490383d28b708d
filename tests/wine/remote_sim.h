// The simulated node of the Windows suite: a Linux naxsim process on the same
// machine (Wine shares the host's network stack), reached over loopback for
// links and through its line-based control channel for faults, dialling in,
// events and counters.  The harness that starts it passes its ports and the
// COM port mapped onto its pseudo-terminal in the environment.
#pragma once

#include <winsock2.h>

#include <cstdlib>
#include <string>

namespace wine {

inline std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// "127.0.0.1:PORT" of the simulator's TCP listener.
inline std::string sim_conn() {
  return "127.0.0.1:" + env("NAXSIM_PORT");
}

// "COMn" mapped onto the simulator's pseudo-terminal.
inline std::string sim_com() {
  return env("NAXSIM_COM");
}

// One command, one answer line; a fresh connection per command keeps the
// client free of state.
inline std::string control(const std::string& line) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "error winsock";
  std::string answer = "error control channel";
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in sim{};
  sim.sin_family = AF_INET;
  sim.sin_port = htons(static_cast<u_short>(std::atoi(env("NAXSIM_CONTROL").c_str())));
  sim.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&sim), sizeof sim) == 0) {
    const std::string out = line + "\n";
    if (send(s, out.data(), static_cast<int>(out.size()), 0) == static_cast<int>(out.size())) {
      std::string got;
      char c = 0;
      while (recv(s, &c, 1, 0) == 1 && c != '\n') got.push_back(c);
      answer = got;
    }
  }
  if (s != INVALID_SOCKET) closesocket(s);
  WSACleanup();
  return answer;
}

// Points the COM port at a fresh pseudo-terminal of the simulator: a line
// starts clean, whatever protocol an earlier link spoke on it.
inline bool fresh_serial_line() {
  return control("serial " + env("NAXSIM_COM_LINK")).rfind("ok ", 0) == 0;
}

}  // namespace wine
