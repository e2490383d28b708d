// The command tree: every family adds its subcommands to a parent (the top level, and
// again under "listen"); a chosen subcommand leaves its action to be run on the link.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>
#include <string>

#include "numbers.h"
#include "output.h"
#include "records.h"
#include "session.h"

namespace naxctl {

using Action = std::function<void(Session&)>;

struct Cli {
  Options options;
  Action action;                  // the chosen subcommand, run on an open link
  std::function<void()> prepare;  // checks and reads its input before any link is opened
  std::function<int()> no_link;   // a subcommand that needs no link (demo)
};

// Makes sub, when chosen, leave fn as the action and prepare as its first step.  prepare
// throws CLI::ValidationError for a usage fault (exit 2) or InputError for a bad file.
inline void on_run(CLI::App* sub, Cli& cli, Action fn, std::function<void()> prepare = {}) {
  sub->callback([&cli, fn = std::move(fn), prepare = std::move(prepare)] {
    cli.action = fn;
    cli.prepare = prepare;
  });
}

// The --format option every list command takes: table, csv or json.
inline CLI::Option* add_format_option(CLI::App* sub, std::string& format) {
  return sub->add_option("--format", format, "table (default), csv or json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
}

void add_clock_commands(CLI::App& parent, Cli& cli);
void add_io_commands(CLI::App& parent, Cli& cli);  // param, aux, relay
void add_user_commands(CLI::App& parent, Cli& cli);
void add_mark_commands(CLI::App& parent, Cli& cli);
void add_template_commands(CLI::App& parent, Cli& cli);
void add_schedule_commands(CLI::App& parent, Cli& cli);
void add_admin_commands(CLI::App& parent, Cli& cli);  // info, reset, block, flush, delete-records
void add_file_commands(CLI::App& parent, Cli& cli);
void add_task_commands(CLI::App& parent, Cli& cli);
void add_display_commands(CLI::App& parent, Cli& cli);
void add_monitor_command(CLI::App& parent, Cli& cli);

// Everything above, in help order.
void add_node_commands(CLI::App& parent, Cli& cli);

// naxctl demo: a narrated session against an embedded simulated node.
int run_demo();

// The whole program: parse, open the link, run, report.  Returns the exit status.
int run_naxctl(int argc, char** argv);

// Reads a whole file ("-" is standard input); throws InputError.
std::string read_file(const std::string& path);
// Writes a whole file ("-" is standard output); throws InputError.
void write_file(const std::string& path, const std::string& data);

}  // namespace naxctl
