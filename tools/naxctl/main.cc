// naxctl: the operators' command-line tool for nodes.
#include "commands.h"

int main(int argc, char** argv) {
  return naxctl::run_naxctl(argc, argv);
}
