// naxctl's top level: global options, the command tree, and how failures are reported.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "commands.h"

namespace naxctl {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// CLI11's message on one line, naming the program.
int usage_error(const std::string& message) {
  std::string line = message;
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::fprintf(stderr, "naxctl: %s (see naxctl --help)\n", line.c_str());
  return kExitUsage;
}

void add_global_options(CLI::App& app, Options& o, CLI::Option*& node) {
  app.add_option("--conn", o.conn,
                 "Connection string: host:port, \"a.b.c.d port\", ttyS0:9600, /dev/pts/3:115200");
  app.add_option("--protocol", o.protocol, "Packet protocol of the node: 1 or 2")
      ->check(CLI::IsMember({1, 2}))
      ->capture_default_str();
  add_number(&app, "--source", o.source, "Our node number on the link (default 0x0100)");
  node = add_number(&app, "--node", o.node, "Node addressed (default 1)");
  add_number(&app, "--timeout", o.timeout_ms, "Receive and connect time-out in ms")
      ->capture_default_str();
  app.add_flag("--json", o.json, "Machine-readable output (JSON)");
  app.add_option("--log", o.log_path, "Write the library's log to this file");
  app.add_option("--log-level", o.log_level, "Log level 1-6 (default 3 when --log is given)")
      ->check(CLI::Range(0, 6));
}

}  // namespace

std::string read_file(const std::string& path) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": " + std::strerror(errno));
  std::ostringstream data;
  data << in.rdbuf();
  if (in.bad()) throw InputError(path + ": read failed");
  return data.str();
}

void write_file(const std::string& path, const std::string& data) {
  if (path == "-") {
    std::fwrite(data.data(), 1, data.size(), stdout);
    std::fflush(stdout);
    return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw InputError(path + ": " + std::strerror(errno));
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) throw InputError(path + ": write failed");
}

void add_node_commands(CLI::App& parent, Cli& cli) {
  add_clock_commands(parent, cli);
  add_io_commands(parent, cli);
  add_user_commands(parent, cli);
  add_mark_commands(parent, cli);
  add_template_commands(parent, cli);
  add_schedule_commands(parent, cli);
  add_admin_commands(parent, cli);
  add_file_commands(parent, cli);
  add_task_commands(parent, cli);
  add_display_commands(parent, cli);
  add_monitor_command(parent, cli);
}

int run_naxctl(int argc, char** argv) {
  Cli cli;
  Options& o = cli.options;
  CLI::App app{
      "naxctl: operate access-control and time-and-attendance nodes.\n"
      "Numbers may be decimal or 0x-prefixed hexadecimal.  Global options may also follow the "
      "subcommand.",
      "naxctl"};
  app.fallthrough();
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Print the help of every subcommand");
  char version[16];
  app.set_version_flag("--version", std::string("naxctl ") + nax_lib_version(version));
  app.footer(
      "Exit status: 0 success, 1 a node or link failure (or an unreadable input file), "
      "2 a usage error.");
  CLI::Option* node = nullptr;
  add_global_options(app, o, node);

  add_node_commands(app, cli);

  auto* listen = app.add_subcommand(
      "listen", "Wait for a node to connect in on PORT, claim it, then run the subcommand on it");
  add_number(listen, "port", o.listen_port, "TCP port to listen on")
      ->required()
      ->check(CLI::Range(1, 65535));
  add_number(listen, "--accept-timeout", o.accept_timeout_ms, "How long to wait for a node, in ms")
      ->capture_default_str();
  add_number(listen, "--expect-node", o.expect_node,
             "Claim only the node reporting this number (default: any)");
  listen->require_subcommand(1);
  add_node_commands(*listen, cli);

  auto* demo = app.add_subcommand(
      "demo", "Walk through a session with a simulated node built into naxctl; needs no node");
  demo->callback([&cli] { cli.no_link = [] { return run_demo(); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::RequiredError& e) {
    // A word that names no subcommand surfaces as "a subcommand is required"; say which.
    const auto extra = app.remaining(true);
    if (!extra.empty()) return usage_error("'" + extra.front() + "' is not a command here");
    return usage_error(e.what());
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }
  o.node_given = node->count() > 0;
  o.listen = listen->parsed();

  try {
    if (cli.no_link) return cli.no_link();
    if (!cli.action) return usage_error("no command given");
    if (!o.listen && o.conn.empty()) {
      return usage_error("--conn is required (or wait for a node with: naxctl listen PORT ...)");
    }
    if (cli.prepare) cli.prepare();
    Session session(o);
    session.open();
    cli.action(session);
    session.close();
    return 0;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  } catch (const UsageError& e) {
    return usage_error(e.what());
  } catch (const NaxError& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
  } catch (const InputError& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
  }
  return kExitFailure;
}

}  // namespace naxctl
