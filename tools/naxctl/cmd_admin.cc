// naxctl info, reset, block, flush and delete-records: the node as a whole.
#include "commands.h"

namespace naxctl {

namespace {

constexpr size_t kInfoAnswerSize = 512;
constexpr size_t kMaxQueryLength = 511;

struct AdminArgs {
  std::string query;
  int32_t device = 0;
  int32_t sub = 0;
  uint8_t value = 0;
  uint8_t table = 0;
  uint16_t count = 0;
};

}  // namespace

void add_admin_commands(CLI::App& parent, Cli& cli) {
  auto info_args = std::make_shared<AdminArgs>();
  auto* info = parent.add_subcommand("info", "Ask the node an information query");
  info->add_option("query", info_args->query, "The query text (the node's vocabulary)")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.size() <= kMaxQueryLength ? "" : "a query holds at most 511 characters";
          },
          "QUERY"));
  on_run(info, cli, [a = info_args](Session& s) {
    char answer[kInfoAnswerSize] = {};
    check(nax_get_info(s.link(), s.node(), a->query.c_str(), answer), "nax_get_info");
    Json j = Json::object();
    j.add("query", Json::string(a->query)).add("answer", Json::string(answer));
    emit(s.json(), std::string(answer) + "\n", j);
  });

  auto reset_args = std::make_shared<AdminArgs>();
  auto* reset = parent.add_subcommand("reset", "Reset the node (DEVICE and SUB as it knows them)");
  add_number(reset, "device", reset_args->device, "Device id")->required();
  add_number(reset, "sub", reset_args->sub, "Sub id")->required();
  on_run(reset, cli, [a = reset_args](Session& s) {
    check(nax_reset_node(s.link(), s.node(), a->device, a->sub), "nax_reset_node");
    Json j = Json::object();
    j.add("device", Json::number(a->device)).add("sub", Json::number(a->sub));
    j.add("reset", Json::boolean(true));
    emit(s.json(), "node reset\n", j);
  });

  auto block_args = std::make_shared<AdminArgs>();
  auto* block = parent.add_subcommand("block", "Send the node a block command with VALUE");
  add_number(block, "value", block_args->value, "Block value, as the node understands it")
      ->required();
  on_run(block, cli, [a = block_args](Session& s) {
    check(nax_block_node(s.link(), s.node(), a->value), "nax_block_node");
    Json j = Json::object();
    j.add("block", Json::number(a->value));
    emit(s.json(), "block " + std::to_string(a->value) + " sent\n", j);
  });

  auto flush_args = std::make_shared<AdminArgs>();
  auto* flush = parent.add_subcommand(
      "flush", "Empty one of the node's tables (protocol 1 knows 0 and 1 only)");
  add_number(flush, "table", flush_args->table, "Table number")->required();
  on_run(flush, cli, [a = flush_args](Session& s) {
    check(nax_flush_table(s.link(), s.node(), a->table), "nax_flush_table");
    Json j = Json::object();
    j.add("table", Json::number(a->table)).add("flushed", Json::boolean(true));
    emit(s.json(), "table " + std::to_string(a->table) + " flushed\n", j);
  });

  auto del_args = std::make_shared<AdminArgs>();
  auto* del =
      parent.add_subcommand("delete-records", "Delete COUNT records from table TABLE (protocol 2)");
  add_number(del, "table", del_args->table, "Table number")->required();
  add_number(del, "count", del_args->count, "Records to delete")->required();
  on_run(del, cli, [a = del_args](Session& s) {
    uint16_t deleted = 0;
    check(nax_del_records(s.link(), s.node(), a->table, a->count, &deleted), "nax_del_records");
    Json j = Json::object();
    j.add("table", Json::number(a->table)).add("deleted", Json::number(deleted));
    emit(s.json(),
         std::to_string(deleted) + " records deleted from table " + std::to_string(a->table) + "\n",
         j);
  });
}

}  // namespace naxctl
