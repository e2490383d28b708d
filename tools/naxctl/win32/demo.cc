// naxctl demo on Windows: the demo's simulated node runs on Linux only.
#include <cstdio>

#include "commands.h"

namespace naxctl {

int run_demo() {
  std::fprintf(stderr,
               "naxctl: demo: the simulated node of the demo runs on Linux only.  On Windows, "
               "point naxctl at a node, or start the simulator on a Linux machine so that it "
               "accepts other machines:\n"
               "  naxsim --bind 0.0.0.0 --port 3001\n"
               "then run, with that machine's address:\n"
               "  naxctl --conn LINUX-HOST:3001 clock get\n");
  return 2;
}

}  // namespace naxctl
