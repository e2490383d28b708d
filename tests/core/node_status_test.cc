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
  const std::vector<Case> cases = {
      {"nax_add_user", 5, "the user already exists"},
      {"nax_list_users", 7, "no users on the node"},
      {"nax_list_marks", 8, "no further marks"},
      {"nax_list_marks", 21, "no marks on the node"},
      {"nax_list_schd", 31, "more schedules follow"},
      {"nax_fopen", 5, "no such file"},
      {"nax_get_time", 2, "the node does not know this command"},  // common to every command
      {"nax_reset_node", 3, "the node found the request malformed"},
      {"nax_get_time", 5, nullptr},  // another command's meaning
      {"nax_list_marks", 7, nullptr},
      {"nax_add_user", 1, nullptr},     // success is no node status
      {"nax_add_user", 1037, nullptr},  // nor is a library status
      {"nax_add_use", 5, nullptr},      // a prefix of a command's name is no match
      {nullptr, 5, nullptr},
  };
  for (const auto& c : cases) {
    const char* got = nax_node_status_text(c.function, c.status);
    if (c.meaning == nullptr) {
      EXPECT_EQ(got, nullptr) << c.function << " " << c.status << ": " << got;
    } else {
      EXPECT_STREQ(got, c.meaning) << c.function << " " << c.status;
    }
  }
}
