/* A host program as a user of the installed library writes it: C99, the
 * public header only.  Reads a simulated node's clock and checks the version
 * the library reports against the one the build system found. */
#include <stdio.h>
#include <string.h>
#include <vedodiroz.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: consumer CONN VERSION\n");
    return 2;
  }
  char version[16];
  if (strcmp(nax_lib_version(version), argv[2]) != 0) {
    fprintf(stderr, "library version %s, package version %s\n", version, argv[2]);
    return 1;
  }
  uint32_t status = nax_init(NULL, 0);
  if (status != NAX_OK) {
    fprintf(stderr, "nax_init: %u %s\n", status, nax_status_text(status));
    return 1;
  }
  uint32_t link = nax_open(&status, 0x0100, 2, argv[1], 3000, NULL, NULL, NULL, NULL);
  if (link == 0) {
    fprintf(stderr, "nax_open %s: %u %s\n", argv[1], status, nax_status_text(status));
    nax_uninit();
    return 1;
  }
  nax_date_time now;
  memset(&now, 0, sizeof now);
  status = nax_get_time((int32_t)link, 1, &now);
  nax_close((int32_t)link);
  nax_uninit();
  if (status != NAX_OK || now.month < 1 || now.month > 12 || now.day < 1 || now.day > 31) {
    fprintf(stderr, "nax_get_time: %u %s\n", status, nax_status_text(status));
    return 1;
  }
  printf("%s: node clock %02u:%02u:%02u\n", argv[0], now.hour, now.minute, now.second);
  return 0;
}
