// naxctl demo on Windows: the demo's simulated node runs on Linux only.
#include <cstdio>

#include "commands.h"

namespace naxctl {

int run_demo() {
  std::fprintf(stderr,
               "naxctl: demo: the simulated node of the demo runs on Linux only; on Windows "
               "point naxctl at a node (or at naxsim on a Linux machine) with --conn HOST:PORT\n");
  return 2;
}

}  // namespace naxctl
