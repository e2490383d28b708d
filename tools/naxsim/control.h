// A line-based control channel on a loopback TCP port, so that a host test
// running in another process (a Windows build under Wine, say) can change the
// simulator's faults, make it dial in, send events and read its counters.
//
// One command per line, one answer line each ("ok ..." or "error ..."):
//   faults [name[=value] ...]   replace the faults (no names: none); names as the
//                               command-line options without "--", '-' or '_'
//   connect HOST PORT [COUNT]   dial a host's listener COUNT times (default 1)
//   wait N MS                   wait up to MS ms for N connections
//   serial [LINK]               serve a fresh pseudo-terminal ("ok SLAVE_PATH") and
//                               point the symbolic link LINK at it
//   drop                        close every connection
//   count                       "ok CONNECTIONS REQUESTS KEEPALIVES"
//   user ID INDEX EVENT DIRECTION   send a user event to every connection
//   aux INPUT VALUE             send an aux input event (protocol 2 connections)
//   mark ID                     record a mark of user ID taken now
#pragma once

#include <cstdint>
#include <string>

#include "naxsim.h"

namespace naxsim {

// Carries out one command line; the answer line has no newline.
std::string control_command(Simulator& sim, const std::string& line);

// Serves the channel on 127.0.0.1:port from a thread of its own, one client at
// a time, for the life of the process.  False when the port cannot be had.
bool control_serve(Simulator& sim, uint16_t port);

}  // namespace naxsim
