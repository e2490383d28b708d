// The naxctl program end to end: each subcommand run as its own process against a
// simulated node in this process, its output, its exit status and its time bound.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "handlers_admin.h"
#include "handlers_answers.h"
#include "handlers_aux.h"
#include "handlers_files.h"
#include "handlers_marks.h"
#include "handlers_params.h"
#include "handlers_schedules.h"
#include "handlers_tasks.h"
#include "handlers_templates.h"
#include "handlers_users.h"
#include "json.h"
#include "naxctl/naxctl_process.h"
#include "naxsim.h"
#include "records.h"

namespace {

using naxctl::Json;
using naxctl_test::lines_of;
using naxctl_test::Process;
using naxctl_test::Result;
using ::testing::HasSubstr;

constexpr uint16_t kNode = 7;

// Success: status 0, nothing on stderr (no progress bar when it is not a terminal).
void expect_ok(const Result& r) {
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Failure: the given status, one line on stderr naming the fault, nothing on stdout.
void expect_failure(const Result& r, int code, const std::string& message) {
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, code);
  EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("naxctl: ", 0), 0u) << r.err;
  EXPECT_THAT(r.err, HasSubstr(message));
  EXPECT_EQ(r.out, "");
}

Json json_of(const Result& r) {
  try {
    return Json::parse(r.out);
  } catch (const std::exception& e) {
    ADD_FAILURE() << e.what() << " in: " << r.out;
    return Json();
  }
}

uint64_t number(const Json* j) {
  return j ? std::stoull(j->text()) : ~0ull;
}

class NaxctlCli : public ::testing::Test {
 protected:
  void SetUp() override {
    naxsim::Config config;
    config.node = kNode;
    sim_ = std::make_unique<naxsim::Simulator>(config);
    ASSERT_TRUE(sim_->start());
    dir_ = std::filesystem::temp_directory_path() /
           ("naxctl_test_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    sim_->stop();
    std::filesystem::remove_all(dir_);
  }

  std::vector<std::string> linked(const std::vector<std::string>& args, int protocol = 2) {
    std::vector<std::string> all = {
        "--conn",     sim_->conn_string(),     "--node", "7", "--timeout", "3000",
        "--protocol", std::to_string(protocol)};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  Result ctl(const std::vector<std::string>& args, int protocol = 2) {
    return naxctl_test::run(linked(args, protocol));
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string write(const std::string& name, const std::string& data) const {
    std::ofstream(path(name), std::ios::binary) << data;
    return path(name);
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  naxsim::Node& node() { return sim_->node(); }

  std::unique_ptr<naxsim::Simulator> sim_;
  std::filesystem::path dir_;
};

// ---- arguments and help ----

TEST(NaxctlArgs, HelpListsEveryFamilyAndEverySubcommandHasHelp) {
  const Result top = naxctl_test::run({"--help"});
  expect_ok(top);
  for (const char* family : {"clock", "param", "aux", "relay", "users", "marks", "template",
                             "schedule", "info", "reset", "block", "flush", "delete-records",
                             "file", "task", "display", "monitor", "listen", "demo"}) {
    EXPECT_THAT(top.out, HasSubstr(std::string("\n  ") + family + " ")) << family;
  }
  const std::vector<std::vector<std::string>> paths = {
      {"clock", "set"},      {"param", "set"},
      {"aux", "set"},        {"users", "import"},
      {"users", "delete"},   {"marks"},
      {"template", "write"}, {"schedule", "segments", "set"},
      {"schedule", "list"},  {"file", "put"},
      {"task", "item"},      {"display"},
      {"monitor"},           {"listen", "12", "users", "list"}};
  for (auto args : paths) {
    args.push_back("--help");
    const Result r = naxctl_test::run(args);
    expect_ok(r);
    EXPECT_THAT(r.out, HasSubstr("Usage: naxctl")) << args[0];
  }
}

TEST(NaxctlArgs, BadArgumentsGiveOneLineAndStatusTwoWithoutContactingAnyNode) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, "A subcommand is required"},
      {{"bogus"}, "'bogus' is not a command here"},
      {{"--conn", "h:1", "clock"}, "A subcommand is required"},
      {{"--conn", "h:1", "--node", "abc", "clock", "get"}, "--node: 'abc' is not a number"},
      {{"--conn", "h:1", "--node", "70000", "clock", "get"}, "in 0..65535"},
      {{"--conn", "h:1", "--protocol", "3", "clock", "get"}, "--protocol"},
      {{"--conn", "h:1", "clock", "set", "2024-13-01 00:00:00"}, "is not \"YYYY-MM-DD hh:mm:ss\""},
      {{"--conn", "h:1", "param", "get", "4", "1"}, "size: 4 not in {1,2}"},
      {{"--conn", "h:1", "param", "set", "2", "1"}, "value is required"},
      {{"--conn", "h:1", "users", "add", "--psw", "1"}, "give --id"},
      {{"--conn", "h:1", "users", "delete"}, "give --id (one or more) or --file"},
      {{"--conn", "h:1", "users", "add", "--id", "1", "--file", "x"}, "excludes"},
      {{"--conn", "h:1", "schedule", "segments", "set", "1", "25:00"}, "is not HH:MM"},
      {{"--conn", "h:1", "display", "1", "1", std::string(50, 'x')}, "at most 49"},
      {{"clock", "get"}, "--conn is required"},
      {{"listen", "0", "clock", "get"}, "port"},
      {{"listen", "4000"}, "A subcommand is required"},
      {{"listen", "70000", "clock", "get"}, "port"},
      // Connection strings are checked before the library sees them.
      {{"--conn", "h:70000", "clock", "get"}, "port 70000 is not 1 to 65535"},
      {{"--conn", "h:0", "clock", "get"}, "port 0 is not 1 to 65535"},
      {{"--conn", "h:99999999999", "clock", "get"}, "port 99999999999 is not 1 to 65535"},
      {{"--conn", "h:30x", "clock", "get"}, "port \"30x\" is not a number"},
      {{"--conn", "ttyS0:fast", "clock", "get"}, "baud rate \"fast\" is not a number"},
      {{"--conn", "nocolon", "clock", "get"}, "\"nocolon\" is not DEVICE:PARAMETER"},
      {{"--conn", ":3001", "clock", "get"}, "is not DEVICE:PARAMETER"},
  };
  for (const auto& c : cases) {
    const Result r = naxctl_test::run(c.args, 5000);
    expect_failure(r, 2, c.message);
  }
}

TEST(NaxctlArgs, UnreadableInputFilesFailBeforeTheNodeIsContacted) {
  const Result r = naxctl_test::run(
      {"--conn", "no-such-host.invalid:1", "users", "import", "/nonexistent/users.csv"});
  expect_failure(r, 1, "/nonexistent/users.csv: No such file or directory");
}

TEST(NaxctlArgs, VersionOfBothTools) {
  std::vector<std::string> programs = {NAXCTL_PATH};
#ifdef NAXSIM_PATH  // the simulator program is built where the system has what it needs
  programs.push_back(NAXSIM_PATH);
#endif
  char version[16];
  nax_lib_version(version);
  for (const std::string& program : programs) {
    const std::string name = std::filesystem::path(program).filename().string();
    const Result r = naxctl_test::run_program(program, {"--version"}, 5000);
    EXPECT_EQ(r.exit_code, 0) << name;
    EXPECT_EQ(r.out, name + " " + version + "\n");
    EXPECT_EQ(r.err, "");
  }
}

// ---- reaching the node ----

TEST(NaxctlLink, SerialOpenFailureNamesTheDeviceAndTheSystemsReason) {
  struct Case {
    std::string conn;
    std::string message;
  };
  const std::string dir = std::filesystem::temp_directory_path() / "naxctl-no-such-dir";
  const std::vector<Case> cases = {
      {dir + "/ttyX:9600", "(device " + dir + "/ttyX: No such file or directory)"},
      {"TTYnaxctl9:19200", "(device /dev/ttynaxctl9: No such file or directory)"},
      // A file that is no terminal opens but cannot be configured.
      {"/dev/null:9600", "(device /dev/null: Inappropriate ioctl for device)"},
  };
  for (const auto& c : cases) {
    const Result r = naxctl_test::run({"--conn", c.conn, "clock", "get"}, 10000);
    expect_failure(r, 1, "nax_open: 100");
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.conn;
  }
}

TEST(NaxctlLink, RefusedConnectionNamesTheStatus) {
  // A port that was free a moment ago: nothing listens there.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  close(probe);
  const std::string conn = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
  const Result r = naxctl_test::run({"--conn", conn, "--timeout", "1000", "clock", "get"}, 10000);
  expect_failure(r, 1, "nax_open: 1013 connection refused or failed");
}

TEST_F(NaxctlCli, SilentNodeEndsWithTheReceiveTimeOutStatus) {
  naxsim::Faults faults;
  faults.no_answer = true;
  sim_->set_faults(faults);
  const std::vector<std::string> args = {
      "--conn", sim_->conn_string(), "--node", "7", "--timeout", "300", "clock", "get"};
  const Result r = naxctl_test::run(args, 10000);
  EXPECT_EQ(r.err, "naxctl: nax_get_time: 1026 no answer within the link's receive time-out\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_LT(r.elapsed_ms, 8000);
}

TEST_F(NaxctlCli, NodeRefusalPassesTheNodesStatusOn) {
  naxsim::Faults faults;
  faults.refuse_status = 9;
  sim_->set_faults(faults);
  expect_failure(ctl({"clock", "get"}), 1, "nax_get_time: 9 ");
}

// ---- clock ----

TEST_F(NaxctlCli, ClockGetSetAndSync) {
  const auto when = naxctl::parse_date_time("2031-05-06 07:08:09");
  ASSERT_TRUE(node().set_time(*when));
  Result r = ctl({"clock", "get", "--json"});
  expect_ok(r);
  const Json got = json_of(r);
  EXPECT_THAT(got.find("time")->text(), HasSubstr("2031-05-06 07:08:"));

  r = ctl({"clock", "set", "2030-01-02 03:04:05"});
  expect_ok(r);
  EXPECT_EQ(r.out, "clock set to 2030-01-02 03:04:05  weekday 3\n");
  const nax_date_time t = node().time();
  EXPECT_EQ(t.year, 30);
  EXPECT_EQ(t.month, 1);
  EXPECT_EQ(t.day, 2);
  EXPECT_EQ(t.hour, 3);

  expect_ok(ctl({"clock", "sync"}));
  EXPECT_LT(std::llabs(node().clock_offset_s()), 5);
}

// ---- parameters, aux inputs, relays ----

TEST_F(NaxctlCli, ParamSetThenGetInHexAndNegative) {
  expect_ok(ctl({"param", "set", "2", "0x12C", "42"}));
  Result r = ctl({"param", "get", "2", "300"});
  expect_ok(r);
  EXPECT_EQ(r.out, "param 300 = 42 (0x0000002a)\n");
  expect_ok(ctl({"param", "set", "4", "7", "-5"}));
  const uint32_t stored =
      node().with_state<naxsim::Params>([](naxsim::Params& p) { return p.values[7]; });
  EXPECT_EQ(stored, 0xFFFFFFFBu);
  expect_failure(ctl({"param", "get", "2", "5000"}), 1, "nax_get_num_cfg: 3 ");
}

TEST_F(NaxctlCli, AuxSetChangesOnlyTheFieldsGiven) {
  expect_ok(ctl({"aux", "set", "3", "--ev-host", "2", "--schedule-id", "0x102"}));
  expect_ok(ctl({"aux", "set", "3", "--time-on", "5", "--extra", "0102030405060708"}));
  const Result r = ctl({"aux", "get", "3", "--json"});
  expect_ok(r);
  const Json j = json_of(r);
  EXPECT_EQ(number(j.find("ev_host")), 2u);
  EXPECT_EQ(number(j.find("schedule_id")), 0x102u);
  EXPECT_EQ(number(j.find("time_on")), 5u);
  EXPECT_EQ(j.find("extra")->text(), "0102030405060708");
  // --no-read starts from zeros.
  expect_ok(ctl({"aux", "set", "3", "--no-read", "--time-off", "1"}));
  EXPECT_EQ(number(json_of(ctl({"aux", "get", "3", "--json"})).find("ev_host")), 0u);
}

TEST_F(NaxctlCli, AuxStateListsActiveInputsAndRelayIsDriven) {
  node().with_state<naxsim::AuxPorts>([](naxsim::AuxPorts& a) { return a.input_state = 0x0A; });
  const Result r = ctl({"aux", "state"});
  expect_ok(r);
  EXPECT_EQ(r.out, "state   0x0000000a\nactive  1 3\n");
  expect_ok(ctl({"relay", "2", "9"}));
  EXPECT_EQ(node().with_state<naxsim::AuxPorts>([](naxsim::AuxPorts& a) { return a.relays[2]; }),
            9);
  expect_failure(ctl({"aux", "state"}, 1), 1, "nax_state_aux_input: 1038");
}

// ---- users ----

std::string users_csv(int first, int count) {
  std::string doc = "id,psw,text1\n";
  for (int i = first; i < first + count; ++i) {
    doc += std::to_string(i) + "," + std::to_string(1000 + i) + ",User " + std::to_string(i) + "\n";
  }
  return doc;
}

TEST_F(NaxctlCli, UsersAddFromFlagsAndFileThenList) {
  expect_ok(ctl({"users", "add", "--id", "10", "--psw", "1234", "--text1", "Ana Ruiz"}));
  const std::string file = write("u.json", R"([{"id": 11, "sec_level": 2, "text1": "Bo, Jr"}])");
  Result r = ctl({"users", "add", "--file", file});
  expect_ok(r);
  EXPECT_EQ(r.out, "1 user added\n");
  r = ctl({"users", "list"});
  expect_ok(r);
  const auto rows = lines_of(r.out);
  ASSERT_EQ(rows.size(), 4u) << r.out;
  EXPECT_THAT(rows[0], HasSubstr("id  psw   sec_level  text1"));
  EXPECT_THAT(rows[1], HasSubstr("10  1234  -          Ana Ruiz"));
  EXPECT_THAT(rows[2], HasSubstr("11  -     2          Bo, Jr"));
  EXPECT_EQ(rows[3], "2 users");
  // Adding an id the node has is the node's refusal, with the user named.
  expect_failure(ctl({"users", "add", "--id", "10"}), 1,
                 "nax_add_user: 5 the user already exists (user 10; 0 of 1 user added)");
}

TEST_F(NaxctlCli, UsersListPagesUntilTheNodeHasNoMore) {
  expect_ok(ctl({"users", "add", "--file", write("u.csv", users_csv(100, 30))}));
  const uint64_t before = sim_->requests_received();
  const Result r = ctl({"users", "list", "--page", "4", "--json"});
  expect_ok(r);
  const Json j = json_of(r);
  ASSERT_EQ(j.items().size(), 30u);
  for (size_t i = 0; i < 30; ++i) EXPECT_EQ(number(j.items()[i].find("id")), 100 + i);
  EXPECT_EQ(sim_->requests_received() - before, 8u);  // 7 full pages, the 8th says "no more"
}

TEST_F(NaxctlCli, UsersExportThenImportIntoAnotherNode) {
  expect_ok(ctl({"users", "add", "--file", write("u.csv", users_csv(1, 3))}));
  const Result exported = ctl({"users", "export", "--out", path("export.csv")});
  expect_ok(exported);
  EXPECT_EQ(
      read("export.csv"),
      "id,psw,st,ctl,panic,bio_count,bio_level,sec_level,text1,text2,schedule_id,"
      "anti_passback\n1,1001,,,,,,,User 1,,,\n2,1002,,,,,,,User 2,,,\n3,1003,,,,,,,User 3,,,\n");
  sim_->stop();
  naxsim::Config config;
  config.node = kNode;
  sim_ = std::make_unique<naxsim::Simulator>(config);
  ASSERT_TRUE(sim_->start());
  expect_ok(ctl({"users", "add", "--id", "2", "--text1", "Old"}));
  const Result r = ctl({"users", "import", path("export.csv")});
  expect_ok(r);
  EXPECT_EQ(r.out, "2 users added, 1 replaced\n");
  const Result json = ctl({"users", "export", "--format", "json"});
  expect_ok(json);
  const Json j = json_of(json);
  ASSERT_EQ(j.items().size(), 3u);
  EXPECT_EQ(j.items()[1].find("text1")->text(), "User 2");
}

TEST_F(NaxctlCli, UsersEditAndDelete) {
  expect_ok(ctl({"users", "add", "--file", write("u.csv", users_csv(1, 4))}));
  expect_ok(ctl({"users", "edit", "--id", "3", "--st", "4"}));
  const Result del = ctl({"users", "delete", "--id", "1", "--id", "0x2"});
  expect_ok(del);
  EXPECT_EQ(del.out, "2 users deleted\n");
  const Json j = json_of(ctl({"users", "list", "--json"}));
  ASSERT_EQ(j.items().size(), 2u);
  EXPECT_EQ(number(j.items()[0].find("id")), 3u);
  EXPECT_EQ(number(j.items()[0].find("st")), 4u);
  expect_failure(ctl({"users", "edit", "--id", "3", "--st", "1"}, 1), 1, "nax_edit_user: 1038");
}

TEST_F(NaxctlCli, ProtocolOneUsersOneAtATime) {
  const Result added = ctl({"users", "add", "--file", write("u.csv", users_csv(20, 3))}, 1);
  expect_ok(added);
  EXPECT_EQ(added.out, "3 users added\n");
  const Json j = json_of(ctl({"users", "list", "--json"}, 1));
  ASSERT_EQ(j.items().size(), 3u);
  EXPECT_EQ(number(j.items()[2].find("id")), 22u);
  EXPECT_EQ(number(j.items()[2].find("psw")), 1022u);
  expect_ok(ctl({"users", "delete", "--id", "21"}, 1));
  EXPECT_EQ(json_of(ctl({"users", "list", "--json"}, 1)).items().size(), 2u);
  // An empty node answers the very first request with "no records" (status 7).
  expect_ok(ctl({"users", "delete", "--id", "20", "--id", "22"}, 1));
  const Result empty = ctl({"users", "list"}, 1);
  expect_ok(empty);
  EXPECT_THAT(empty.out, HasSubstr("0 users"));
}

// ---- marks ----

void add_marks(naxsim::Node& node, int count) {
  node.with_state<naxsim::MarkLog>([&](naxsim::MarkLog& log) {
    for (int i = 0; i < count; ++i) {
      naxsim::MarkEntry m;
      m.id = 500 + static_cast<uint32_t>(i);
      m.time = {8, static_cast<uint8_t>(i % 60), 0, 24, 3, 15, 5};
      m.event = 1;
      m.direction_word = static_cast<uint16_t>(i % 2);
      log.marks.push_back(m);
    }
    return 0;
  });
}

TEST_F(NaxctlCli, MarksDownloadsEveryPage) {
  add_marks(node(), 23);
  const Result r = ctl({"marks", "--format", "json", "--page", "5"});
  expect_ok(r);
  const Json j = json_of(r);
  ASSERT_EQ(j.items().size(), 23u);
  for (size_t i = 0; i < 23; ++i) EXPECT_EQ(number(j.items()[i].find("id")), 500 + i);
  EXPECT_EQ(j.items()[4].find("time")->text(), "2024-03-15 08:04:00");
}

TEST_F(NaxctlCli, MarksOverProtocolOneAsCsvAndTable) {
  Result r = ctl({"marks"}, 1);
  expect_ok(r);
  EXPECT_THAT(r.out, HasSubstr("0 marks"));
  add_marks(node(), 4);
  r = ctl({"marks", "--format", "csv"}, 1);
  expect_ok(r);
  const auto rows = lines_of(r.out);
  ASSERT_EQ(rows.size(), 5u) << r.out;
  EXPECT_EQ(rows[0], "time,id,event,direction,index,kind,value,flag,code");
  EXPECT_EQ(rows[4], "2024-03-15 08:03:00,503,1,1,0,,,,");
  r = ctl({"marks", "--out", path("marks.txt")}, 1);
  expect_ok(r);
  EXPECT_THAT(read("marks.txt"), HasSubstr("4 marks"));
}

TEST_F(NaxctlCli, EveryListCommandTakesTableCsvAndJson) {
  expect_ok(ctl({"users", "add", "--id", "10", "--text1", "Ana"}));
  expect_ok(ctl({"users", "add", "--id", "11", "--text1", "Bo"}));
  expect_ok(ctl({"schedule", "set", "3", "--name", "Day"}));
  expect_ok(ctl({"schedule", "segments", "set", "3", "08:00", "17:30"}));
  add_marks(node(), 2);
  struct Case {
    std::vector<std::string> command;
    size_t rows;             // records listed
    std::string csv_header;  // first csv line
    std::string table_text;  // in the table, not in csv
  };
  // clang-format off
  const std::vector<Case> cases = {
      {{"users", "list"}, 2, "id,psw", "2 users"},
      {{"marks"}, 2, "time,id,event", "2 marks"},
      {{"schedule", "list"}, 1, "id,name", "1 schedule"},
      {{"schedule", "segments", "get", "3", "--count", "2"}, 2, "index,time,enabled", "index  time"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const std::string name = c.command.front();
    auto with = [&](const std::string& format) {
      std::vector<std::string> args = c.command;
      args.insert(args.end(), {"--format", format});
      const Result r = ctl(args);
      expect_ok(r);
      return r.out;
    };
    const std::string csv = with("csv");
    const auto lines = lines_of(csv);
    ASSERT_EQ(lines.size(), c.rows + 1) << name << "\n" << csv;
    EXPECT_EQ(lines[0].rfind(c.csv_header, 0), 0u) << lines[0];
    EXPECT_EQ(csv.find(c.table_text), std::string::npos) << csv;
    const Json json = Json::parse(with("json"));
    EXPECT_EQ(json.items().size(), c.rows) << name;
    EXPECT_THAT(with("table"), HasSubstr(c.table_text)) << name;
  }
  const Result bad = ctl({"users", "list", "--format", "xml"});
  expect_failure(bad, 2, "--format");
}

// ---- templates ----

TEST_F(NaxctlCli, TemplateWriteReadDeleteFlush) {
  std::string data(300, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  expect_ok(ctl({"template", "write", "1", "1001", "0", write("t.bin", data)}));
  expect_ok(ctl({"template", "read", "1", "1001", "0", "--out", path("back.bin")}));
  const std::string back = read("back.bin");
  ASSERT_EQ(back.size(), 384u);
  EXPECT_EQ(back.substr(0, 300), data);
  const Result hex = ctl({"template", "read", "1", "1001", "0"});
  expect_ok(hex);
  EXPECT_EQ(lines_of(hex.out).size(), 12u);  // 768 hex digits, 64 a line
  expect_ok(ctl({"template", "delete", "1", "1001", "0"}));
  expect_failure(ctl({"template", "read", "1", "1001", "0"}), 1, "nax_read_template: 10 ");
  expect_ok(ctl({"template", "flush", "1"}));
  expect_failure(ctl({"template", "write", "1", "1", "0", write("big.bin", std::string(385, 'x'))}),
                 1, "385 bytes; a template holds at most 384");
}

// ---- schedules ----

TEST_F(NaxctlCli, ScheduleHeaderAndSegments) {
  expect_ok(ctl({"schedule", "set", "5", "--name", "Day shift", "--hours", "8", "--date",
                 "2025-01-01 08:00:00"}));
  expect_ok(ctl({"schedule", "set", "5", "--segments", "4"}));  // keeps name and hours
  Result r = ctl({"schedule", "get", "5", "--json"});
  expect_ok(r);
  Json j = json_of(r);
  EXPECT_EQ(j.find("name")->text(), "Day shift");
  EXPECT_EQ(number(j.find("hours")), 8u);
  EXPECT_EQ(number(j.find("segments")), 4u);
  EXPECT_EQ(j.find("time")->text(), "2025-01-01 08:00:00");

  expect_ok(ctl({"schedule", "segments", "set", "5", "08:00", "12:00/0", "13:00", "17:30/1"}));
  r = ctl({"schedule", "segments", "get", "5", "--first", "1"});
  expect_ok(r);
  EXPECT_EQ(r.out,
            "index  time   enabled\n1      12:00  no\n2      13:00  yes\n3      17:30  yes\n");
  expect_ok(ctl({"schedule", "delete", "5"}));
  expect_failure(ctl({"schedule", "get", "5"}), 1, "nax_get_schd_header: 4 ");
}

TEST_F(NaxctlCli, ScheduleListFollowsTheStartIdToTheLastPage) {
  node().with_state<naxsim::Schedules>([](naxsim::Schedules& s) {
    for (uint16_t id = 1; id <= 40; ++id) s.table[id * 3].name = "S" + std::to_string(id * 3);
    return 0;
  });
  for (int protocol : {1, 2}) {
    const Result r = ctl({"schedule", "list", "--page", "6", "--json"}, protocol);
    expect_ok(r);
    const Json j = json_of(r);
    ASSERT_EQ(j.items().size(), 40u) << protocol;
    EXPECT_EQ(number(j.items()[39].find("id")), 120u);
    EXPECT_EQ(j.items()[39].find("name")->text(), "S120");
  }
}

// ---- the node as a whole ----

TEST_F(NaxctlCli, InfoResetBlockFlushDeleteRecords) {
  Result r = ctl({"info", "model"});
  expect_ok(r);
  EXPECT_EQ(r.out, std::string(naxsim::kInfoModel) + "\n");
  expect_ok(ctl({"reset", "1", "-1"}));
  expect_ok(ctl({"block", "3"}));
  const auto admin = node().with_state<naxsim::Admin>([](naxsim::Admin& a) { return a; });
  ASSERT_EQ(admin.resets.size(), 1u);
  EXPECT_EQ(admin.resets[0], std::make_pair(1, -1));
  EXPECT_EQ(admin.blocks, std::vector<uint8_t>{3});
  add_marks(node(), 5);
  r = ctl({"delete-records", "1", "2", "--json"});
  expect_ok(r);
  EXPECT_EQ(number(json_of(r).find("deleted")), 2u);
  expect_ok(ctl({"flush", "1"}));
  EXPECT_EQ(node().with_state<naxsim::MarkLog>([](naxsim::MarkLog& l) { return l.marks.size(); }),
            0u);
  expect_failure(ctl({"info", "no such query"}), 1, "nax_get_info: 3 ");
}

// ---- files ----

TEST_F(NaxctlCli, FilePutGetDelete) {
  std::string data;
  for (int i = 0; data.size() < 1300; ++i) data += "line " + std::to_string(i) + "\n";
  Result r = ctl({"file", "put", write("local.txt", data), "remote.txt", "--json"});
  expect_ok(r);
  EXPECT_EQ(number(json_of(r).find("size")), data.size());
  EXPECT_EQ(
      node().with_state<naxsim::Files>([](naxsim::Files& f) { return f.store["remote.txt"]; }),
      std::vector<uint8_t>(data.begin(), data.end()));
  expect_ok(ctl({"file", "get", "remote.txt", path("back.txt")}));
  EXPECT_EQ(read("back.txt"), data);
  r = ctl({"file", "get", "remote.txt", "-"});
  expect_ok(r);
  EXPECT_EQ(r.out, data);
  expect_ok(ctl({"file", "delete", "remote.txt"}));
  expect_failure(ctl({"file", "get", "remote.txt", path("gone.txt")}), 1, "nax_fopen: 5 ");
  EXPECT_FALSE(std::filesystem::exists(path("gone.txt")));
  expect_failure(ctl({"file", "delete", "x"}, 1), 1, "nax_fdel: 1038");
}

// ---- tasks and display ----

TEST_F(NaxctlCli, TaskGroupItemAndDisplay) {
  expect_ok(ctl({"task", "group", "3", "--name", "Cleaning", "--items", "2"}));
  expect_ok(
      ctl({"task", "item", "3", "1", "--type", "2", "--name", "Floors", "--job-order", "J-17"}));
  const auto group = node().with_state<naxsim::Tasks>([](naxsim::Tasks& t) { return t.groups[3]; });
  EXPECT_EQ(group.name, "Cleaning");
  EXPECT_EQ(group.items, 2);
  ASSERT_EQ(group.item_list.size(), 1u);
  EXPECT_EQ(group.item_list[0].job_order, "J-17");
  expect_failure(ctl({"task", "item", "9", "1"}), 1, "nax_add_task_item: 6 ");

  const Result r = ctl({"display", "2", "4", "Hello there", "--font", "3", "--timer", "10"});
  expect_ok(r);
  EXPECT_EQ(r.out, "shown; the node answered 1\n");
  const auto shown = node().with_state<naxsim::Display>([](naxsim::Display& d) { return d; });
  ASSERT_EQ(shown.lines.size(), 1u);
  EXPECT_EQ(shown.lines[0].data, "Hello there");
  EXPECT_EQ(shown.lines[0].font, 3);
  EXPECT_EQ(shown.timer, 10);
}

// ---- events ----

TEST_F(NaxctlCli, MonitorPrintsEventsAsJsonLinesAndAnswersThem) {
  Process p(linked({"monitor", "--count", "2", "--json", "--answer-user", "3"}));
  // The monitor reads the clock once before it listens.
  for (int i = 0; i < 3000 && sim_->requests_received() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(sim_->requests_received(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  naxsim::UserEvent user{};
  user.id = 4242;
  user.event = 1;
  user.direction = 1;
  user.time = {9, 30, 0, 25, 6, 1, 0};
  ASSERT_TRUE(sim_->send_user_event(user));
  naxsim::AuxEvent aux{};
  aux.aux_input = 3;
  aux.aux_value = 1;
  aux.time = user.time;
  ASSERT_TRUE(sim_->send_aux_input_event(aux));
  const Result r = p.finish();
  expect_ok(r);
  const auto events = lines_of(r.out);
  ASSERT_EQ(events.size(), 2u) << r.out;
  EXPECT_EQ(events[0], R"({"type":"user","link":1,"node":7,"time":"2025-06-01 09:30:00","id":4242,)"
                       R"("index":0,"event":1,"direction":1})");
  EXPECT_EQ(events[1],
            R"({"type":"aux","link":1,"node":7,"time":"2025-06-01 09:30:00","input":3,"value":1})");
  const auto answers =
      node().with_state<naxsim::EventAnswers>([](naxsim::EventAnswers& a) { return a.received; });
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].user_id, 4242u);
  EXPECT_EQ(answers[0].user_st, 3);
}

TEST_F(NaxctlCli, MonitorStopsAfterItsTimeAndOnALostConnection) {
  Result r = ctl({"monitor", "--for", "0.3"});
  expect_ok(r);
  EXPECT_EQ(r.out, "");
  EXPECT_LT(r.elapsed_ms, 8000);

  // The first monitor's request counts too: wait for the second one's.
  const uint64_t before = sim_->requests_received();
  Process p(linked({"monitor"}));
  // A sanitizer build on a busy machine may take seconds to start the program.
  for (int i = 0; i < 3000 && sim_->requests_received() == before; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(sim_->requests_received(), before) << "monitor never reached the node";
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sim_->drop_connections();
  r = p.finish();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, HasSubstr("conn  link 1      lost"));
  EXPECT_EQ(r.err,
            "naxctl: monitor: 1061 connection closed by the node, or the link is being closed\n");
}

TEST_F(NaxctlCli, MonitorEndsCleanlyOnInterrupt) {
  Process p(linked({"monitor"}));
  for (int i = 0; i < 3000 && sim_->requests_received() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  p.signal(SIGINT);
  expect_ok(p.finish(10000));
}

// ---- a node that connects in ----

// Carries bytes between a node that "dials" naxctl's listening port and the simulator.
class Dialer {
 public:
  Dialer(uint16_t listen_port, uint16_t sim_port)
      : thread_([this, listen_port, sim_port] { run(listen_port, sim_port); }) {}
  ~Dialer() {
    stop_ = true;
    thread_.join();
  }

 private:
  static int connect_to(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    close(fd);
    return -1;
  }
  void run(uint16_t listen_port, uint16_t sim_port) {
    int host = -1;
    for (int i = 0; i < 500 && host < 0 && !stop_; ++i) {
      host = connect_to(listen_port);
      if (host < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int node = connect_to(sim_port);
    while (host >= 0 && node >= 0 && !stop_) {
      pollfd fds[2] = {{host, POLLIN, 0}, {node, POLLIN, 0}};
      if (poll(fds, 2, 50) <= 0) continue;
      bool closed = false;
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char buffer[2048];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0 || write(fds[1 - i].fd, buffer, static_cast<size_t>(n)) != n) closed = true;
      }
      if (closed) break;
    }
    if (host >= 0) close(host);
    if (node >= 0) close(node);
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};

uint16_t free_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

TEST_F(NaxctlCli, ListenClaimsTheNodeThatConnectsIn) {
  const uint16_t port = free_port();
  Dialer dialer(port, sim_->port());
  const Result r =
      naxctl_test::run({"--timeout", "3000", "listen", std::to_string(port), "--accept-timeout",
                        "8000", "--expect-node", "7", "info", "serial"});
  expect_ok(r);
  EXPECT_EQ(r.out, "SIM-00007\n");  // addressed to the node it reported, without --node
}

TEST(NaxctlListen, NoNodeWithinTheAcceptTimeOut) {
  const Result r = naxctl_test::run(
      {"listen", std::to_string(free_port()), "--accept-timeout", "300", "clock", "get"}, 10000);
  expect_failure(r, 1, "nax_accept: 1059 ");
  EXPECT_THAT(r.err, HasSubstr("(no node connected to port "));
  EXPECT_THAT(r.err, HasSubstr(" within 300 ms)"));
}

// ---- serial ----

// The simulator's pseudo-terminal, where it has one.
template <class Sim>
bool open_serial(Sim& sim, std::string* slave) {
  if constexpr (requires { sim.open_serial(slave); }) {
    return static_cast<bool>(sim.open_serial(slave));
  } else {
    return false;
  }
}

TEST_F(NaxctlCli, ClockOverAPseudoTerminal) {
  std::string slave;
  if (!open_serial(*sim_, &slave)) GTEST_SKIP() << "the simulator has no serial mode";
  const Result r = naxctl_test::run(
      {"--conn", slave + ":115200", "--node", "7", "--timeout", "3000", "clock", "get"});
  expect_ok(r);
  EXPECT_THAT(r.out, HasSubstr("weekday"));
}

// ---- demo ----

TEST(NaxctlDemo, WalksThroughTheWholeSession) {
  const Result r = naxctl_test::run({"demo"}, 30000);
  expect_ok(r);
  for (const char* step :
       {"Opening a link", "Enrolling users", "Maria Quintero", "shows \"Welcome, user 1001\"",
        "Reading attendance marks", ": identical.", "Closing"}) {
    EXPECT_THAT(r.out, HasSubstr(step));
  }
}

}  // namespace
