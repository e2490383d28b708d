// The gateway end to end: a real broker, simulated nodes (as processes, or in this process
// when the test must see what the node received), naxgw itself, and an MQTT client.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>

#include "handlers_answers.h"
#include "handlers_marks.h"
#include "harness.h"
#include "naxsim.h"

namespace {

using namespace naxgw_test;

auto state_is(const std::string& state, std::set<uint32_t> statuses = {}) {
  return [state, statuses](const json& b) {
    return b.value("state", "") == state &&
           (statuses.empty() || statuses.count(b.value("status", 0u)) > 0);
  };
}

// The user fields of every answer to a user event the node received.
std::vector<std::string> answers(naxsim::Simulator& sim) {
  std::vector<std::string> out;
  for (const auto& a : sim.node().with_state<naxsim::EventAnswers>(
           [](naxsim::EventAnswers& e) { return e.received; })) {
    out.emplace_back(a.user_fields.begin(), a.user_fields.end());
  }
  return out;
}

class NaxgwEnd : public ::testing::Test {
 protected:
  TempDir dir;
  Mosquitto broker{dir};
  Client client{dir, broker.port};

  // Sends a command with an MQTT 5 response topic and correlation data; returns the reply.
  std::optional<Message> ask(const std::string& node, const std::string& command,
                             const std::string& payload, const std::string& id) {
    client.publish("t/" + node + "/cmd/" + command, payload, "reply/" + id, "corr-" + id);
    return client.wait_for("reply/" + id);
  }
  // What the node's marks log holds, as the node itself answers it.
  bool node_marks_become(const std::string& count) {
    int asked = 0;
    return wait_until([&] {
      const auto reply =
          ask("door1", "get_info", R"({"query": "marks"})", "marks" + std::to_string(++asked));
      return reply && reply->body()["result"]["answer"] == count;
    });
  }
};

TEST_F(NaxgwEnd, StatusFollowsEachLinkOutOrInAndCommandsWorkOverMqtt311) {
  const uint16_t port = free_port(), listen = free_port();
  Naxsim sim(dir, port);
  // An MQTT 3.1.1 session: no response topic nor correlation data among its properties.
  Gateway gw(dir, base_config(dir, broker.port, "", "", "", "version = 4\n") +
                      node_config("door1", port) + "[listener]\nport = " + std::to_string(listen) +
                      "\n[[listener.node]]\nnode = 5\nname = \"in5\"\n");
  const auto online = client.wait_for("t/door1/status", state_is("online", {1}));
  ASSERT_TRUE(online) << gw.log();
  ASSERT_TRUE(client.wait_for("t/gateway/status", state_is("online")));
  // A client that comes later is told the state at once: the status is retained.
  const auto late = Client(dir, broker.port).wait_for("t/door1/status", state_is("online"));
  EXPECT_TRUE(late && late->retained);

  // Nodes that connect in are taken by their number.
  const std::string target = "127.0.0.1:" + std::to_string(listen);
  Process stranger({NAXSIM_PATH, "--connect", target, "--node", "9"}, dir.file("stranger.log"));
  Process in5({NAXSIM_PATH, "--connect", target, "--node", "5", "--marks", "3"},
              dir.file("in5.log"));
  ASSERT_TRUE(client.wait_for("t/in5/status", state_is("online", {1}))) << gw.log();
  // The reply topic and the correlation travel in the request, and the latter comes back.
  client.publish("t/in5/cmd/get_info",
                 R"({"reply_to": "r311", "correlation": {"n": [1, 2]}, "query": "serial"})");
  const auto reply = client.wait_for("r311");
  ASSERT_TRUE(reply) << gw.log();
  EXPECT_EQ(reply->body()["correlation"], json({{"n", {1, 2}}}));
  EXPECT_EQ(reply->body()["result"]["answer"], "SIM-00005");
  EXPECT_TRUE(reply->correlation.empty());
  EXPECT_TRUE(wait_until([&] {
    return sqlite_value(dir.file("marks.db"), "SELECT COUNT(*) FROM marks WHERE node = 'in5'") == 3;
  }));
  EXPECT_TRUE(wait_until([&] {
    return gw.log().find("node 9 connected in but is not configured") != std::string::npos;
  })) << gw.log();
  // No connection callback reports this loss: the gateway notices it by itself.
  client.forget();
  in5.kill(SIGKILL);
  EXPECT_TRUE(client.wait_for("t/in5/status", state_is("offline"))) << gw.log();

  sim.kill(SIGKILL);
  const auto offline =
      client.wait_for("t/door1/status", state_is("offline", {1061, 1063, 1013, 1014, 1036, 1026}));
  ASSERT_TRUE(offline) << gw.log();
  EXPECT_EQ(offline->body()["text"], nax_status_text(offline->body()["status"].get<uint32_t>()));
  client.forget();
  sim.start();
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online", {1}))) << gw.log();

  // The gateway's own death is told by its last will.
  client.forget();
  gw.kill(SIGKILL);
  const auto will = client.wait_for("t/gateway/status", state_is("offline"));
  EXPECT_TRUE(will && will->body()["reason"] == "lost");
}

// One gateway with an allow-list serves door1 and hurries: two links to one simulated node.
TEST_F(NaxgwEnd, CommandsEventsAndThePolicy) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(
      dir,
      base_config(dir, broker.port, "interval_s = 3600\n") +
          "[commands]\nallow = [\"set_time\", \"get_time\", \"get_info\", \"add_user\", "
          "\"list_users\", \"del_user\", \"set_num_cfg\", \"get_num_cfg\", \"display_msg\", "
          "\"set_schd_header\", \"get_schd_header\", \"set_schd_segments\", \"list_marks\"]\n" +
          node_config("door1", sim.port(), 2,
                      "[node.answer]\ntimeout_ms = 20000\nst = 1\ntext1 = \"DEFAULT-W\"\n") +
          node_config("hurries", sim.port(), 2,
                      "[node.answer]\ntimeout_ms = 1\nst = 1\ntext1 = \"DEFAULT-H\"\n"));
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();
  ASSERT_TRUE(client.wait_for("t/hurries/status", state_is("online")));
  // Command, request, status, a part of the reply.
  // clang-format off
  const std::tuple<const char*, std::string, uint32_t, std::string> cases[] = {
      {"set_time", R"({"time": "2031-05-06T07:08:09"})", 1, ""},
      {"get_time", "{}", 1, R"("time":"2031-05-06T07)"},
      {"get_info", R"({"query": "echo hello"})", 1, R"("answer":"hello")"},
      {"add_user", R"({"users": [{"id": 501, "text1": "Ann"}, {"id": 502, "psw": 42}]})", 1, R"("taken":2)"},
      {"list_users", R"({"count": 10})", 8, R"("users":[{"id":501,"mask":257,"text1":"Ann"},{"id":502,"mask":3,"psw":42}])"},
      {"del_user", R"({"users": [{"id": 501}]})", 1, R"("taken":1)"},
      {"set_num_cfg", R"({"id": 20, "size": 2, "value": 1234})", 1, ""},
      {"get_num_cfg", R"({"id": 20, "size": 2})", 1, R"("value":1234)"},
      {"rele_control", R"({"relay": 1, "mode": 3})", 1037, "[commands] allow"},
      {"display_msg", R"({"messages": [{"line": 1, "text": "Welcome"}], "timer": 5})", 1, ""},
      {"set_schd_header", R"({"id": 3, "name": "Day shift", "hours": 8})", 1, ""},
      {"get_schd_header", R"({"id": 3})", 1, R"("name":"Day shift")"},
      {"list_marks", "{}", 8, R"("stored":0)"},
      // Refused before any node hears of them.
      {"get_time", "not json", 1037, R"("error":")"},
      {"get_time", "[1, 2]", 1037, R"("error":")"},
      {"nope", "{}", 1037, R"("error":")"},
      {"list_users", R"({"first": -1})", 1037, R"("error":")"},
      {"list_users", R"({"count": 100000})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"id": "x"}]})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"id": 4294967296}]})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"id": 7.5}]})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"psw": 1}]})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"id": 7, "st": 256}]})", 1037, R"("error":")"},
      {"add_user", R"({"users": [{"id": 7, "text2": 5}]})", 1037, R"("error":")"},
      {"add_user", "{\"users\": [{\"id\": 7, \"text1\": \"" + std::string(255, 'x') + "\"}]}", 1037, R"("error":")"},
      {"get_info", "{}", 1037, R"("error":")"},
      {"set_time", R"({"time": "2024-02-30T00:00:00"})", 1037, R"("error":")"},
      {"set_num_cfg", R"({"id": 1, "size": 3, "value": 1})", 1037, R"("error":")"},
      {"display_msg", R"({"messages": [{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"},{"text": "a"}]})", 1037, R"("error":")"},
      {"set_schd_segments", R"({"id": 1, "segments": [{"hours": 25, "minutes": 0}]})", 1037, R"("error":")"},
      {"get_time", std::string(70000, '{'), 1037, R"("error":")"},
  };
  // clang-format on
  int n = 0;
  for (const auto& [command, payload, status, part] : cases) {
    const std::string id = std::to_string(++n);
    const auto reply = ask("door1", command, payload, id);
    ASSERT_TRUE(reply) << command << " " << payload.substr(0, 80);
    const json body = reply->body();
    EXPECT_EQ(body["status"], status) << command << " " << body.dump();
    EXPECT_NE(body.dump().find(part), std::string::npos) << body.dump();
    // The node's own meaning of its status, and the normal end of a list said as such.
    const char* meaning = nax_node_status_text(("nax_" + std::string(command)).c_str(), status);
    EXPECT_EQ(body["text"], meaning ? meaning : nax_status_text(status)) << command;
    EXPECT_EQ(body.value("complete", false), status == 8) << command;
    EXPECT_EQ(reply->correlation, "corr-" + id) << command;
  }
  const auto shown = sim.node().with_state<naxsim::Display>([](naxsim::Display& d) { return d; });
  ASSERT_EQ(shown.lines.size(), 1u);
  EXPECT_EQ(shown.lines[0].data, "Welcome");

  // A user event's answer: from MQTT under an unguessable id, or the default when the wait ends.
  ASSERT_TRUE(sim.send_user_event({77, 0, 1, 0, {8, 0, 0, 24, 1, 2, 2}, 0, 0}));
  const auto event =
      client.wait_for("t/door1/event/user", [](const json& b) { return b.contains("answer_id"); });
  ASSERT_TRUE(event);
  const std::string id = event->body()["answer_id"];
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{32}"))) << id;
  client.publish("t/door1/answer", R"({"answer_id": 1, "text1": "FORGED"})");
  client.publish("t/door1/answer",
                 R"({"answer_id": "00000000000000000000000000000001", "text1": "FORGED"})");
  client.publish("t/door1/answer", json{{"answer_id", id}, {"st", 1}, {"text1", "WELCOME"}}.dump());
  client.publish("t/door1/answer", json{{"answer_id", id}, {"st", 1}, {"text1", "SECOND"}}.dump());
  ASSERT_TRUE(wait_until([&] { return answers(sim).size() >= 2; })) << gw.log();
  const auto got = answers(sim);
  ASSERT_EQ(got.size(), 2u);
  const std::string both = got[0] + got[1];
  EXPECT_TRUE(both.find("WELCOME") != std::string::npos &&
              both.find("DEFAULT-H") != std::string::npos);
  EXPECT_FALSE(std::regex_search(both, std::regex("DEFAULT-W|FORGED|SECOND")));

  // A retained request never runs; replies never land where the gateway itself listens.
  client.publish("t/door1/cmd/get_time", "{}", "reply/retained", "", true);
  client.publish("t/door1/cmd/get_info", R"({"query": "echo x"})", "t/door1/cmd/get_time");
  client.publish("t/door1/cmd/get_info", R"({"query": "echo x", "reply_to": "t/door1/cmd/x"})");
  for (const char* wild : {"wild/#", "wild/+/x"}) {
    client.publish("t/door1/cmd/get_time", json{{"reply_to", wild}}.dump());
  }
  const auto last = ask("door1", "get_time", "{}", "last");  // after all of them
  EXPECT_TRUE(last && last->body()["status"] == 1);
  for (const char* topic : {"reply/retained", "t/door1/cmd/x"}) {
    EXPECT_TRUE(client.on(topic).empty()) << topic;
  }
  // A broker refuses to deliver to a wildcard topic anyway: the gateway must say why.
  for (const char* wild : {"\"wild/#\" holds a wildcard", "\"wild/+/x\" holds a wildcard"}) {
    EXPECT_NE(gw.log().find(wild), std::string::npos) << wild << gw.log();
  }
  for (const auto& m : client.on("t/door1/cmd/get_time")) {
    EXPECT_EQ(m.payload.find("\"status\""), std::string::npos);  // only our own requests
  }
  EXPECT_NE(gw.log().find("retained message on t/door1/cmd/get_time not executed"),
            std::string::npos);
  sim.stop();
}

// Whatever a kill -9 interrupts, each of the node's marks is stored once and leaves the node
// only once stored: a gateway restarted on its SQLite file, or a standby gateway taking over
// a shared PostgreSQL database, which in one run also goes away in the middle of the download.
TEST_F(NaxgwEnd, MarksAreStoredExactlyOnceAcrossKill9) {
  Postgres* pg = Postgres::shared();
  // Protocol, delete after storing, marks on the node, a standby on PostgreSQL.
  const std::tuple<int, bool, int, bool> runs[] = {{2, false, 2000, false},
                                                   {2, true, 2000, false},
                                                   {1, false, 300, false},
                                                   {2, false, 2000, true},
                                                   {2, true, 2000, true}};
  int n = 0;
  for (const auto& [protocol, remove, marks, standby] : runs) {
    SCOPED_TRACE("run " + std::to_string(++n));
    if (standby && !pg) {
      GTEST_SKIP() << "no PostgreSQL server programs (Debian package postgresql)";
    }
    TempDir run;
    const std::string name = "marks_" + std::to_string(n);
    const std::string database = standby ? "url = \"" + pg->create(name) + "\"\n" : "";
    auto db = [&](const std::string& sql) {
      return standby ? pg->query(name, sql) : sqlite_value(run.file("marks.db"), sql);
    };
    const uint16_t port = free_port();
    // Late answers stretch the download, so that the kill lands inside it.
    Naxsim sim(
        run, port,
        {"--marks", std::to_string(marks), "--delay", "2", "--protocol", std::to_string(protocol)});
    // Two gateways of one broker need client ids of their own.
    auto config = [&](const std::string& gw) {
      return base_config(run, broker.port,
                         std::string("interval_s = 1\npage = 4\ndelete_after_store = ") +
                             (remove ? "true\n" : "false\n"),
                         "name = \"" + gw + "\"\n", database, "client_id = \"" + gw + "\"\n") +
             node_config("door1", port, protocol);
    };
    client.forget();
    Gateway a(run, config("gw-a"), "a.log");
    std::optional<Gateway> b;
    if (standby) b.emplace(run, config("gw-b"), "b.log");
    // The kill follows the first stored page at once: a status message may come later.
    const std::string count = "SELECT COUNT(*) FROM marks";
    ASSERT_TRUE(wait_until([&] { return db(count) > 0; })) << a.log();
    const bool a_serves = a.log().find("door1: serving") != std::string::npos;
    Gateway& first = a_serves ? a : *b;
    Gateway& last = standby && a_serves ? *b : a;
    const std::string next = standby && a_serves ? "gw-b" : "gw-a";
    if (standby) {
      EXPECT_EQ(last.log().find("door1: serving"), std::string::npos) << "both serve";
    }
    client.forget();
    const auto killed = std::chrono::steady_clock::now();
    first.kill(SIGKILL);
    EXPECT_LT(db(count), marks) << "the download ended before the kill";
    if (!standby) a.start();
    ASSERT_TRUE(client.wait_for("t/door1/status", [&](const json& s) {
      return s.value("state", "") == "online" && s.value("gateway", "") == next;
    })) << last.log();
    std::printf("serving again after kill -9: %.1f s\n", test_support::elapsed_ms(killed) / 1000.0);
    if (standby && remove) {
      ASSERT_TRUE(pg->stop());
      EXPECT_TRUE(client.wait_for("t/" + next + "/status", [](const json& s) {
        return s.value("error", "").find("database") != std::string::npos;
      })) << last.log();
      ASSERT_TRUE(pg->start());
    }
    ASSERT_TRUE(wait_until([&] { return db(count) >= marks; })) << db(count) << last.log();
    EXPECT_TRUE(
        wait_until([&] { return db("SELECT COUNT(*) FROM marks WHERE published = 0") == 0; }));
    EXPECT_TRUE(node_marks_become(remove ? "0" : std::to_string(marks)));
    EXPECT_EQ(db(count), marks);
    EXPECT_EQ(db("SELECT COUNT(DISTINCT user_id) FROM marks WHERE user_id BETWEEN 1 AND " +
                 std::to_string(marks)),
              marks);
    EXPECT_EQ(last.kill(SIGTERM), 0) << last.log();
  }
}

TEST_F(NaxgwEnd, ABrokerOutageDropsTheOldestEventsOnlyAndEveryMarkIsPublishedAfter) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  Gateway gw(dir, base_config(dir, broker.port, "interval_s = 1\n", "", "", "max_queued = 5\n") +
                      node_config("door1", sim.port()));
  ASSERT_TRUE(client.wait_for("t/door1/status", state_is("online"))) << gw.log();
  broker.kill(SIGKILL);
  ASSERT_TRUE(wait_until([&] { return gw.log().find("connection lost") != std::string::npos; }));
  for (uint32_t id = 1; id <= 20; ++id) {
    ASSERT_TRUE(sim.send_user_event({id, 0, 0, 0, {8, 0, 0, 24, 1, 2, 2}, 0, 0}));
  }
  naxsim::preload_marks(sim.node(), 30);
  auto db = [&](const std::string& sql) { return sqlite_value(dir.file("marks.db"), sql); };
  ASSERT_TRUE(wait_until([&] { return db("SELECT COUNT(*) FROM marks") == 30; }));
  broker.start();
  Client late(dir, broker.port);
  EXPECT_TRUE(late.wait_for("t/gateway/status", [](const json& b) {
    return b.value("dropped_events", 0) == 15 && b.contains("warning");
  })) << gw.log();
  // Every stored mark reached the broker (acknowledged), though none could at first.
  EXPECT_TRUE(wait_until([&] { return db("SELECT COUNT(*) FROM marks WHERE published = 0") == 0; }))
      << gw.log();
  EXPECT_EQ(gw.kill(SIGTERM), 0) << gw.log();
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
      " && openssl req -x509" + ec + " -keyout server.key -out server.pem -subj /CN=127.0.0.1" +
      " -addext subjectAltName=IP:127.0.0.1 -CA ca.pem -CAkey ca.key" +
      " && touch pw && chmod 600 pw && for u in naxgw viewer operator answerer; do" +
      " mosquitto_passwd -b pw $u pw-$u; done";
  ASSERT_EQ(std::system(("(" + make + ") >" + d + "certs.log 2>&1").c_str()), 0)
      << read_file(d + "certs.log");
  const std::string docs = read_file(NAXGW_DOCS);
  const std::size_t begin = docs.find("# mosquitto ACL for naxgw");
  ASSERT_NE(begin, std::string::npos);
  const std::string acl = docs.substr(begin, docs.find("```", begin) - begin);
  dir.write("acl", std::regex_replace(acl, std::regex("vedodiroz/"), "t/"));
  const uint16_t tls = free_port();
  // Run as root, the broker would drop to its own user, who cannot read the test folder.
  Mosquitto broker(dir, "user root\nallow_anonymous false\npassword_file " + d + "pw\nacl_file " +
                            d + "acl\nlistener " + std::to_string(tls) + " 127.0.0.1\ncafile " + d +
                            "ca.pem\ncertfile " + d + "server.pem\nkeyfile " + d + "server.key\n");
  ASSERT_TRUE(wait_until([&] { return loopback(tls) != 0; })) << read_file(d + "mosquitto.log");
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  auto config = [&](const std::string& ca) {
    return base_config(
               dir, tls, "interval_s = 3600\n", "", "",
               "ca_file = \"" + d + ca + "\"\nusername = \"naxgw\"\npassword = \"pw-naxgw\"\n") +
           node_config("door1", sim.port(), 2, "[node.answer]\ntimeout_ms = 20000\n");
  };
  Gateway gw(dir, config("ca.pem"));
  Client viewer(dir, broker.port, "viewer");
  Client operator_(dir, broker.port, "operator");
  Client answerer(dir, broker.port, "answerer");
  ASSERT_TRUE(viewer.wait_for("t/door1/status", state_is("online")))
      << gw.log() << read_file(dir.file("mosquitto.log"));

  viewer.publish("t/door1/cmd/get_info", R"({"query": "echo v"})", "replies/operator/v");
  operator_.publish("t/door1/cmd/get_info", R"({"query": "echo o"})", "replies/operator/o");
  ASSERT_TRUE(operator_.wait_for("replies/operator/o"));
  EXPECT_TRUE(operator_.on("replies/operator/v").empty());
  EXPECT_TRUE(viewer.on("replies/operator/o").empty());

  ASSERT_TRUE(sim.send_user_event({5, 0, 0, 0, {8, 0, 0, 24, 1, 2, 2}, 0, 0}));
  const auto event = answerer.wait_for("t/door1/event/user");
  ASSERT_TRUE(event);
  const json id = event->body()["answer_id"];
  viewer.publish("t/door1/answer", json{{"answer_id", id}, {"text1", "VIEWER"}}.dump());
  answerer.publish("t/door1/answer", json{{"answer_id", id}, {"text1", "ANSWERER"}}.dump());
  ASSERT_TRUE(wait_until([&] { return !answers(sim).empty(); }));
  EXPECT_NE(answers(sim)[0].find("ANSWERER"), std::string::npos);

  // A gateway that does not trust the broker's certificate says why, and keeps trying.
  TempDir other;
  Gateway untrusting(other, config("other.pem"));
  EXPECT_TRUE(wait_until([&] {
    return untrusting.log().find("certificate verify failed") != std::string::npos;
  })) << untrusting.log();
  sim.stop();
}

}  // namespace
