// What a node's own status numbers mean, function by function: one table for every host
// tool and binding, so that naxctl, naxgw, Python and .NET say the same thing.
#include <cstring>

#include "vedodiroz.h"

namespace {

struct Meaning {
  const char* function;  // a prefix when it ends in '_': "nax_" covers every function
  uint32_t status;
  const char* text;
};

// Protocol-1 refusals as the library maps their error bytes, and the status words that
// protocol-2 nodes answer with.
// clang-format off
constexpr Meaning kMeanings[] = {
    {"nax_set_time", 2, "the node refused to set its clock"},
    {"nax_list_users", 4, "the node refused the list"},
    {"nax_list_users", 7, "no users on the node"},
    {"nax_list_users", 8, "no further users"},
    {"nax_add_user", 4, "the node found the user record bad"},
    {"nax_add_user", 5, "the user already exists"},
    {"nax_add_user", 8, "no such user"},
    {"nax_add_user", 12, "the node's user table is full"},
    {"nax_add_user", 16, "the node refused the user"},
    {"nax_edit_user", 4, "the node found the user record bad"},
    {"nax_edit_user", 8, "no such user"},
    {"nax_del_user", 4, "the node found the user record bad"},
    {"nax_del_user", 8, "no such user"},
    {"nax_del_user", 16, "the node refused the user"},
    {"nax_list_marks", 8, "no further marks"},
    {"nax_list_marks", 18, "the node refused the list"},
    {"nax_list_marks", 21, "no marks on the node"},
    {"nax_read_template", 10, "no such template"},
    {"nax_read_template", 11, "nothing enrolled for that user or sensor"},
    {"nax_read_template", 12, "the sensor's template store is full or busy"},
    {"nax_read_template", 16, "the node refused the template"},
    {"nax_write_template", 12, "the sensor's template store is full or busy"},
    {"nax_del_template", 10, "no such template"},
    {"nax_block_node", 16, "the node refused to block or unblock"},
    {"nax_flush_table", 16, "the node refused to flush the table"},
    {"nax_list_schd", 31, "more schedules follow"},
    {"nax_add_task_item", 6, "no such task group"},
    {"nax_fopen", 5, "no such file"},
    {"nax_fopen", 7, "the file would grow past the node's limit"},
    {"nax_fdel", 5, "no such file"},
    {"nax_fread", 6, "no file open"},
    {"nax_fwrite", 6, "no file open"},
    {"nax_fwrite", 7, "the file would grow past the node's limit"},
    {"nax_fclose", 6, "no file open"},
    {"nax_", 2, "the node does not know this command"},
    {"nax_", 3, "the node found the request malformed"},
};
// clang-format on

}  // namespace

extern "C" {

NAX_API const char* NAX_CALL nax_node_status_text(const char* function, uint32_t status) {
  if (function == nullptr || status == NAX_OK || status >= 1000) return nullptr;
  for (const Meaning& m : kMeanings) {
    const std::size_t n = std::strlen(m.function);
    const bool matches = m.function[n - 1] == '_' ? std::strncmp(function, m.function, n) == 0
                                                  : std::strcmp(function, m.function) == 0;
    if (matches && m.status == status) return m.text;
  }
  return nullptr;
}

}  // extern "C"
