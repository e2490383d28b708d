/* Compiled as C99: the public header must stand alone in C, and the host
 * records must have the layout that natural alignment gives them, because
 * hosts index arrays of them by that layout. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "vedodiroz.h"

static int failures = 0;

#define CHECK_EQ(what, actual, expected)                                                           \
  do {                                                                                             \
    if ((size_t)(actual) != (size_t)(expected)) {                                                  \
      printf("%s: %lu, expected %lu\n", what, (unsigned long)(actual), (unsigned long)(expected)); \
      ++failures;                                                                                  \
    }                                                                                              \
  } while (0)

#define OFF(type, field, expected) CHECK_EQ(#type "." #field, offsetof(type, field), expected)
#define SIZE(type, expected) CHECK_EQ("sizeof " #type, sizeof(type), expected)

int main(void) {
  char version[8];
  SIZE(nax_date_time, 7);
  OFF(nax_date_time, weekday, 6);

  SIZE(nax_user_event, 16);
  OFF(nax_user_event, index, 4);
  OFF(nax_user_event, event, 6);
  OFF(nax_user_event, direction, 7);
  OFF(nax_user_event, time, 8);

  SIZE(nax_aux_input_event, 9);
  OFF(nax_aux_input_event, time, 2);

  SIZE(nax_aux_input, 28);
  OFF(nax_aux_input, ev_historic, 5);
  OFF(nax_aux_input, ev_in_condition, 8);
  OFF(nax_aux_input, ev_rele_condition, 12);
  OFF(nax_aux_input, schedule_id, 16);
  OFF(nax_aux_input, extra, 18);

  SIZE(nax_user, 556);
  OFF(nax_user, id, 4);
  OFF(nax_user, psw, 8);
  OFF(nax_user, st, 10);
  OFF(nax_user, ctl, 12);
  OFF(nax_user, panic, 14);
  OFF(nax_user, bio_count, 15);
  OFF(nax_user, bio_level, 16);
  OFF(nax_user, sec_level, 17);
  OFF(nax_user, text1, 18);
  OFF(nax_user, text2, 274);
  OFF(nax_user, reserved, 530);
  OFF(nax_user, schedule_id, 552);
  OFF(nax_user, anti_passback, 554);

  SIZE(nax_mark, 40);
  OFF(nax_mark, kind, 4);
  OFF(nax_mark, id, 8);
  OFF(nax_mark, date_time, 12);
  OFF(nax_mark, event, 19);
  OFF(nax_mark, index, 20);
  OFF(nax_mark, direction, 22);
  OFF(nax_mark, value, 24);
  OFF(nax_mark, flag, 28);
  OFF(nax_mark, code, 29);

  SIZE(nax_schd_header, 40);
  OFF(nax_schd_header, name, 2);
  OFF(nax_schd_header, hours, 24);
  OFF(nax_schd_header, segments, 28);
  OFF(nax_schd_header, date_time, 32);
  SIZE(nax_schd_segment, 3);
  SIZE(nax_schd_entry, 24);
  OFF(nax_schd_entry, name, 2);

  SIZE(nax_task_group, 22);
  OFF(nax_task_group, id, 2);
  OFF(nax_task_group, name, 3);
  OFF(nax_task_group, items, 20);
  SIZE(nax_task_item, 32);
  OFF(nax_task_item, type, 2);
  OFF(nax_task_item, id, 3);
  OFF(nax_task_item, name, 4);
  OFF(nax_task_item, job_order, 21);

  SIZE(nax_user_event_answer, 1016);
  OFF(nax_user_event_answer, user, 8);
  OFF(nax_user_event_answer, print_enable, 564);
  OFF(nax_user_event_answer, aux0, 565);
  OFF(nax_user_event_answer, aux9, 970);

  SIZE(nax_display_message, 58);
  OFF(nax_display_message, cmd_line, 4);
  OFF(nax_display_message, cmd_pos, 5);
  OFF(nax_display_message, font, 6);
  OFF(nax_display_message, data, 8);

  /* Works before nax_init; null buffer gives null. */
  if (nax_lib_version(NULL) != NULL) ++failures;
  if (nax_lib_version(version) != version || strcmp(version, "1.1.13") != 0) ++failures;
  {
    /* The header's version macros name the library they came with, and compare in order. */
    char from_macros[32];
    static const struct {
      int major, minor, patch, at_least;
    } checks[] = {{1, 1, 13, 1}, {1, 1, 14, 0}, {1, 2, 0, 0},
                  {2, 0, 0, 0},  {1, 0, 99, 1}, {0, 99, 99, 1}};
    size_t i;
    snprintf(from_macros, sizeof from_macros, "%d.%d.%d", NAX_VERSION_MAJOR, NAX_VERSION_MINOR,
             NAX_VERSION_PATCH);
    if (strcmp(version, from_macros) != 0) ++failures;
    for (i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
      if (!NAX_VERSION_CHECK(checks[i].major, checks[i].minor, checks[i].patch) !=
          !checks[i].at_least) {
        printf("NAX_VERSION_CHECK(%d, %d, %d) wrong\n", checks[i].major, checks[i].minor,
               checks[i].patch);
        ++failures;
      }
    }
  }
  if (nax_uninit() != NAX_ERR_NOT_INIT) ++failures;
  if (nax_close(1) != NAX_ERR_NOT_INIT) ++failures;

  if (failures == 0) printf("layout ok\n");
  return failures == 0 ? 0 : 1;
}
