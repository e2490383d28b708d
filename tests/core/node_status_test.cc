// The shared table of node-status meanings.
#include <gtest/gtest.h>

#include <vector>

#include "vedodiroz.h"

TEST(NodeStatusText, MeaningDependsOnTheFunction) {
  struct Case {
    const char* function;
    uint32_t status;
    const char* meaning;  // nullptr: none known
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"nax_add_user", 5, "the user already exists"},
      {"nax_add_user", 12, "the node's user table is full"},
      {"nax_del_user", 8, "no such user"},
      {"nax_list_users", 7, "no users on the node"},
      {"nax_list_users", 8, "no further users"},
      {"nax_list_marks", 8, "no further marks"},
      {"nax_list_marks", 21, "no marks on the node"},
      {"nax_list_marks", 18, "the node refused the list"},
      {"nax_read_template", 10, "no such template"},
      {"nax_set_time", 2, "the node refused to set its clock"},
      {"nax_list_schd", 31, "more schedules follow"},
      {"nax_fopen", 5, "no such file"},
      {"nax_fread", 6, "no file open"},
      // Numbers common to every command, and the same number meaning nothing for another.
      {"nax_get_time", 2, "the node does not know this command"},
      {"nax_reset_node", 3, "the node found the request malformed"},
      {"nax_get_time", 5, nullptr},
      {"nax_list_marks", 7, nullptr},
      // Success and the library's own numbers are not the node's.
      {"nax_add_user", 1, nullptr},
      {"nax_add_user", 1037, nullptr},
      // A prefix of a command's name is no match.
      {"nax_add_use", 5, nullptr},
      {nullptr, 5, nullptr},
  };
  // clang-format on
  for (const auto& c : cases) {
    const char* got = nax_node_status_text(c.function, c.status);
    if (c.meaning == nullptr) {
      EXPECT_EQ(got, nullptr) << c.function << " " << c.status << ": " << got;
    } else {
      EXPECT_STREQ(got, c.meaning) << c.function << " " << c.status;
    }
  }
}
