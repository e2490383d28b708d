// The naxctl program as operators run it: arguments to the library's calls, the output,
// the exit statuses; against a simulated node in this process.  What the node does with
// each call is the library's end-to-end suite's to test.
#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "handlers_admin.h"
#include "handlers_marks.h"
#include "json.h"
#include "naxctl/naxctl_process.h"
#include "naxsim.h"

namespace {

using naxctl::Json;
using naxctl_test::lines_of;
using naxctl_test::Process;
using naxctl_test::Result;
using ::testing::HasSubstr;
using ::testing::Not;

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

// ---- arguments and help ----

TEST(NaxctlArgs, HelpIsInWordsAndEverySubcommandListsTheGlobalOptions) {
  const Result top = naxctl_test::run({"--help"});
  expect_ok(top);
  for (const char* family : {"clock", "param", "aux", "relay", "users", "marks", "template",
                             "schedule", "info", "reset", "block", "flush", "delete-records",
                             "file", "task", "display", "monitor", "listen", "demo"}) {
    EXPECT_THAT(top.out, HasSubstr(std::string("\n  ") + family + " ")) << family;
  }
  // clang-format off
  const std::vector<std::vector<std::string>> paths = {
      {}, {"clock", "set"}, {"users", "list"}, {"schedule", "segments", "set"}, {"monitor"},
      {"listen", "12", "users", "list"}};
  // clang-format on
  for (auto args : paths) {
    const bool sub = !args.empty();
    args.push_back("--help");
    const Result r = naxctl_test::run(args);
    expect_ok(r);
    for (const char* parser_word : {"UINT", "INT:", "TEXT:", "INT in"}) {
      EXPECT_THAT(r.out, Not(HasSubstr(parser_word))) << args.front() << "\n" << r.out;
    }
    EXPECT_THAT(r.out, HasSubstr("--conn TEXT")) << args.front();
    if (sub) {
      EXPECT_THAT(r.out, HasSubstr("Global options (before or after")) << args.front();
    }
  }
}

TEST(NaxctlArgs, VersionOfBothTools) {
  char version[16];
  for (const std::string program : {NAXCTL_PATH, NAXSIM_PATH}) {
    const std::string name = program.substr(program.rfind('/') + 1);
    EXPECT_EQ(naxctl_test::run({"--version"}, 5000, program).out,
              name + " " + nax_lib_version(version) + "\n");
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
      {{"--conn", "h:1", "--node", "abc", "clock", "get"}, "--node: 'abc' is not a number"},
      {{"--conn", "h:1", "--node", "70000", "clock", "get"}, "in 0..65535"},
      {{"--conn", "h:1", "--protocol", "3", "clock", "get"}, "--protocol"},
      {{"--conn", "h:1", "clock", "set", "2025-02-30 08:00:00"}, "February 2025 has 28 days"},
      {{"--conn", "h:1", "clock", "set", "tomorrow"}, "is not in the form"},
      {{"--conn", "h:1", "param", "get", "4", "1"}, "size: 4 not in {1,2}"},
      {{"--conn", "h:1", "users", "add", "--psw", "1"}, "give --id"},
      {{"--conn", "h:1", "users", "add", "--id", "1", "--file", "x"}, "excludes"},
      {{"--conn", "h:1", "schedule", "segments", "set", "1", "25:00"}, "is not HH:MM"},
      {{"--conn", "h:1", "display", "1", "1", std::string(50, 'x')}, "at most 49"},
      {{"--conn", "h:1", "users", "list", "--format", "xml"}, "--format"},
      {{"clock", "get"}, "--conn is required"},
      {{"listen", "70000", "clock", "get"}, "port"},
      // Connection strings are checked before the library sees them.
      {{"--conn", "h:70000", "clock", "get"}, "port 70000 is not 1 to 65535"},
      {{"--conn", "nocolon", "clock", "get"}, "\"nocolon\" is not DEVICE:PARAMETER"},
      {{"--conn", "[::1]:3001", "clock", "get"}, "IPv6 addresses are not supported"},
  };
  for (const auto& c : cases) expect_failure(naxctl_test::run(c.args, 5000), 2, c.message);
}

// ---- failures of the link and of the files ----

TEST(NaxctlLink, FailuresNameTheSystemsReason) {
  // A file that is no terminal opens but cannot be configured.
  expect_failure(naxctl_test::run({"--conn", "/dev/null:9600", "clock", "get"}, 10000), 1,
                 "(device /dev/null: Inappropriate ioctl for device)");
  expect_failure(
      naxctl_test::run({"--conn", "h.invalid:1", "users", "import", "/nonexistent/u.csv"}), 1,
      "/nonexistent/u.csv: No such file or directory");
}

TEST_F(NaxctlCli, SilentNodeEndsWithTheReceiveTimeOutAndAHint) {
  naxsim::Faults faults;
  faults.no_answer = true;
  sim_->set_faults(faults);
  const Result r = naxctl_test::run(
      {"--conn", sim_->conn_string(), "--node", "7", "--timeout", "300", "clock", "get"}, 10000);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err,
            "naxctl: nax_get_time: 1026 no answer within the link's receive time-out\n"
            "naxctl: hint: check the node number (--node, now 7), the packet protocol "
            "(--protocol, now 2) and the time-out (--timeout, now 300 ms)\n");
}

TEST_F(NaxctlCli, WritesThatFailEndWithStatusOneAndTheReason) {
  add_marks(node(), 3);
  const std::string conn = sim_->conn_string();
  struct Case {
    std::string command;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"marks --format csv > /dev/full", "naxctl: standard output: No space left on device\n"},
      {"users export --out /dev/full", "naxctl: /dev/full: No space left on device\n"},
      {"marks --out " + path("no/such/dir.csv"), "No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const Result r = naxctl_test::run(
        {"-c", std::string(NAXCTL_PATH) + " --conn " + conn + " --node 7 " + c.command}, 15000,
        "/bin/sh");
    EXPECT_EQ(r.exit_code, 1) << c.command;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.command;
  }
}

// ---- every family: arguments in, the library's answer out ----

TEST_F(NaxctlCli, EachFamilyMapsItsArgumentsAndOutput) {
  const std::string users_json =
      write("u.json", R"([{"id": 11, "sec_level": 2, "text1": "Bo, Jr"}])");
  const std::string file = write("local.txt", std::string(1300, 'x') + "end\n");
  const std::string tmpl = write("t.bin", std::string(300, '\x07'));
  struct Step {
    std::vector<std::string> args;
    int exit_code;
    std::string text;  // in stdout on success, in stderr on failure
    int protocol = 2;
  };
  // clang-format off
  const std::vector<Step> steps = {
      {{"clock", "set", "2030-01-02 03:04:05"}, 0, "clock set to 2030-01-02 03:04:05  weekday 3"},
      {{"clock", "get"}, 0, "2030-01-02 03:0"},
      {{"param", "set", "2", "0x12C", "42"}, 0, ""},
      {{"param", "get", "2", "300"}, 0, "param 300 = 42 (0x0000002a)"},
      {{"param", "get", "2", "5000"}, 1, "nax_get_num_cfg: 3 "},
      {{"aux", "set", "3", "--ev-host", "2", "--extra", "0102030405060708"}, 0, ""},
      {{"aux", "set", "3", "--time-on", "5"}, 0, ""},  // the other fields are kept
      {{"aux", "get", "3", "--json"}, 0, "\"0102030405060708\""},
      {{"aux", "state"}, 1, "nax_state_aux_input: 1038", 1},
      {{"users", "add", "--id", "10", "--psw", "1234", "--text1", "Ana Ruiz"}, 0, "1 user added"},
      {{"users", "add", "--id", "10"}, 1, "nax_add_user: 5 the user already exists (user 10; 0 of 1 user added)"},
      {{"users", "add", "--file", users_json}, 0, "1 user added"},
      {{"users", "edit", "--id", "10", "--st", "4"}, 0, ""},
      {{"users", "list", "--page", "1"}, 0, "11  -     -   2          Bo, Jr\n2 users\n"},
      {{"users", "delete", "--id", "0xB"}, 0, "1 user deleted"},
      {{"users", "list", "--format", "csv"}, 0, "\n10,1234,4,,,,,,Ana Ruiz,,,\n"},
      {{"users", "list", "--json"}, 0, "\"psw\": 1234", 1},  // protocol 1: no texts
      {{"template", "write", "1", "1001", "0", tmpl}, 0, ""},
      {{"template", "delete", "1", "1001", "0"}, 0, ""},
      {{"template", "read", "1", "1001", "0"}, 1, "nax_read_template: 10 no such template"},
      {{"schedule", "set", "5", "--name", "Day shift", "--hours", "8"}, 0, ""},
      {{"schedule", "segments", "set", "5", "08:00", "12:00/0"}, 0, ""},
      {{"schedule", "segments", "get", "5"}, 0, "0      08:00  yes\n1      12:00  no\n"},
      {{"schedule", "list"}, 0, "5   Day shift\n1 schedule\n"},
      {{"info", "model"}, 0, std::string(naxsim::kInfoModel) + "\n"},
      {{"file", "put", file, "remote.txt"}, 0, ""},
      {{"file", "get", "remote.txt", "-"}, 0, "xxxend\n"},
      {{"file", "delete", "remote.txt"}, 0, ""},
      {{"file", "get", "remote.txt", "-"}, 1, "nax_fopen: 5 no such file"},
      {{"task", "item", "9", "1"}, 1, "nax_add_task_item: 6 "},
      {{"display", "2", "4", "Hello"}, 0, "shown; the node answered 1"},
  };
  // clang-format on
  for (const auto& step : steps) {
    const Result r = ctl(step.args, step.protocol);
    const std::string what = step.args[0] + " " + step.args[1];
    EXPECT_EQ(r.exit_code, step.exit_code) << what << "\n" << r.err;
    EXPECT_THAT(step.exit_code == 0 ? r.out : r.err, HasSubstr(step.text)) << what;
  }
}

TEST_F(NaxctlCli, MarksInEveryFormatOverBothProtocols) {
  add_marks(node(), 23);
  const Result json = ctl({"marks", "--format", "json", "--page", "5"});
  expect_ok(json);
  const Json j = Json::parse(json.out);
  ASSERT_EQ(j.items().size(), 23u);
  EXPECT_EQ(j.items()[4].find("time")->text(), "2024-03-15 08:04:00");
  const Result csv = ctl({"marks", "--format", "csv"}, 1);
  expect_ok(csv);
  ASSERT_EQ(lines_of(csv.out).size(), 24u);
  EXPECT_EQ(lines_of(csv.out)[0], "time,id,event,direction,index,kind,value,flag,code");
  EXPECT_EQ(lines_of(csv.out)[4], "2024-03-15 08:03:00,503,1,1,0,,,,");
  ASSERT_EQ(ctl({"marks", "--out", path("marks.txt")}).exit_code, 0);
  EXPECT_THAT(read("marks.txt"), HasSubstr("23 marks"));
}

// ---- events ----

// Waits until the node has had more than `before` requests: the monitor's first one.
void wait_for_requests(naxsim::Simulator& sim, uint64_t before) {
  for (int i = 0; i < 3000 && sim.requests_received() == before; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(sim.requests_received(), before) << "monitor never reached the node";
}

TEST_F(NaxctlCli, MonitorPrintsEventsAsJsonLinesAndAnswersThem) {
  Process p(linked({"monitor", "--count", "2", "--json", "--answer-user", "3"}));
  wait_for_requests(*sim_, 0);  // events follow the clock's answer on the same stream
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
  EXPECT_EQ(r.out,
            R"({"type":"user","link":1,"node":7,"time":"2025-06-01 09:30:00","id":4242,)"
            R"("index":0,"event":1,"direction":1})"
            "\n"
            R"({"type":"aux","link":1,"node":7,"time":"2025-06-01 09:30:00","input":3,"value":1})"
            "\n");
}

TEST_F(NaxctlCli, MonitorEndsWith1061OnALostConnectionAnd130OnCtrlC) {
  Process lost(linked({"monitor"}));
  wait_for_requests(*sim_, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  sim_->drop_connections();
  Result r = lost.finish();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_THAT(r.out, HasSubstr("conn  link 1      lost"));
  EXPECT_EQ(r.err,
            "naxctl: monitor: 1061 connection closed by the node, or the link is being closed\n");

  Process interrupted(linked({"monitor"}));
  wait_for_requests(*sim_, sim_->requests_received());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  interrupted.signal(SIGINT);
  r = interrupted.finish(10000);
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_EQ(r.err, "");
}

// ---- a node that connects in ----

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

TEST_F(NaxctlCli, ListenClaimsTheNodeOrNamesTheOneThatCame) {
  struct Case {
    const char* expect_node;
    int exit_code;
    const char* text;
  };
  for (const Case& c :
       {Case{"7", 0, "SIM-00007\n"}, Case{"5", 1, "(node 7 connected, not node 5)"}}) {
    const uint16_t port = free_port();
    Process p({"--timeout", "3000", "listen", std::to_string(port), "--accept-timeout", "3000",
               "--expect-node", c.expect_node, "info", "serial"});
    for (int i = 0; i < 500 && !sim_->connect_to("127.0.0.1", port); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const Result r = p.finish();
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_THAT(c.exit_code == 0 ? r.out : r.err, HasSubstr(c.text));
  }
  expect_failure(naxctl_test::run({"listen", std::to_string(free_port()), "--accept-timeout", "300",
                                   "clock", "get"},
                                  10000),
                 1, "(no node connected to port ");
}

TEST(NaxctlDemo, WalksThroughTheWholeSession) {
  const Result r = naxctl_test::run({"demo"}, 30000);
  expect_ok(r);
  for (const char* step : {"Opening a link", "Maria Quintero", "Reading attendance marks",
                           ": identical.", "Closing"}) {
    EXPECT_THAT(r.out, HasSubstr(step));
  }
}

}  // namespace
