// The gateway end to end: a real broker, simulated nodes (as processes, or in this process
// when the test must see what the node received), naxgw itself, and an MQTT client.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "handlers_answers.h"
#include "handlers_marks.h"
#include "harness.h"
#include "naxsim.h"

namespace {

using namespace naxgw_test;

bool iso(const json& value) {
  static const std::regex pattern(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z?)");
  return value.is_string() && std::regex_match(value.get<std::string>(), pattern);
}

auto state_is(const std::string& state, std::set<uint32_t> statuses = {}) {
  return [state, statuses](const json& b) {
    return b.value("state", "") == state &&
           (statuses.empty() || statuses.count(b.value("status", 0u)) > 0);
  };
}

class NaxgwEnd : public ::testing::Test {
 protected:
  TempDir dir;
  Mosquitto broker{dir};
  Client client{broker.port()};

  // Sends a command with an MQTT 5 response topic and correlation data; returns the reply.
  std::optional<Message> ask(const std::string& node, const std::string& command, const json& args,
                             const std::string& id) {
    const std::string reply = "reply/" + id;
    client.publish("t/" + node + "/cmd/" + command, args.dump(), reply, "corr-" + id);
    return client.wait_for(reply, [](const json&) { return true; });
  }
};

TEST_F(NaxgwEnd, StatusFollowsTheLinkThroughLossAndRecovery) {
  const uint16_t port = free_port();
  Process sim = start_naxsim(dir, port, {});
  Gateway gw(dir, base_config(dir, broker.port()) + node_config("door1", port));
  const auto online = client.wait_for("t/door1/status", state_is("online", {1}));
  ASSERT_TRUE(online) << gw.log();
  const json first = online->body();
  EXPECT_TRUE(online->retained || client.on("t/door1/status").size() > 0);
  EXPECT_TRUE(iso(first["since"]));
  EXPECT_EQ(first["text"], "success");
  ASSERT_TRUE(client.wait_for("t/gateway/status", state_is("online")));

  // A client that comes later is told the state at once: the status is retained.
  {
    Client late(broker.port());
    const auto seen = late.wait_for("t/door1/status", state_is("online"));
    ASSERT_TRUE(seen);
    EXPECT_TRUE(seen->retained);
  }

  sim.kill(SIGKILL);
  const auto offline =
      client.wait_for("t/door1/status", state_is("offline", {1061, 1063, 1013, 1014, 1036, 1026}));
  ASSERT_TRUE(offline) << gw.log();
  EXPECT_EQ(offline->body()["text"], nax_status_text(offline->body()["status"].get<uint32_t>()));

  client.forget();
  sim = start_naxsim(dir, port, {});
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online", {1}))) << gw.log();

  // The gateway's own death is told by its last will.
  client.forget();
  gw.kill9();
  const auto will = client.wait_for("t/gateway/status", state_is("offline"));
  ASSERT_TRUE(will);
  EXPECT_EQ(will->body()["reason"], "lost");
}

TEST_F(NaxgwEnd, CommandsAreAnsweredAndBadRequestsRefused) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(dir, base_config(dir, broker.port(), "interval_s = 3600\n") +
                      node_config("door1", sim.port()));
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();

  struct Case {
    const char* command;
    json args;
    uint32_t status;
    std::function<void(const json& result)> check;
  };
  const auto nothing = [](const json&) {};
  // clang-format off
  const std::vector<Case> cases = {
      {"set_time", {{"time", "2031-05-06T07:08:09"}}, 1, nothing},
      {"get_time", json::object(), 1, [](const json& r) {
         EXPECT_EQ(r["time"].get<std::string>().substr(0, 13), "2031-05-06T07"); }},
      {"get_info", {{"query", "echo hello"}}, 1, [](const json& r) { EXPECT_EQ(r["answer"], "hello"); }},
      {"add_user", {{"users", {{{"id", 501}, {"text1", "Ann"}}, {{"id", 502}, {"psw", 42}}}}}, 1,
       [](const json& r) { EXPECT_EQ(r["taken"], 2); }},
      {"list_users", {{"count", 10}}, 8, [](const json& r) {
         ASSERT_EQ(r["users"].size(), 2u);
         EXPECT_EQ(r["users"][0]["id"], 501);
         EXPECT_EQ(r["users"][1]["id"], 502); }},
      {"del_user", {{"users", {{{"id", 501}}}}}, 1, [](const json& r) { EXPECT_EQ(r["taken"], 1); }},
      {"set_num_cfg", {{"id", 20}, {"size", 2}, {"value", 1234}}, 1, nothing},
      {"get_num_cfg", {{"id", 20}, {"size", 2}}, 1, [](const json& r) { EXPECT_EQ(r["value"], 1234); }},
      {"rele_control", {{"relay", 1}, {"mode", 3}}, 1, nothing},
      {"state_aux_input", json::object(), 1, [](const json& r) { EXPECT_TRUE(r["state"].is_number()); }},
      {"display_msg", {{"messages", {{{"line", 1}, {"text", "Welcome"}}}}, {"timer", 5}}, 1, nothing},
      {"set_schd_header", {{"id", 3}, {"name", "Day shift"}, {"hours", 8}}, 1, nothing},
      {"get_schd_header", {{"id", 3}}, 1, [](const json& r) { EXPECT_EQ(r["name"], "Day shift"); }},
      {"list_marks", json::object(), 8, [](const json& r) { EXPECT_EQ(r["stored"], 0); }},
  };
  // clang-format on
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = std::to_string(++n);
    const auto reply = ask("door1", c.command, c.args, id);
    ASSERT_TRUE(reply) << c.command;
    const json body = reply->body();
    EXPECT_EQ(body["status"], c.status) << c.command << " " << body.dump();
    // The node's own meaning of its status, and the normal end of a list said as such.
    const char* meaning = nax_node_status_text(("nax_" + std::string(c.command)).c_str(), c.status);
    EXPECT_EQ(body["text"], meaning ? meaning : nax_status_text(c.status)) << c.command;
    EXPECT_EQ(body.value("complete", false), c.status == 8) << c.command;
    EXPECT_EQ(reply->correlation, "corr-" + id) << c.command;
    if (body["status"] == c.status) c.check(body["result"]);
  }
  const auto shown = sim.node().with_state<naxsim::Display>([](naxsim::Display& d) { return d; });
  ASSERT_EQ(shown.lines.size(), 1u);
  EXPECT_EQ(shown.lines[0].data, "Welcome");

  struct Bad {
    std::string topic;
    std::string payload;
  };
  // clang-format off
  const std::vector<Bad> bad = {
      {"get_time", "not json"},
      {"get_time", "[1, 2]"},
      {"nope", "{}"},
      {"list_users", R"({"first": -1})"},
      {"list_users", R"({"count": 100000})"},
      {"add_user", R"({"users": [{"id": "x"}]})"},
      {"get_info", "{}"},
      {"set_time", R"({"time": "2024-02-30T00:00:00"})"},
      {"set_num_cfg", R"({"id": 1, "size": 3, "value": 1})"},
      {"display_msg", R"({"messages": [{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"}]})"},
      {"set_schd_segments", R"({"id": 1, "segments": [{"hours": 25, "minutes": 0}]})"},
      {"get_time", std::string(70000, '{')},
  };
  // clang-format on
  for (const Bad& b : bad) {
    const std::string id = "bad" + std::to_string(++n);
    client.publish("t/door1/cmd/" + b.topic, b.payload, "reply/" + id, id);
    const auto reply = client.wait_for("reply/" + id, [](const json&) { return true; });
    ASSERT_TRUE(reply) << b.topic << " " << b.payload.substr(0, 80);
    EXPECT_EQ(reply->body()["status"], 1037) << b.payload.substr(0, 80);
    EXPECT_TRUE(reply->body()["error"].is_string()) << reply->payload;
  }
  sim.stop();
}

TEST_F(NaxgwEnd, MarksAreStoredExactlyOnceAcrossKill9) {
  struct Case {
    int protocol;
    bool remove;
    int marks;
  };
  for (const Case c : {Case{2, false, 2000}, Case{2, true, 2000}, Case{1, false, 300}}) {
    SCOPED_TRACE("protocol " + std::to_string(c.protocol) + (c.remove ? " delete" : " keep"));
    TempDir run;
    const uint16_t port = free_port();
    // Late answers stretch the download, so that the kill lands inside it.
    Process sim = start_naxsim(run, port,
                               {"--marks", std::to_string(c.marks), "--delay", "2", "--protocol",
                                std::to_string(c.protocol)});
    const std::string marks = std::string("interval_s = 1\npage = 4\ndelete_after_store = ") +
                              (c.remove ? "true" : "false") + "\n";
    Gateway gw(run,
               base_config(run, broker.port(), marks) + node_config("door1", port, c.protocol));
    Database db(run.file("marks.db"));
    const std::string count = "SELECT COUNT(*) FROM marks WHERE node = 'door1'";
    ASSERT_TRUE(wait_until([&] { return db.scalar(count) > 0; })) << gw.log();
    gw.kill9();
    const int64_t at_kill = db.scalar(count);
    EXPECT_LT(at_kill, c.marks) << "the download ended before the kill";
    gw.start();
    ASSERT_TRUE(wait_until([&] { return db.scalar(count) >= c.marks; })) << db.scalar(count);
    // The node's log: emptied after the commit when asked to, untouched otherwise.
    const std::string left = c.remove ? "0" : std::to_string(c.marks);
    int asked = 0;
    EXPECT_TRUE(wait_until([&] {
      const auto reply =
          ask("door1", "get_info", {{"query", "marks"}}, "m" + std::to_string(++asked));
      return reply && reply->body()["result"]["answer"] == left;
    }));
    EXPECT_EQ(db.scalar(count), c.marks);
    EXPECT_EQ(db.scalar("SELECT COUNT(DISTINCT user_id) FROM marks"), c.marks);
    EXPECT_EQ(db.scalar("SELECT MIN(user_id) FROM marks"), 1);
    EXPECT_EQ(db.scalar("SELECT MAX(user_id) FROM marks"), c.marks);
    EXPECT_EQ(gw.terminate(), 0) << gw.log();
  }
}

TEST_F(NaxgwEnd, NodesConnectingInAreAcceptedByTheirNumber) {
  const uint16_t listen = free_port();
  Gateway gw(dir, base_config(dir, broker.port(), "",
                              "log_path = \"" + dir.file("lib.log") + "\"\nlog_level = 3\n") +
                      "[listener]\nport = " + std::to_string(listen) +
                      "\n[[listener.node]]\nnode = 5\nname = \"in5\"\n");
  ASSERT_TRUE(wait_until([&] { return port_open(listen); })) << gw.log();
  const std::string target = "127.0.0.1:" + std::to_string(listen);
  Process stranger({NAXSIM_PATH, "--connect", target, "--node", "9"}, dir.file("stranger.log"));
  Process sim({NAXSIM_PATH, "--connect", target, "--node", "5", "--marks", "3"},
              dir.file("in5.log"));
  ASSERT_TRUE(client.wait_for("t/in5/status", state_is("online", {1})))
      << gw.log() << read_file(dir.file("in5.log")) << read_file(dir.file("lib.log"));
  const auto reply = ask("in5", "get_info", {{"query", "serial"}}, "in");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body()["result"]["answer"], "SIM-00005");
  Database db(dir.file("marks.db"));
  EXPECT_TRUE(
      wait_until([&] { return db.scalar("SELECT COUNT(*) FROM marks WHERE node = 'in5'") == 3; }));
  EXPECT_TRUE(wait_until([&] {
    return gw.log().find("node 9 connected in but is not configured") != std::string::npos;
  })) << gw.log();
  // No connection callback reports this loss: the gateway notices it by itself.
  sim.kill(SIGKILL);
  ASSERT_TRUE(client.wait_for("t/in5/status", state_is("offline"))) << gw.log();
}

TEST_F(NaxgwEnd, UserEventsAreAnsweredFromMqttOrByDefault) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(dir,
             base_config(dir, broker.port(), "interval_s = 3600\n") +
                 node_config("waits", sim.port(), 2,
                             "[node.answer]\ntimeout_ms = 20000\nst = 1\ntext1 = \"DEFAULT-W\"\n") +
                 node_config("hurries", sim.port(), 2,
                             "[node.answer]\ntimeout_ms = 1\nst = 1\ntext1 = \"DEFAULT-H\"\n"));
  ASSERT_TRUE(client.wait_for("t/waits/status", state_is("online")));
  ASSERT_TRUE(client.wait_for("t/hurries/status", state_is("online")));
  naxsim::UserEvent user{};
  user.id = 77;
  user.event = 1;
  user.time = {8, 0, 0, 24, 1, 2, 2};
  ASSERT_TRUE(sim.send_user_event(user));
  const auto event =
      client.wait_for("t/waits/event/user", [](const json& b) { return b.contains("answer_id"); });
  ASSERT_TRUE(event);
  // Ids are unguessable, and an answer with any other id decides nothing.
  const std::string id = event->body()["answer_id"];
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
  client.publish("t/waits/answer", R"({"answer_id": 1, "text1": "FORGED"})");
  client.publish("t/waits/answer", R"({"answer_id": "00000000000000000000000000000001", )"
                                   R"("text1": "FORGED"})");
  client.publish(
      "t/waits/answer",
      json{{"answer_id", event->body()["answer_id"]}, {"st", 1}, {"text1", "WELCOME"}}.dump());
  auto texts = [&] {
    std::vector<std::string> out;
    for (const auto& a : sim.node().with_state<naxsim::EventAnswers>(
             [](naxsim::EventAnswers& e) { return e.received; })) {
      out.emplace_back(a.user_fields.begin(), a.user_fields.end());
    }
    return out;
  };
  auto has = [&](const std::string& text) {
    for (const auto& t : texts()) {
      if (t.find(text) != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(wait_until([&] { return has("WELCOME") && has("DEFAULT-H"); })) << gw.log();
  EXPECT_FALSE(has("DEFAULT-W"));
  EXPECT_FALSE(has("FORGED"));
  EXPECT_EQ(texts().size(), 2u);
  sim.stop();
}

}  // namespace

namespace {

TEST_F(NaxgwEnd, AnMqtt311GatewayAnswersOnTheReplyToTopic) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  std::string config =
      base_config(dir, broker.port(), "interval_s = 3600\n") + node_config("door1", sim.port());
  const std::string prefix = "prefix = \"t\"\n";
  config.replace(config.find(prefix), prefix.size(), prefix + "version = 4\n");
  Gateway gw(dir, config);
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();
  client.publish("t/door1/cmd/get_info",
                 R"({"reply_to": "r311", "correlation": {"n": [1, 2]}, "query": "echo x"})");
  const auto reply = client.wait_for("r311", [](const json&) { return true; });
  ASSERT_TRUE(reply) << gw.log();
  EXPECT_EQ(reply->body()["correlation"], json({{"n", {1, 2}}}));
  EXPECT_EQ(reply->body()["result"]["answer"], "x");
  EXPECT_TRUE(reply->correlation.empty());  // no MQTT 5 properties on a 3.1.1 session
  EXPECT_EQ(gw.terminate(), 0) << gw.log();
  sim.stop();
}

}  // namespace

namespace {

TEST(NaxgwProgram, RefusesABadConfigurationWithFileLineAndReason) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output;
  };
  TempDir dir;
  const std::string bad =
      dir.write("bad.toml", "[mqtt]\nport = 1883\n\n[[node]]\nname = \"door1\"\nprotocol = 7\n");
  const std::string good =
      dir.write("good.toml", "[[node]]\nname = \"door1\"\nconnection = \"127.0.0.1:1\"\n");
  const std::string no_ca = dir.write("no_ca.toml",
                                      "[mqtt]\nca_file = \"/nonexistent/ca.pem\"\n"
                                      "[[node]]\nname = \"d\"\nconnection = \"h:1\"\n");
  // clang-format off
  const Case cases[] = {
      {{"--config", bad}, 2, bad + ":6: node.protocol must lie between 1 and 2, not 7"},
      {{"--config", bad, "--check"}, 2, bad + ":6: "},
      {{"--config", good, "--check"}, 0, ""},
      {{"--config", dir.file("missing.toml")}, 2, "missing.toml:0: cannot be read"},
      {{}, 2, "--config FILE is required"},
      {{"--frobnicate"}, 2, "unknown option --frobnicate"},
      {{"--version"}, 0, "naxgw 1."},
      {{"--config", no_ca, "--check"}, 2, "mqtt.ca_file \"/nonexistent/ca.pem\" cannot be read"},
  };
  // clang-format on
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::string> argv = {NAXGW_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const std::string log = dir.file("out" + std::to_string(++n));
    Process p(argv, log);
    EXPECT_EQ(p.wait(), c.status) << n;
    EXPECT_NE(read_file(log).find(c.output), std::string::npos) << read_file(log);
  }
}

}  // namespace

namespace {

// The gateway's client id follows its name, so that two gateways share one broker.
std::string named(std::string config, const std::string& name) {
  const std::string id = "client_id = \"naxgw-test\"";
  return config.replace(config.find(id), id.size(), "client_id = \"" + name + "\"");
}

TEST_F(NaxgwEnd, CommandsFollowThePolicyAndRepliesStayOffTheGatewaysTopics) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(dir, base_config(dir, broker.port(), "interval_s = 3600\n") +
                      "[commands]\nallow = [\"get_time\", \"get_info\"]\n" +
                      node_config("door1", sim.port()));
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();
  const auto refused = ask("door1", "rele_control", {{"relay", 1}, {"mode", 1}}, "relay");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->body()["status"], 1037);
  EXPECT_NE(refused->body()["error"].get<std::string>().find("[commands] allow"),
            std::string::npos);
  // A retained request never runs; replies never land where the gateway itself listens.
  client.publish("t/door1/cmd/get_time", "{}", "reply/retained", "", true);
  client.publish("t/door1/cmd/get_info", R"({"query": "echo x"})", "t/door1/cmd/get_time");
  client.publish("t/door1/cmd/get_info", R"({"query": "echo x", "reply_to": "t/door1/cmd/x"})");
  client.publish("t/door1/cmd/get_time", R"({"reply_to": "wild/#"})");
  const auto last = ask("door1", "get_time", json::object(), "last");  // after all of them
  ASSERT_TRUE(last);
  EXPECT_EQ(last->body()["status"], 1);
  EXPECT_TRUE(client.on("reply/retained").empty());
  EXPECT_TRUE(client.on("t/door1/cmd/x").empty());
  EXPECT_TRUE(client.on("wild/#").empty());
  for (const auto& m : client.on("t/door1/cmd/get_time")) {
    EXPECT_EQ(m.payload.find("\"status\""), std::string::npos);  // only our own requests
  }
  const std::string log = gw.log();
  EXPECT_NE(log.find("retained message on t/door1/cmd/get_time not executed"), std::string::npos);
  EXPECT_NE(log.find("\"t/door1/cmd/x\" is one the gateway listens to"), std::string::npos) << log;
}

TEST_F(NaxgwEnd, ABrokerOutageDropsTheOldestEventsOnlyAndEveryMarkIsPublishedAfter) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(dir, base_config(dir, broker.port(), "interval_s = 1\n", "", "", "max_queued = 5\n") +
                      node_config("door1", sim.port()));
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();
  broker.stop();
  ASSERT_TRUE(wait_until([&] { return gw.log().find("connection lost") != std::string::npos; }));
  for (uint32_t id = 1; id <= 20; ++id) {
    naxsim::UserEvent user{};
    user.id = id;
    user.time = {8, 0, 0, 24, 1, 2, 2};
    ASSERT_TRUE(sim.send_user_event(user));
  }
  naxsim::preload_marks(sim.node(), 30);
  Database db(dir.file("marks.db"));
  ASSERT_TRUE(wait_until([&] { return db.scalar("SELECT COUNT(*) FROM marks") == 30; }));
  broker.start();
  Client late(broker.port());
  const auto status = late.wait_for("t/gateway/status", [](const json& b) {
    return b.value("dropped_events", 0) == 15 && b.contains("warning");
  });
  EXPECT_TRUE(status) << gw.log();
  // Every stored mark reached the broker (acknowledged), though none could at first.
  EXPECT_TRUE(wait_until([&] {
    return db.scalar("SELECT COUNT(*) FROM marks WHERE published = 0") == 0;
  })) << gw.log();
  EXPECT_EQ(gw.terminate(), 0) << gw.log();
  EXPECT_TRUE(late.wait_for("t/gateway/status", [](const json& b) {
    return b.value("state", "") == "offline" && b.value("reason", "") == "stopped";
  }));
  sim.stop();
}

// The ACL of the docs, verbatim but for the prefix, on a broker with passwords and TLS.
TEST(NaxgwRoles, TheDocumentedAclKeepsViewersOperatorsAndAnswerersApartOverTls) {
  TempDir dir;
  const std::string d = dir.file("");
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1";
  const std::string make =
      "cd " + d + " && openssl req -x509" + ec + " -keyout ca.key -out ca.pem -subj /CN=ca" +
      " && openssl req -x509" + ec + " -keyout other.key -out other.pem -subj /CN=other" +
      " && openssl req" + ec + " -keyout server.key -out server.csr -subj /CN=127.0.0.1" +
      " && printf 'subjectAltName=IP:127.0.0.1' > san && openssl x509 -req -in server.csr" +
      " -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 1 -extfile san" +
      " && touch pw && chmod 600 pw && for u in naxgw viewer operator answerer; do" +
      " mosquitto_passwd -b pw $u pw-$u; done";
  ASSERT_EQ(std::system(("(" + make + ") >" + d + "certs.log 2>&1").c_str()), 0)
      << read_file(d + "certs.log");
  const std::string docs = read_file(NAXGW_DOCS);
  const std::size_t begin = docs.find("# mosquitto ACL for naxgw");
  ASSERT_NE(begin, std::string::npos);
  std::string acl = docs.substr(begin, docs.find("```", begin) - begin);
  for (std::size_t at; (at = acl.find("vedodiroz/")) != std::string::npos;)
    acl.replace(at, 10, "t/");
  dir.write("acl", acl);
  const uint16_t tls = free_port();
  // Run as root, the broker would drop to its own user, who cannot read the test folder.
  Mosquitto broker(dir, "user root\nallow_anonymous false\npassword_file " + d + "pw\nacl_file " +
                            d + "acl\nlistener " + std::to_string(tls) + " 127.0.0.1\ncafile " + d +
                            "ca.pem\ncertfile " + d + "server.pem\nkeyfile " + d + "server.key\n");
  ASSERT_TRUE(wait_until([&] { return port_open(tls); }, 10000)) << read_file(d + "mosquitto.log");
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  auto config = [&](const std::string& ca) {
    return base_config(
               dir, tls, "interval_s = 3600\n", "", "",
               "ca_file = \"" + d + ca + "\"\nusername = \"naxgw\"\npassword = \"pw-naxgw\"\n") +
           node_config("door1", sim.port(), 2, "[node.answer]\ntimeout_ms = 20000\n");
  };
  Gateway gw(dir, config("ca.pem"));
  Client viewer(broker.port(), MQTT_PROTOCOL_V5, "viewer");
  Client operator_(broker.port(), MQTT_PROTOCOL_V5, "operator");
  Client answerer(broker.port(), MQTT_PROTOCOL_V5, "answerer");
  ASSERT_TRUE(viewer.wait_for("t/door1/status", state_is("online")))
      << gw.log() << read_file(dir.file("mosquitto.log"));

  viewer.publish("t/door1/cmd/get_info", R"({"query": "echo v"})", "replies/operator/v");
  operator_.publish("t/door1/cmd/get_info", R"({"query": "echo o"})", "replies/operator/o");
  ASSERT_TRUE(operator_.wait_for("replies/operator/o", [](const json&) { return true; }));
  EXPECT_TRUE(operator_.on("replies/operator/v").empty());
  EXPECT_TRUE(viewer.on("replies/operator/o").empty());

  naxsim::UserEvent user{};
  user.id = 5;
  user.time = {8, 0, 0, 24, 1, 2, 2};
  ASSERT_TRUE(sim.send_user_event(user));
  const auto event = answerer.wait_for("t/door1/event/user", [](const json&) { return true; });
  ASSERT_TRUE(event);
  const json id = event->body()["answer_id"];
  viewer.publish("t/door1/answer", json{{"answer_id", id}, {"text1", "VIEWER"}}.dump());
  answerer.publish("t/door1/answer", json{{"answer_id", id}, {"text1", "ANSWERER"}}.dump());
  std::string received;
  ASSERT_TRUE(wait_until([&] {
    const auto answers = sim.node().with_state<naxsim::EventAnswers>(
        [](naxsim::EventAnswers& e) { return e.received; });
    if (!answers.empty())
      received.assign(answers[0].user_fields.begin(), answers[0].user_fields.end());
    return !answers.empty();
  }));
  EXPECT_NE(received.find("ANSWERER"), std::string::npos);

  // A gateway that does not trust the broker's certificate says why, and keeps trying.
  TempDir other;
  Gateway untrusting(other, config("other.pem"));
  EXPECT_TRUE(wait_until([&] {
    return untrusting.log().find("certificate verify failed") != std::string::npos;
  })) << untrusting.log();
  sim.stop();
}

TEST_F(NaxgwEnd, TwoGatewaysShareANodeAndTheStandbyTakesOverAfterKill9) {
  Postgres* pg = Postgres::shared();
  if (!pg) GTEST_SKIP() << "PostgreSQL server programs not installed (Debian package postgresql)";
  for (const bool remove : {false, true}) {
    SCOPED_TRACE(remove ? "delete" : "keep");
    TempDir run;
    const std::string name = remove ? "standby_delete" : "standby_keep";
    const std::string database = "url = \"" + pg->create(name) + "\"\n";
    const uint16_t port = free_port();
    Process sim = start_naxsim(run, port, {"--marks", "2000", "--delay", "2"});
    const std::string marks = std::string("interval_s = 1\npage = 4\ndelete_after_store = ") +
                              (remove ? "true\n" : "false\n");
    auto config = [&](const std::string& gw) {
      return named(base_config(run, broker.port(), marks, "name = \"" + gw + "\"\n", database),
                   gw) +
             node_config("door1", port);
    };
    client.forget();
    Gateway a(run, config("gw-a"), "a.log");
    Gateway b(run, config("gw-b"), "b.log");
    const auto serving = client.wait_for("t/door1/status", state_is("online"));
    ASSERT_TRUE(serving) << a.log() << b.log();
    const std::string first = serving->body()["gateway"];
    const std::string count = "SELECT COUNT(*) FROM marks";
    ASSERT_TRUE(wait_until([&] { return pg->query(name, count) > 0; }));
    Gateway& dead = first == "gw-a" ? a : b;
    Gateway& standby = first == "gw-a" ? b : a;
    EXPECT_EQ(standby.log().find("door1: serving"), std::string::npos) << "two gateways serve";
    client.forget();
    const auto killed = Clock::now();
    dead.kill9();
    const auto taken = client.wait_for("t/door1/status", [&](const json& s) {
      return s.value("state", "") == "online" && s.value("gateway", "") != first;
    });
    ASSERT_TRUE(taken) << standby.log();
    std::printf("takeover after kill -9: %.2f s\n",
                std::chrono::duration<double>(Clock::now() - killed).count());
    ASSERT_TRUE(wait_until([&] { return pg->query(name, count) >= 2000; })) << standby.log();
    EXPECT_TRUE(wait_until(
        [&] { return pg->query(name, "SELECT COUNT(*) FROM marks WHERE published = 0") == 0; }));
    EXPECT_EQ(pg->query(name, count), 2000);
    EXPECT_EQ(pg->query(name, "SELECT COUNT(DISTINCT user_id) FROM marks"), 2000);
    EXPECT_EQ(standby.terminate(), 0) << standby.log();
  }
}

TEST_F(NaxgwEnd, ADatabaseAwayAtStartOrMidDownloadCostsNoMark) {
  Postgres* pg = Postgres::shared();
  if (!pg) GTEST_SKIP() << "PostgreSQL server programs not installed (Debian package postgresql)";
  const std::string database = "url = \"" + pg->create("faults") + "\"\nretry_max_ms = 500\n";
  ASSERT_TRUE(pg->stop());
  const uint16_t port = free_port();
  Process sim = start_naxsim(dir, port, {"--marks", "1000", "--delay", "2"});
  Gateway gw(
      dir, base_config(dir, broker.port(), "interval_s = 1\npage = 4\ndelete_after_store = true\n",
                       "", database) +
               node_config("door1", port));
  auto database_error = [](const json& b) {
    return b.value("error", "").find("database") != std::string::npos;
  };
  ASSERT_TRUE(client.wait_for("t/gateway/status", database_error)) << gw.log();
  ASSERT_TRUE(pg->start());
  const std::string count = "SELECT COUNT(*) FROM marks";
  ASSERT_TRUE(wait_until([&] { return pg->query("faults", count) > 0; })) << gw.log();
  client.forget();
  ASSERT_TRUE(pg->stop());  // in the middle of the download
  EXPECT_TRUE(client.wait_for("t/gateway/status", database_error)) << gw.log();
  ASSERT_TRUE(pg->start());
  ASSERT_TRUE(wait_until([&] { return pg->query("faults", count) >= 1000; })) << gw.log();
  EXPECT_EQ(pg->query("faults", count), 1000);
  EXPECT_EQ(pg->query("faults", "SELECT COUNT(DISTINCT user_id) FROM marks"), 1000);
  // Deleted on the node only once stored.
  int asked = 0;
  EXPECT_TRUE(wait_until([&] {
    const auto reply =
        ask("door1", "get_info", {{"query", "marks"}}, "m" + std::to_string(++asked));
    return reply && reply->body()["result"]["answer"] == "0";
  }));
  EXPECT_EQ(gw.terminate(), 0) << gw.log();
}

}  // namespace
