// Descriptors and threads of this process, read from /proc, for tests that
// check that a run gives back everything it took.
#pragma once

#include <dirent.h>

namespace test_support {

inline int count_entries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n;
}

inline int open_descriptors() {
  return count_entries("/proc/self/fd") - 1;  // less the one reading the folder
}

inline int running_threads() {
  return count_entries("/proc/self/task");
}

}  // namespace test_support
