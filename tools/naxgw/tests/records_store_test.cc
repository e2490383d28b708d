// JSON records read from untrusted requests, and the marks database's exactly-once rules.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "harness.h"
#include "records.h"
#include "store.h"

namespace {

using naxgw::BadRequest;
using naxgw::json;

TEST(NaxgwRecords, IsoTimesReadAndWritten) {
  struct Case {
    const char* text;
    bool valid;
    uint8_t weekday;  // 0 = Sunday
  };
  // clang-format off
  const Case cases[] = {
      {"2024-02-29T23:59:58", true, 4},  {"2024-02-29 00:00:00", true, 4},
      {"2000-01-01T00:00:00", true, 6},  {"2099-12-31T23:59:59", true, 4},
      {"2023-02-29T00:00:00", false, 0}, {"1999-12-31T23:59:59", false, 0},
      {"2100-01-01T00:00:00", false, 0}, {"2024-13-01T00:00:00", false, 0},
      {"2024-04-31T00:00:00", false, 0}, {"2024-01-01T24:00:00", false, 0},
      {"2024-01-01T00:60:00", false, 0}, {"2024-01-01T00:00:60", false, 0},
      {"2024-01-01T00:00:00Z", false, 0}, {"2024-01-01", false, 0},
      {"", false, 0},                    {"2024-01-01X00:00:00", false, 0},
      {"-024-01-01T00:00:00", false, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    if (!c.valid) {
      EXPECT_THROW(naxgw::parse_iso_time(c.text), BadRequest) << c.text;
      continue;
    }
    const nax_date_time t = naxgw::parse_iso_time(c.text);
    EXPECT_EQ(t.weekday, c.weekday) << c.text;
    std::string expected = c.text;
    expected[10] = 'T';
    EXPECT_EQ(naxgw::iso_time(t), expected);
  }
}

TEST(NaxgwRecords, UsersFromJsonSetTheMaskOfWhatIsGiven) {
  struct Case {
    json in;
    bool valid;
    uint32_t mask;
  };
  // clang-format off
  const Case cases[] = {
      {{{"id", 7}}, true, NAX_USER_ID},
      {{{"id", 7}, {"psw", 1234}, {"text1", "Ann"}}, true, NAX_USER_ID | NAX_USER_PSW | NAX_USER_TEXT1},
      {{{"id", 7}, {"schedule_id", 3}, {"anti_passback", 1}}, true,
       NAX_USER_ID | NAX_USER_SCHEDULE_ID | NAX_USER_ANTI_PASSBACK},
      {{{"id", 7}, {"mask", 3}}, true, 3},
      {{{"psw", 1}}, false, 0},
      {{{"id", -1}}, false, 0},
      {{{"id", 4294967296LL}}, false, 0},
      {{{"id", "7"}}, false, 0},
      {{{"id", 7.5}}, false, 0},
      {{{"id", 7}, {"st", 256}}, false, 0},
      {{{"id", 7}, {"text1", std::string(255, 'x')}}, false, 0},
      {{{"id", 7}, {"text2", 5}}, false, 0},
      {json::array({1}), false, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    if (!c.valid) {
      EXPECT_THROW(naxgw::user_from_json(c.in), BadRequest) << c.in.dump();
      continue;
    }
    const nax_user u = naxgw::user_from_json(c.in);
    EXPECT_EQ(u.mask, c.mask) << c.in.dump();
    EXPECT_EQ(u.id, 7u);
  }
  const nax_user full = naxgw::user_from_json({{"id", 9}, {"text1", std::string(254, 'y')}});
  EXPECT_EQ(std::strlen(full.text1), 254u);
  const json back = naxgw::user_to_json(full);
  EXPECT_EQ(back["text1"].get<std::string>().size(), 254u);
  EXPECT_FALSE(back.contains("psw"));  // only what the mask names
}

TEST(NaxgwRecords, EventsAsPublished) {
  nax_user_event user{};
  user.id = 4000000001u;
  user.index = 12;
  user.event = 0x21;
  user.direction = 2;
  user.time = {7, 30, 15, 24, 2, 29, 4};
  EXPECT_EQ(naxgw::user_event_to_json(user), json({{"user_id", 4000000001u},
                                                   {"index", 12},
                                                   {"event", 0x21},
                                                   {"direction", 2},
                                                   {"time", "2024-02-29T07:30:15"},
                                                   {"weekday", 4}}));
  const nax_aux_input_event aux{3, 1, {23, 59, 59, 99, 12, 31, 4}};
  EXPECT_EQ(naxgw::aux_event_to_json(aux)["time"], "2099-12-31T23:59:59");
  EXPECT_EQ(naxgw::aux_event_to_json(aux)["input"], 3);
}

TEST(NaxgwRecords, DecodedTextsNeverReadPastTheirFieldNorBreakTheJson) {
  // Texts from a node need not be UTF-8.
  EXPECT_EQ(naxgw::to_text(json("\xff\xfe"
                                "AB")),
            "\"\xef\xbf\xbd\xef\xbf\xbd"
            "AB\"");
  nax_mark m{};
  m.mask = NAX_MARK_CODE;
  std::memset(m.code, 'C', sizeof m.code);  // no NUL anywhere
  EXPECT_EQ(naxgw::mark_to_json(m)["code"], std::string(sizeof m.code, 'C'));
  nax_schd_header h{};
  std::memset(h.name, 'N', sizeof h.name);
  EXPECT_EQ(naxgw::schd_header_to_json(h)["name"], std::string(sizeof h.name, 'N'));
}

nax_mark mark(uint32_t id, uint8_t minute, const char* code = "") {
  nax_mark m{};
  m.mask = 0x1FF;
  m.id = id;
  m.date_time = {8, minute, 0, 24, 3, 15, 5};
  m.event = 1;
  std::strncpy(m.code, code, sizeof m.code - 1);
  return m;
}

// Both databases behind the same rules: SQLite, and PostgreSQL when it is installed.
std::vector<std::pair<std::string, std::function<std::unique_ptr<naxgw::Store>()>>> backends(
    const naxgw_test::TempDir& dir) {
  std::vector<std::pair<std::string, std::function<std::unique_ptr<naxgw::Store>()>>> out = {
      {"sqlite", [&dir] { return naxgw::open_sqlite(dir.file("m.db")); }}};
  if (naxgw_test::Postgres* pg = naxgw_test::Postgres::shared()) {
    const std::string url = pg->create("store_test");
    out.emplace_back("postgresql", [url] { return naxgw::open_postgres(url, 1000); });
  }
  return out;
}

TEST(NaxgwStore, EachMarkIsStoredOncePublishedFromTheOutboxAndSurvivesReopening) {
  naxgw_test::TempDir dir;
  for (const auto& [name, open] : backends(dir)) {
    SCOPED_TRACE(name);
    {
      auto store = open();
      const nax_mark first[] = {mark(1, 0), mark(2, 1), mark(3, 2)};
      EXPECT_EQ(store->store("a", first, 3, 3).size(), 3u);
      EXPECT_EQ(store->cursor("a"), 3u);
      // The same page again, and one overlapping with new marks: only the new ones are new.
      EXPECT_TRUE(store->store("a", first, 3, 3).empty());
      const nax_mark overlap[] = {mark(3, 2), mark(4, 3), mark(4, 3, "x")};
      const auto fresh = store->store("a", overlap, 3, 6);
      ASSERT_EQ(fresh.size(), 2u);
      EXPECT_EQ(fresh[0].id, 4u);
      EXPECT_STREQ(fresh[1].code, "x");
      // Another node's identical marks are its own.
      EXPECT_EQ(store->store("b", first, 3, 3).size(), 3u);
      EXPECT_EQ(store->count("a"), 5u);
      EXPECT_EQ(store->cursor("c"), 0u);
      EXPECT_TRUE(store->contains("a", mark(4, 3, "x")));
      EXPECT_FALSE(store->contains("a", mark(4, 4)));
      // The outbox gives the asked nodes' rows oldest first, until they are published.
      const auto out = store->unpublished({"a"}, 4);
      ASSERT_EQ(out.size(), 4u);
      EXPECT_EQ(out[0].body["user_id"], 1);
      EXPECT_EQ(out[0].body["time"], "2024-03-15T08:00:00");
      EXPECT_EQ(out[3].body["user_id"], 4);
      EXPECT_EQ(out[3].body["node"], "a");
      store->set_published({out[0].id, out[1].id, out[2].id, out[3].id});
      EXPECT_EQ(store->unpublished({"a", "b"}, 100).size(), 4u);  // a's fifth and b's three
      EXPECT_TRUE(store->claim("a"));
      EXPECT_TRUE(store->holds("a"));
    }
    auto again = open();
    EXPECT_EQ(again->count("a"), 5u);
    EXPECT_EQ(again->cursor("b"), 3u);
    EXPECT_EQ(again->unpublished({"a"}, 100).size(), 1u);
  }
  // The columns consumers read.
  EXPECT_EQ(naxgw_test::Database(dir.file("m.db"))
                .scalar("SELECT COUNT(*) FROM marks WHERE node = 'a' AND user_id = 4 AND time = "
                        "'2024-03-15T08:03:00' AND event = 1 AND code = 'x' AND published = 0"),
            1);
  EXPECT_THROW(naxgw::open_sqlite(dir.file("no/such/dir/m.db")), naxgw::StoreError);
}

}  // namespace
