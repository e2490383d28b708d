/* A plain C99 host: opens a link, reads and sets the clock, adds and lists users,
 * downloads the attendance marks, waits for one user event and closes the link.
 *
 *   naxsim --port 3001 --marks 3 --events-every 500 &
 *   cc -std=c99 host.c $(pkg-config --cflags --libs vedodiroz) -pthread -o host
 *   ./host 127.0.0.1:3001
 */
#define _POSIX_C_SOURCE 200809L /* clock_gettime in C99 */

#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <vedodiroz.h>

#define NODE 1

/* Events arrive on the library's reception thread; main waits for the first. */
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t arrived = PTHREAD_COND_INITIALIZER;
static int events_seen;
static nax_user_event last_event;

static void NAX_CALL on_user(void* args, int32_t link, uint32_t node, nax_user_event* event) {
  (void)args;
  (void)link;
  (void)node;
  pthread_mutex_lock(&lock);
  last_event = *event; /* the record is valid only during the call */
  ++events_seen;
  pthread_cond_signal(&arrived);
  pthread_mutex_unlock(&lock);
}

static int failed(const char* what, uint32_t status) {
  fprintf(stderr, "%s: %u %s\n", what, (unsigned)status, nax_status_text(status));
  return 1;
}

static int session(int32_t link) {
  nax_date_time now;
  uint32_t status = nax_get_time(link, NODE, &now);
  if (status != NAX_OK) return failed("nax_get_time", status);
  printf("node clock  20%02u-%02u-%02u %02u:%02u:%02u\n", now.year, now.month, now.day, now.hour,
         now.minute, now.second);
  now.hour = 8, now.minute = 0, now.second = 0;
  if ((status = nax_set_time(link, NODE, &now)) != NAX_OK) return failed("nax_set_time", status);

  nax_user user;
  uint16_t taken = 0;
  memset(&user, 0, sizeof user);
  user.mask = NAX_USER_ID | NAX_USER_TEXT1;
  user.id = 1001;
  strcpy(user.text1, "Maria Quintero");
  status = nax_add_user(link, NODE, 0, 1, &user, &taken);
  if (status != NAX_OK && status != 5 /* already there */) return failed("nax_add_user", status);

  /* Pages until the node says 8 (no further records); protocol 1 would say 7 when empty. */
  nax_user users[16];
  uint32_t first = 0;
  uint16_t stored = 0;
  do {
    status = nax_list_users(link, NODE, first, 16, users, &stored);
    for (uint16_t i = 0; i < stored; ++i)
      printf("user  %u  %s\n", (unsigned)users[i].id, users[i].text1);
    first += stored;
  } while (status == NAX_OK && stored > 0);
  if (status != 8 && status != 7) return failed("nax_list_users", status);

  nax_mark marks[32];
  first = 0;
  do {
    status = nax_list_marks(link, NODE, first, 32, marks, &stored);
    for (uint16_t i = 0; i < stored; ++i)
      printf("mark  user %u  event %u\n", (unsigned)marks[i].id, marks[i].event);
    first += stored;
  } while (status == NAX_OK && stored > 0);
  if (status != 8 && status != 21) return failed("nax_list_marks", status);

  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += 10;
  pthread_mutex_lock(&lock);
  while (events_seen == 0 && pthread_cond_timedwait(&arrived, &lock, &until) == 0) {
  }
  const int seen = events_seen;
  const nax_user_event event = last_event;
  pthread_mutex_unlock(&lock);
  if (seen == 0) {
    fprintf(stderr, "no user event within 10 s\n");
    return 1;
  }
  printf("event user %u  event %u  direction %u\n", (unsigned)event.id, event.event,
         event.direction);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s HOST:PORT\n", argv[0]);
    return 2;
  }
  uint32_t status = nax_init(NULL, 0); /* no log file */
  if (status != NAX_OK) return failed("nax_init", status);
  const uint32_t link = nax_open(&status, 0x0100, 2, argv[1], 3000, NULL, on_user, NULL, NULL);
  int result = link != 0 ? session((int32_t)link) : failed("nax_open", status);
  if (link != 0 && (status = nax_close((int32_t)link)) != NAX_OK)
    result = failed("nax_close", status);
  nax_uninit();
  return result;
}
