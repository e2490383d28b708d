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
      {"[marks]\ninterval_s = 0\n" + node, 2, "marks.interval_s must lie between"},
      {node + "node = 70000\n", 4, "node.node must lie between 0 and 65535"},
      {node + "protocol = 3\n", 4, "node.protocol must lie between 1 and 2"},
      {node + "colour = 1\n", 4, "unknown key node.colour"},
      {"[[node]]\nname = \"door1\"\n", 1, "node door1 needs a connection"},
      {"[[node]]\nname = \"a/b\"\nconnection = \"x:1\"\n", 2, "may hold only letters"},
      {"[[node]]\nname = \"a+\"\nconnection = \"x:1\"\n", 2, "may hold only letters"},
      {"[[node]]\nname = \"a b\"\nconnection = \"x:1\"\n", 2, "may hold only letters"},
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
      {"[mqtt]\nport = 1\nport = 2\n" + node, 3, ""},
      {std::string("[mqtt]\nhost = \"a\0b\"\n", 20) + node, 2, ""},
      {"[mqtt]\nmax_queued = 0\n" + node, 2, "mqtt.max_queued must lie between 1"},
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

// What only the running system shows: files that must exist, a usable database folder, a
// password others may read, a serial device not plugged in.
TEST(NaxgwConfig, EnvironmentIsCheckedBeyondTheText) {
  naxgw_test::TempDir dir;
  const std::string ca = dir.write("ca.pem", "x");
  const std::string node = kNode;
  // Text, a part of the fault ("" when accepted), a part of the warnings.
  // clang-format off
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"[mqtt]\nca_file = \"" + ca + "\"\n" + node, "", ""},
      {"[[node]]\nname = \"a.b-c_d\"\nconnection = \"192.0.2.1:1\"\n", "", ""},
      {"[mqtt]\nca_file = \"" + dir.file("none.pem") + "\"\n" + node, "mqtt.ca_file", ""},
      {"[database]\npath = \"" + dir.file("no/dir/m.db") + "\"\n" + node, "database.path", ""},
      {"[mqtt]\npassword = \"pw\"\n" + node, "", ":2: holds a password and other users can read"},
      {"[[node]]\nname = \"s\"\nconnection = \"/dev/ttyNAXGW9:9600\"\n", "",
       "device /dev/ttyNAXGW9 does not exist"},
  };
  // clang-format on
  for (const auto& [text, fault, warning] : cases) {
    const std::string path = dir.write("gw.toml", text);
    ::chmod(path.c_str(), 0644);
    try {
      std::string all;
      for (const std::string& w : naxgw::check_environment(naxgw::load_config(path))) all += w;
      EXPECT_EQ(fault, "") << "accepted: " << text;
      EXPECT_NE(all.find(warning), std::string::npos) << all;
    } catch (const ConfigError& e) {
      EXPECT_NE(fault, "") << e.what();
      EXPECT_NE(std::string(e.what()).find(fault), std::string::npos) << e.what();
    }
  }
}

}  // namespace
