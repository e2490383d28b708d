// naxctl task group | item, and naxctl display: protocol-2 extras.
#include <algorithm>
#include <cstring>

#include "commands.h"

namespace naxctl {

namespace {

constexpr size_t kMaxTaskName = 16;
constexpr size_t kMaxJobOrder = 9;
constexpr size_t kMaxDisplayText = 49;

struct TaskArgs {
  uint8_t group = 0;
  uint8_t id = 0;
  uint16_t mask = 0xFFFF;
  std::string name;
  uint8_t items = 0;
  uint8_t type = 0;
  std::string job_order;
};

struct DisplayArgs {
  uint16_t line = 0;
  uint16_t pos = 0;
  std::string text;
  uint16_t font = 0;
  int32_t timer = 0;
  uint8_t cmd_line = 0;
  uint8_t cmd_pos = 0;
};

CLI::Validator at_most(size_t n) {
  return CLI::Validator(
      [n](std::string& text) -> std::string {
        return text.size() <= n ? "" : "at most " + std::to_string(n) + " characters";
      },
      "TEXT");
}

void copy_text(char* dest, size_t size, const std::string& text) {
  std::memset(dest, 0, size);
  std::memcpy(dest, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

void add_task_commands(CLI::App& parent, Cli& cli) {
  auto* task = parent.add_subcommand("task", "Task groups and task items (protocol 2)");
  task->require_subcommand(1);

  auto g = std::make_shared<TaskArgs>();
  auto* group = task->add_subcommand("group", "Add (or replace) task group ID");
  add_number(group, "id", g->id, "Group number")->required();
  group->add_option("--name", g->name, "Name, at most 16 characters")->check(at_most(kMaxTaskName));
  add_number(group, "--items", g->items, "Number of items in the group");
  add_number(group, "--mask", g->mask, "Field mask sent with the group (default 0xFFFF)");
  on_run(group, cli, [g](Session& s) {
    nax_task_group rec{};
    rec.mask_fields = g->mask;
    rec.id = g->id;
    copy_text(rec.name, sizeof rec.name, g->name);
    rec.items = g->items;
    check(nax_add_task_group(s.link(), s.node(), &rec), "nax_add_task_group");
    Json j = Json::object();
    j.add("group", Json::number(g->id)).add("name", Json::string(g->name));
    j.add("items", Json::number(g->items)).add("mask", Json::number(g->mask));
    emit(s.json(), "task group " + std::to_string(g->id) + " added\n", j);
  });

  auto t = std::make_shared<TaskArgs>();
  auto* item = task->add_subcommand("item", "Add task item ID to group GROUP");
  add_number(item, "group", t->group, "Group number")->required();
  add_number(item, "id", t->id, "Item number")->required();
  add_number(item, "--type", t->type, "Item type");
  item->add_option("--name", t->name, "Name, at most 16 characters")->check(at_most(kMaxTaskName));
  item->add_option("--job-order", t->job_order, "Job order, at most 9 characters")
      ->check(at_most(kMaxJobOrder));
  add_number(item, "--mask", t->mask, "Field mask sent with the item (default 0xFFFF)");
  on_run(item, cli, [t](Session& s) {
    nax_task_item rec{};
    rec.mask_fields = t->mask;
    rec.type = t->type;
    rec.id = t->id;
    copy_text(rec.name, sizeof rec.name, t->name);
    copy_text(rec.job_order, sizeof rec.job_order, t->job_order);
    check(nax_add_task_item(s.link(), s.node(), t->group, &rec), "nax_add_task_item");
    Json j = Json::object();
    j.add("group", Json::number(t->group)).add("item", Json::number(t->id));
    j.add("type", Json::number(t->type)).add("name", Json::string(t->name));
    j.add("job_order", Json::string(t->job_order)).add("mask", Json::number(t->mask));
    emit(
        s.json(),
        "task item " + std::to_string(t->id) + " added to group " + std::to_string(t->group) + "\n",
        j);
  });
}

void add_display_commands(CLI::App& parent, Cli& cli) {
  auto d = std::make_shared<DisplayArgs>();
  auto* display = parent.add_subcommand("display", "Show TEXT on the node's display (protocol 2)");
  add_number(display, "line", d->line, "Display line")->required();
  add_number(display, "pos", d->pos, "Position within the line")->required();
  display->add_option("text", d->text, "Text, at most 49 characters")
      ->required()
      ->check(at_most(kMaxDisplayText));
  add_number(display, "--font", d->font, "Font number");
  add_number(display, "--timer", d->timer, "Timer value sent with the message");
  add_number(display, "--cmd-line", d->cmd_line, "Line command byte, passed to the node");
  add_number(display, "--cmd-pos", d->cmd_pos, "Position command byte, passed to the node");
  on_run(display, cli, [d](Session& s) {
    nax_display_message msg{};
    msg.line = d->line;
    msg.pos = d->pos;
    msg.cmd_line = d->cmd_line;
    msg.cmd_pos = d->cmd_pos;
    msg.font = d->font;
    copy_text(msg.data, sizeof msg.data, d->text);
    uint16_t answer = 0;
    check(nax_display_msg(s.link(), s.node(), 1, &msg, d->timer, &answer), "nax_display_msg");
    Json j = Json::object();
    j.add("line", Json::number(d->line)).add("pos", Json::number(d->pos));
    j.add("text", Json::string(d->text)).add("answer", Json::number(answer));
    emit(s.json(), "shown; the node answered " + std::to_string(answer) + "\n", j);
  });
}

}  // namespace naxctl
