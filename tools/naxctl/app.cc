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

// Help in words: each value is named (NUMBER, TEXT, a choice like 1|2) instead of the
// parser's type strings, and a subcommand's help ends with the global options, which
// may follow the subcommand as well.
class HelpInWords : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* opt) const override {
    if (!opt->get_option_text().empty()) return " " + opt->get_option_text();
    if (opt->get_expected_max() == 0 || opt->get_type_name().empty()) return "";  // a flag
    std::string out = " " + value_word(opt->get_type_name());
    if (!opt->get_default_str().empty()) out += " (default " + opt->get_default_str() + ")";
    if (opt->get_required() && !opt->get_positional()) out += " (required)";
    return out;
  }

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string out = CLI::Formatter::make_help(app, name, mode);
    if (mode == CLI::AppFormatMode::Sub || app->get_parent() == nullptr) return out;
    const CLI::App* root = app;
    while (root->get_parent() != nullptr) root = root->get_parent();
    const auto globals = root->get_options([root](const CLI::Option* opt) {
      return opt->nonpositional() && opt != root->get_help_ptr() &&
             opt != root->get_help_all_ptr() && opt != root->get_version_ptr();
    });
    return out + make_group("Global options (before or after the subcommand)", false, globals);
  }

 private:
  // "INT:{1,2}" -> "1|2", "UINT:NUMBER 0..65535:INT in [1 - 512]" -> "NUMBER".
  static std::string value_word(const std::string& type) {
    const std::size_t open = type.find('{');
    const std::size_t close = type.find('}', open);
    if (open != std::string::npos && close != std::string::npos) {
      std::string choices = type.substr(open + 1, close - open - 1);
      for (char& c : choices) {
        if (c == ',') c = '|';
      }
      return choices;
    }
    if (type.find("DATE-TIME") != std::string::npos) return "DATE-TIME";
    const std::string base = type.substr(0, type.find(':'));
    if (base == "INT" || base == "UINT" || base == "FLOAT" || base == "NUMBER") return "NUMBER";
    return base == "TEXT" ? "TEXT" : "VALUE";
  }
};

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
  if (path == "-") return write_stdout(data);
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) throw OutputError(path + ": " + std::strerror(errno));
  errno = 0;
  const bool written = std::fwrite(data.data(), 1, data.size(), out) == data.size();
  const int write_errno = errno;
  // The close flushes, so a full disk may show only there.
  if (std::fclose(out) != 0 || !written) {
    const int reason = write_errno != 0 ? write_errno : errno;
    throw OutputError(path + ": " + (reason != 0 ? std::strerror(reason) : "write failed"));
  }
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
  app.formatter(std::make_shared<HelpInWords>());
  app.fallthrough();
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", "Print the help of every subcommand");
  char version[16];
  app.set_version_flag("--version", std::string("naxctl ") + nax_lib_version(version));
  app.footer(
      "Exit status: 0 success, 1 a node or link failure (or a file or output that could not "
      "be read or written), 2 a usage error, 130 stopped by Ctrl-C.");
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
    if (cli.no_link) {
      const int status = cli.no_link();
      check_stdout();  // the demo prints as it goes
      return status;
    }
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
  } catch (const Interrupted& e) {
    return e.exit_status();
  } catch (const NaxError& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
    if (e.status() == NAX_ERR_NO_ANSWER) {
      std::fprintf(stderr,
                   "naxctl: hint: check the node number (--node, now %u), the packet protocol "
                   "(--protocol, now %d) and the time-out (--timeout, now %u ms)\n",
                   static_cast<unsigned>(o.node), o.protocol, static_cast<unsigned>(o.timeout_ms));
    }
  } catch (const InputError& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "naxctl: %s\n", e.what());
  }
  return kExitFailure;
}

}  // namespace naxctl
