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
  // Text, weekday (0 = Sunday).
  for (const auto& [text, weekday] :
       {std::pair{"2024-02-29T23:59:58", 4}, std::pair{"2024-02-29 00:00:00", 4},
        std::pair{"2000-01-01T00:00:00", 6}, std::pair{"2099-12-31T23:59:59", 4}}) {
    const nax_date_time t = naxgw::parse_iso_time(text);
    EXPECT_EQ(t.weekday, weekday) << text;
    EXPECT_EQ(naxgw::iso_time(t), std::string(text).replace(10, 1, "T"));
  }
  for (const char* text :
       {"2023-02-29T00:00:00", "1999-12-31T23:59:59", "2100-01-01T00:00:00", "2024-13-01T00:00:00",
        "2024-04-31T00:00:00", "2024-01-01T24:00:00", "2024-01-01T00:60:00", "2024-01-01T00:00:60",
        "2024-01-01T00:00:00Z", "2024-01-01", "", "2024-01-01X00:00:00", "-024-01-01T00:00:00"}) {
    EXPECT_THROW(naxgw::parse_iso_time(text), BadRequest) << text;
  }
}

TEST(NaxgwRecords, EventsAndNodeTextsAsPublished) {
  const nax_user_event user{4000000001u, 12, 0x21, 2, {7, 30, 15, 24, 2, 29, 4}};
  EXPECT_EQ(naxgw::user_event_to_json(user), json({{"user_id", 4000000001u},
                                                   {"index", 12},
                                                   {"event", 0x21},
                                                   {"direction", 2},
                                                   {"time", "2024-02-29T07:30:15"},
                                                   {"weekday", 4}}));
  const nax_aux_input_event aux{3, 1, {23, 59, 59, 99, 12, 31, 4}};
  EXPECT_EQ(naxgw::aux_event_to_json(aux)["time"], "2099-12-31T23:59:59");
  EXPECT_EQ(naxgw::aux_event_to_json(aux)["input"], 3);
  // Texts from a node need not be UTF-8, nor end within their field.
  EXPECT_EQ(naxgw::to_text(json("\xff\xfe\x41\x42")), "\"\uFFFD\uFFFDAB\"");
  nax_mark m{};
  m.mask = NAX_MARK_CODE;
  std::memset(m.code, 'C', sizeof m.code);
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
TEST(NaxgwStore, EachMarkIsStoredOncePublishedFromTheOutboxAndSurvivesReopening) {
  naxgw_test::TempDir dir;
  std::vector<std::function<std::unique_ptr<naxgw::Store>()>> backends = {
      [&dir] { return naxgw::open_sqlite(dir.file("m.db")); }};
  if (naxgw_test::Postgres* pg = naxgw_test::Postgres::shared()) {
    backends.push_back(
        [url = pg->create("store_test")] { return naxgw::open_postgres(url, 1000); });
  }
  for (const auto& open : backends) {
    {
      auto store = open();
      const nax_mark first[] = {mark(1, 0), mark(2, 1), mark(3, 2)};
      EXPECT_EQ(store->store("a", first, 3, 3).size(), 3u);
      // The same page again, and one overlapping with new marks: only the new ones are new.
      EXPECT_TRUE(store->store("a", first, 3, 3).empty());
      const nax_mark overlap[] = {mark(3, 2), mark(4, 3), mark(4, 3, "x")};
      const auto fresh = store->store("a", overlap, 3, 6);
      ASSERT_EQ(fresh.size(), 2u);
      EXPECT_STREQ(fresh[1].code, "x");
      // Another node's identical marks are its own.
      EXPECT_EQ(store->store("b", first, 3, 3).size(), 3u);
      EXPECT_EQ(store->count("a"), 5u);
      EXPECT_TRUE(store->contains("a", mark(4, 3, "x")));
      EXPECT_FALSE(store->contains("a", mark(4, 4)));
      // The outbox gives the asked nodes' rows oldest first, until they are published.
      const auto out = store->unpublished({"a"}, 4);
      ASSERT_EQ(out.size(), 4u);
      EXPECT_EQ(out[0].body["time"], "2024-03-15T08:00:00");
      EXPECT_EQ(out[3].body["user_id"], 4);
      EXPECT_EQ(out[3].body["node"], "a");
      store->set_published({out[0].id, out[1].id, out[2].id, out[3].id});
      EXPECT_EQ(store->unpublished({"a", "b"}, 100).size(), 4u);  // a's fifth and b's three
    }
    auto again = open();
    EXPECT_EQ(again->count("a"), 5u);
    EXPECT_EQ(again->cursor("b"), 3u);
    EXPECT_EQ(again->unpublished({"a"}, 100).size(), 1u);
  }
  // The columns consumers read.
  EXPECT_EQ(
      naxgw_test::sqlite_value(dir.file("m.db"),
                               "SELECT COUNT(*) FROM marks WHERE node = 'a' AND user_id = 4 AND "
                               "time = '2024-03-15T08:03:00' AND code = 'x' AND published = 0"),
      1);
  EXPECT_THROW(naxgw::open_sqlite(dir.file("no/such/dir/m.db")), naxgw::StoreError);
}

}  // namespace
