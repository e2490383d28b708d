// Configuration faults are refused with the file, the line and the reason.
#include "config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "harness.h"

namespace {

using naxgw::ConfigError;
using naxgw::parse_config;

const char* kNode = "[[node]]\nname = \"door1\"\nconnection = \"192.0.2.10:3001\"\n";

// The example shipped beside the daemon is a good configuration.
TEST(NaxgwConfig, TheShippedExampleReads) {
  EXPECT_NO_THROW(naxgw::load_config(NAXGW_EXAMPLE));
}

TEST(NaxgwConfig, FaultsNameFileLineAndReason) {
  const std::string node = kNode;
  // Text, line, reason.
  // clang-format off
  const std::tuple<std::string, int, std::string> cases[] = {
      {"[mqtt]\nport = \"1883\"\n" + node, 2, "mqtt.port must be an integer"},
      {"[mqtt]\nport = 70000\n" + node, 2, "mqtt.port must lie between 1 and 65535"},
      {"[mqtt]\nhots = \"x\"\n" + node, 2, "unknown key mqtt.hots"},
      {"[mqtt]\nprefix = \"a/#\"\n" + node, 2, "without wildcards"},
      {"[mqtt]\nversion = 3\n" + node, 2, "mqtt.version must lie between 4 and 5"},
      {node + "protocol = 3\n", 4, "node.protocol must lie between 1 and 2"},
      {node + "colour = 1\n", 4, "unknown key node.colour"},
      {"[[node]]\nname = \"door1\"\n", 1, "node door1 needs a connection"},
      {"[[node]]\nname = \"a/b\"\nconnection = \"x:1\"\n", 2, "may hold only letters"},
      {"[[node]]\nname = \"\u00fc\"\nconnection = \"x:1\"\n", 2, "may hold only letters"},
      {"[[node]]\nname = \"" + std::string(65, 'a') + "\"\nconnection = \"x:1\"\n", 2, "name"},
      {node + "\n" + node, 5, "name door1 is used twice"},
      {"[gateway]\nname = \"door1\"\n" + node, 3, "name door1 is used twice"},
      {"[marks]\ndelete_after_store = true\n" + node + "protocol = 1\n", 3, "needs protocol 2"},
      {"[gateway]\nretry_min_ms = 500\nretry_max_ms = 100\n" + node, 3, "below"},
      {"[listener]\nport = 4000\n[[listener.node]]\nname = \"x\"\n", 3, "needs its node number"},
      {"[listener]\nport = 4000\n[[listener.node]]\nname = \"x\"\nnode = 2\n"
       "[[listener.node]]\nname = \"y\"\nnode = 2\n", 6, "number 2 is used twice"},
      {"[listener]\n[[listener.node]]\nname = \"x\"\nnode = 2\n", 1, "listener needs a port"},
      {"[mqtt]\nport = 1883\n", 1, "nothing to serve"},
      {"node = 5\n", 1, "node must be written [[node]]"},
      {"[mqtt\nport = 1\n", 1, ""},
      {"[[node]]\nname = \"d\"\nconnection = \"192.0.2.1:99999\"\n", 3, "port 99999 is not"},
      {"[[node]]\nname = \"d\"\nconnection = \"192.0.2.1\"\n", 3, "HOST:PORT or DEVICE:SPEED"},
      {"[[node]]\nname = \"d\"\nconnection = \"ttyS0:12345\"\n", 3, "not a standard one"},
      {"[[node]]\nname = \"d\"\nconnection = \"h:1:2\"\n", 3, "HOST:PORT"},
      {"[database]\npath = \"a\"\nurl = \"postgresql://h/d\"\n" + node, 1, "exactly one"},
      {"[database]\nurl = \"mysql://h/d\"\n" + node, 2, "postgresql:// URI"},
      {"[commands]\nallow = [\"get_time\", 5]\n" + node, 2, "list of command names"},
      {"[commands]\nallow = [\"open_sesame\"]\n" + node, 2, "unknown command \"open_sesame\""},
  };
  // clang-format on
  const std::vector<std::string> known = {"get_time"};
  for (const auto& [text, line, reason] : cases) {
    try {
      parse_config(text, "bad.toml", &known);
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const ConfigError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("bad.toml:" + std::to_string(line) + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(reason), std::string::npos) << message;
    }
  }
}

// The program itself: its options, and what only the running system shows (files that must
// exist, a usable database folder, a password others may read, a serial device not plugged in).
TEST(NaxgwConfig, TheProgramChecksItsOptionsTheFileAndWhatItNames) {
  naxgw_test::TempDir dir;
  const std::string node = kNode;
  const std::string bad =
      dir.write("bad.toml", "[mqtt]\nport = 1883\n\n[[node]]\nname = \"door1\"\nprotocol = 7\n");
  int files = 0;
  auto check = [&](const std::string& text) {
    const std::string path = dir.write(std::to_string(++files) + ".toml", text);
    ::chmod(path.c_str(), 0644);
    return std::vector<std::string>{"--config", path, "--check"};
  };
  char version[16];
  // Arguments, exit status, a part of the output.
  // clang-format off
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--config", bad}, 2, bad + ":6: node.protocol must lie between 1 and 2, not 7"},
      {{"--config", dir.file("missing.toml")}, 2, "missing.toml:0: cannot be read"},
      {{}, 2, "--config FILE is required"},
      {{"--frobnicate"}, 2, "unknown option --frobnicate"},
      {{"--version"}, 0, std::string("naxgw ") + nax_lib_version(version) + "\n"},
      {check("[mqtt]\nca_file = \"" + dir.write("ca.pem", "x") + "\"\n" + node), 0, ""},
      {check("[[node]]\nname = \"a.b-c_d\"\nconnection = \"192.0.2.1:1\"\n"), 0, ""},
      {check("[mqtt]\nca_file = \"/nonexistent/ca.pem\"\n" + node), 2, "mqtt.ca_file \"/nonexistent/ca.pem\" cannot be read"},
      {check("[database]\npath = \"" + dir.file("no/dir/m.db") + "\"\n" + node), 2, "database.path"},
      {check("[mqtt]\npassword = \"pw\"\n" + node), 0, ":2: holds a password and other users can read"},
      {check("[[node]]\nname = \"s\"\nconnection = \"/dev/ttyNAXGW9:9600\"\n"), 0, "device /dev/ttyNAXGW9 does not exist"},
  };
  // clang-format on
  for (auto [args, status, output] : cases) {
    const std::string log = dir.file("out" + std::to_string(++files));
    args.insert(args.begin(), NAXGW_PATH);
    EXPECT_EQ(naxgw_test::Process(args, log).wait(), status) << args.back();
    EXPECT_NE(naxgw_test::read_file(log).find(output), std::string::npos)
        << naxgw_test::read_file(log);
  }
}

}  // namespace
