// The naxctl program as operators run it: arguments to the library's calls, the output,
// the exit statuses; against a simulated node in this process.  What the node does with
// each call is the library's end-to-end suite's to test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "handlers_answers.h"
#include "handlers_marks.h"
#include "naxsim.h"
#include "support/process.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// naxctl (or another program) as a child with its output in files; a child still running
// at its deadline is killed.
struct Result {
  int exit_code = -1;  // -1 when killed
  std::string out, err;
};

class Process : public test_support::Process {
 public:
  explicit Process(std::vector<std::string> args, const std::string& program = NAXCTL_PATH)
      : Process(std::move(args), program,
                "/tmp/naxctl_test_" + std::to_string(getpid()) + "_" + std::to_string(++started_)) {
  }
  ~Process() {
    for (const char* end : {".out", ".err"}) std::remove((files_ + end).c_str());
  }
  Result finish(int timeout_ms = 15000) {
    Result r;
    r.exit_code = wait(timeout_ms);
    r.out = test_support::read_file(files_ + ".out");
    r.err = test_support::read_file(files_ + ".err");
    return r;
  }

 private:
  Process(std::vector<std::string> args, const std::string& program, std::string files)
      : test_support::Process(with_program(std::move(args), program), files + ".out",
                              files + ".err"),
        files_(std::move(files)) {}
  static std::vector<std::string> with_program(std::vector<std::string> args,
                                               const std::string& program) {
    args.insert(args.begin(), program);
    return args;
  }
  static inline int started_ = 0;
  std::string files_;
};

Result run(const std::vector<std::string>& args, int timeout_ms = 15000,
           const std::string& program = NAXCTL_PATH) {
  return Process(args, program).finish(timeout_ms);
}

// Success: status 0 and nothing on stderr (no progress bar when it is not a terminal).
void expect_ok(const Result& r) {
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

// Failure: the given status, one line on stderr naming the fault, nothing on stdout.
void expect_failure(const Result& r, int code, const std::string& message) {
  EXPECT_EQ(r.exit_code, code);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.rfind("naxctl: ", 0), 0u) << r.err;
  EXPECT_THAT(r.err, HasSubstr(message));
  EXPECT_EQ(r.out, "");
}

TEST(NaxctlArgs, HelpVersionAndBadArguments) {
  const Result top = run({"--help"});
  expect_ok(top);
  for (const char* family : {"clock", "param", "aux", "relay", "users", "marks", "template",
                             "schedule", "info", "reset", "block", "flush", "delete-records",
                             "file", "task", "display", "monitor", "listen", "demo"}) {
    EXPECT_THAT(top.out, HasSubstr(std::string("\n  ") + family + " ")) << family;
  }
  // Help in words, not the parser's type names, and the global options on every level.
  const Result sub = run({"listen", "12", "schedule", "segments", "set", "--help"});
  expect_ok(sub);
  for (const char* word : {"UINT", "INT:", "TEXT:", "INT in"})
    EXPECT_THAT(sub.out, Not(HasSubstr(word)));
  EXPECT_THAT(sub.out, HasSubstr("Global options (before or after"));
  EXPECT_THAT(sub.out, HasSubstr("--conn TEXT"));
  char version[16];
  EXPECT_EQ(run({"--version"}).out, std::string("naxctl ") + nax_lib_version(version) + "\n");

  // Refused before any node is contacted: status 2 for arguments, 1 for what the system says.
  const std::vector<std::tuple<std::vector<std::string>, int, const char*>> cases = {
      {{"--conn", "/dev/null:9600", "clock", "get"}, 1, "(device /dev/null: Inappropriate ioctl"},
      {{"--conn", "h.invalid:1", "users", "import", "/nonexistent/u.csv"},
       1,
       "u.csv: No such file"},
      {{}, 2, "A subcommand is required"},
      {{"bogus"}, 2, "'bogus' is not a command here"},
      {{"--conn", "h:1", "--node", "70000", "clock", "get"}, 2, "in 0..65535"},
      {{"--conn", "h:1", "--protocol", "3", "clock", "get"}, 2, "--protocol"},
      {{"--conn", "h:1", "param", "get", "4", "1"}, 2, "size: 4 not in {1,2}"},
      {{"--conn", "h:1", "users", "add", "--psw", "1"}, 2, "give --id"},
      {{"--conn", "h:1", "users", "add", "--id", "1", "--file", "x"}, 2, "excludes"},
      {{"--conn", "h:1", "schedule", "segments", "set", "1", "25:00"}, 2, "is not HH:MM"},
      {{"--conn", "h:1", "display", "1", "1", std::string(50, 'x')}, 2, "at most 49"},
      {{"--conn", "h:1", "users", "list", "--format", "xml"}, 2, "--format"},
      {{"clock", "get"}, 2, "--conn is required"},
      {{"listen", "70000", "clock", "get"}, 2, "port"},
      {{"--conn", "h:70000", "clock", "get"}, 2, "port 70000 is not 1 to 65535"},
      {{"--conn", "[::1]:3001", "clock", "get"}, 2, "IPv6 addresses are not supported"},
  };
  for (const auto& [args, code, message] : cases) expect_failure(run(args, 10000), code, message);
}

class NaxctlCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.start());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    sim_.stop();
    std::filesystem::remove_all(dir_);
  }
  std::string write(const std::string& name, const std::string& data) const {
    std::ofstream(dir_ / name, std::ios::binary) << data;
    return (dir_ / name).string();
  }
  // The monitor's first request has reached the node: events may follow.
  void wait_for_first_request() {
    ASSERT_TRUE(test_support::eventually([&] { return sim_.requests_received() > 0; }))
        << "monitor never reached the node";
  }

  naxsim::Simulator sim_;  // node 1, naxctl's default
  const std::filesystem::path dir_ = "/tmp/naxctl_test_" + std::to_string(getpid());
};

// Each step runs through the shell, so that output can be redirected.
TEST_F(NaxctlCli, EachFamilyMapsItsArgumentsAndOutput) {
  sim_.node().with_state<naxsim::MarkLog>([](naxsim::MarkLog& log) {
    for (uint8_t i = 0; i < 3; ++i) {
      log.marks.push_back({.id = 500u + i,
                           .time = {8, i, 0, 24, 3, 15, 5},
                           .event = 1,
                           .direction_word = static_cast<uint16_t>(i % 2)});
    }
    return 0;
  });
  const std::string users_json =
      write("u.json", R"([{"id": 11, "sec_level": 2, "text1": "Bo, Jr"}])");
  const std::string file = write("local.txt", std::string(1300, 'x') + "end\n");
  const std::string marks = (dir_ / "marks.txt").string();
  // Arguments, exit status, a part of stdout on success or of stderr on failure.
  // clang-format off
  const std::tuple<std::string, int, std::string> steps[] = {
      {"--node 9 --timeout 300 clock get", 1,
       "naxctl: nax_get_time: 1026 no answer within the link's receive time-out\n"
       "naxctl: hint: check the node number (--node, now 9), the packet protocol "
       "(--protocol, now 2) and the time-out (--timeout, now 300 ms)\n"},
      {"clock set '2030-01-02 03:04:05'", 0, "clock set to 2030-01-02 03:04:05  weekday 3"},
      {"clock get", 0, "2030-01-02 03:0"},
      {"param set 2 0x12C 42", 0, ""},
      {"param get 2 300", 0, "param 300 = 42 (0x0000002a)"},
      {"param get 2 5000", 1, "nax_get_num_cfg: 3 "},
      {"aux set 3 --ev-host 2 --extra 0102030405060708", 0, ""},
      {"aux set 3 --time-on 5", 0, ""},  // the other fields are kept
      {"aux get 3 --json", 0, "\"0102030405060708\""},
      {"users add --id 10 --psw 1234 --text1 'Ana Ruiz'", 0, "1 user added"},
      {"users add --id 10", 1, "nax_add_user: 5 the user already exists (user 10; 0 of 1 user added)"},
      {"users add --file " + users_json, 0, "1 user added"},
      {"users edit --id 10 --st 4", 0, ""},
      {"users list --page 1", 0, "11  -     -   2          Bo, Jr\n2 users\n"},
      {"users delete --id 0xB", 0, "1 user deleted"},
      {"users list --format csv", 0, "\n10,1234,4,,,,,,Ana Ruiz,,,\n"},
      {"users list --json --protocol 1", 0, "\"psw\": 1234"},  // protocol 1: no texts
      {"schedule set 5 --name 'Day shift' --hours 8", 0, ""},
      {"schedule segments set 5 08:00 12:00/0", 0, ""},
      {"schedule segments get 5", 0, "0      08:00  yes\n1      12:00  no\n"},
      {"schedule list", 0, "5   Day shift\n1 schedule\n"},
      // Both ends check the transfer's CRC-32.
      {"file put " + file + " remote.txt", 0, ""},
      {"file get remote.txt -", 0, "xxxend\n"},
      {"display 2 4 Hello", 0, "shown; the node answered 1"},
      {"marks --format json --page 2", 0, "\"id\": 502,"},
      {"marks --format csv --protocol 1", 0, "time,id,event,direction,index,kind,value,flag,code\n"
       "2024-03-15 08:00:00,500,1,0,0,,,,\n2024-03-15 08:01:00,501,1,1,0,,,,\n"},
      {"marks --out " + marks + " && cat " + marks, 0, "3 marks"},
      {"marks --format csv > /dev/full", 1, "naxctl: standard output: No space left on device\n"},
      {"users export --out /dev/full", 1, "naxctl: /dev/full: No space left on device\n"},
      {"marks --out /nonexistent/marks.csv", 1, "/nonexistent/marks.csv: No such file or directory\n"},
  };
  // clang-format on
  for (const auto& [args, exit_code, text] : steps) {
    const Result r =
        run({"-c", std::string(NAXCTL_PATH) + " --conn " + sim_.conn_string() + " " + args}, 15000,
            "/bin/sh");
    EXPECT_EQ(r.exit_code, exit_code) << args << "\n" << r.err;
    EXPECT_THAT(exit_code == 0 ? r.out : r.err, HasSubstr(text)) << args;
  }
}

TEST_F(NaxctlCli, MonitorPrintsEventsAsJsonLinesAnswersThemAndEndsWith1061OnALostLink) {
  Process p({"--conn", sim_.conn_string(), "monitor", "--json", "--answer-user", "3"});
  wait_for_first_request();  // events follow the clock's answer on the same stream
  const nax_date_time time = {9, 30, 0, 25, 6, 1, 0};
  ASSERT_TRUE(sim_.send_user_event({4242, 0, 1, 1, time, 0, 0}));
  ASSERT_TRUE(sim_.send_aux_input_event({3, 1, time}));
  std::optional<uint8_t> st;
  ASSERT_TRUE(test_support::eventually([&] {
    st = sim_.node().with_state<naxsim::EventAnswers>([](naxsim::EventAnswers& e) {
      return e.received.empty() ? std::nullopt : e.received[0].user_st;
    });
    return st.has_value();
  }));
  EXPECT_EQ(*st, 3);
  sim_.drop_connections();
  const Result r = p.finish();
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out.substr(0, r.out.rfind("\"time\"")),
            R"({"type":"user","link":1,"node":1,"time":"2025-06-01 09:30:00","id":4242,)"
            R"("index":0,"event":1,"direction":1})"
            "\n"
            R"({"type":"aux","link":1,"node":1,"time":"2025-06-01 09:30:00","input":3,"value":1})"
            "\n"
            R"({"type":"conn","link":1,)");
  EXPECT_THAT(r.out, HasSubstr(R"("state":"lost"})"));
  EXPECT_EQ(r.err,
            "naxctl: monitor: 1061 connection closed by the node, or the link is being closed\n");
}

TEST_F(NaxctlCli, MonitorEndsWith130OnCtrlC) {
  Process p({"--conn", sim_.conn_string(), "monitor"});
  wait_for_first_request();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  p.signal(SIGINT);
  const Result r = p.finish();
  EXPECT_EQ(r.exit_code, 130) << r.err;
  EXPECT_EQ(r.err, "");
}

TEST_F(NaxctlCli, ListenClaimsTheNodeOrNamesTheOneThatCame) {
  for (const auto& [expect_node, exit_code, text] :
       {std::tuple{"1", 0, "SIM-00001\n"}, std::tuple{"5", 1, "(node 1 connected, not node 5)"}}) {
    const uint16_t port = test_support::free_port();
    Process p({"--timeout", "3000", "listen", std::to_string(port), "--accept-timeout", "3000",
               "--expect-node", expect_node, "info", "serial"});
    test_support::eventually([&] { return sim_.connect_to("127.0.0.1", port); });
    const Result r = p.finish();
    EXPECT_EQ(r.exit_code, exit_code) << r.err;
    EXPECT_THAT(exit_code == 0 ? r.out : r.err, HasSubstr(text));
  }
  expect_failure(run({"listen", std::to_string(test_support::free_port()), "--accept-timeout",
                      "300", "clock", "get"}),
                 1, "(no node connected to port ");
}

TEST(NaxctlDemo, WalksThroughTheWholeSession) {
  const Result r = run({"demo"}, 30000);
  expect_ok(r);
  for (const char* step :
       {"Opening a link", "Maria Quintero", "Reading attendance marks", ": identical.", "Closing"})
    EXPECT_THAT(r.out, HasSubstr(step));
}

}  // namespace
