// naxctl's readers and writers of what operators type and the files they keep.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "csv.h"
#include "json.h"
#include "numbers.h"
#include "output.h"
#include "records.h"
#include "session.h"

namespace naxctl {
namespace {

TEST(NaxctlNumbers, ParsesDecimalAndHexWithinRange) {
  struct Case {
    const char* text;
    int64_t min, max;
    std::optional<int64_t> want;
  };
  const Case cases[] = {
      {"0", 0, 65535, 0},
      {"0x100", 0, 65535, 256},
      {"0100", 0, 65535, 100},  // leading zeros stay decimal
      {"65535", 0, 65535, 65535},
      {"65536", 0, 65535, std::nullopt},
      {"-5", INT32_MIN, INT32_MAX, -5},
      {"-0x10", -100, 100, -16},
      {"0xFFFFFFFF", 0, UINT32_MAX, 4294967295},
      {"", 0, 10, std::nullopt},
      {"12a", 0, 1000, std::nullopt},
      {"99999999999999999999999", 0, INT64_MAX, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_number(c.text, c.min, c.max), c.want) << "'" << c.text << "'";
  }
}

TEST(NaxctlDateTime, ParsesOnlyRealDatesOfTheNodesCenturyAndNamesTheFault) {
  struct Case {
    const char* text;
    const char* problem;  // part of the message; "" when valid
    nax_date_time want;   // hour, minute, second, year, month, day, weekday
  };
  const Case cases[] = {
      {"2024-02-29 23:59:58", "", {23, 59, 58, 24, 2, 29, 4}},
      {"2024-02-29T23:59:58", "", {23, 59, 58, 24, 2, 29, 4}},
      {"2000-01-01 00:00:00", "", {0, 0, 0, 0, 1, 1, 6}},
      {"2099-12-31 12:30:00", "", {12, 30, 0, 99, 12, 31, 4}},
      {"2025-02-30 08:00:00", "has no day 30: February 2025 has 28 days", {}},
      {"2024-04-31 10:00:00", "has no day 31: April 2024 has 30 days", {}},
      {"2024-13-01 10:00:00", "has no month 13", {}},
      {"1999-12-31 10:00:00", "has a year outside 2000 to 2099", {}},
      {"2024-02-29 24:00:00", "has no time 24:00:00", {}},
      {"2024-02-29 23:60:00", "has no time 23:60:00", {}},
      {"2024-2-29 23:59:58", "is not in the form \"YYYY-MM-DD hh:mm:ss\"", {}},
      {"2024-02-29 23:59:58 ", "is not in the form", {}},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(date_time_problem(c.text), ::testing::HasSubstr(c.problem)) << c.text;
    const auto got = parse_date_time(c.text);
    ASSERT_EQ(got.has_value(), *c.problem == '\0') << c.text;
    if (!got) continue;
    const nax_date_time& w = c.want;
    EXPECT_EQ(std::vector<int>({got->hour, got->minute, got->second, got->year, got->month,
                                got->day, got->weekday}),
              std::vector<int>({w.hour, w.minute, w.second, w.year, w.month, w.day, w.weekday}))
        << c.text;
    EXPECT_EQ(format_date_time(*got), std::string(c.text).replace(10, 1, " "));
  }
}

TEST(NaxctlSegments, ReadsHoursMinutesAndTheEnabledFlag) {
  struct Case {
    const char* text;
    std::optional<nax_schd_segment> want;
  };
  const Case cases[] = {
      {"08:30", nax_schd_segment{8, 30, 1}},
      {"08:30/1", nax_schd_segment{8, 30, 1}},
      {"23:59/0", nax_schd_segment{23, 59, 0}},
      {"24:00", std::nullopt},
      {"8:30", std::nullopt},
      {"08:60", std::nullopt},
      {"08:30/2", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = parse_segment(c.text);
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.text;
    if (!got) continue;
    EXPECT_EQ(got->hours, c.want->hours) << c.text;
    EXPECT_EQ(got->minutes, c.want->minutes) << c.text;
    EXPECT_EQ(got->enabled, c.want->enabled) << c.text;
    EXPECT_EQ(parse_segment(format_segment(*got))->enabled, got->enabled);
  }
}

TEST(NaxctlCsv, QuotesOnlyWhereNeededAndReadsItBack) {
  const CsvRow row = {"plain", "a,b", "say \"hi\"", "two\nlines", ""};
  const std::string line = csv_line(row);
  EXPECT_EQ(line, "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\",");
  const auto rows = csv_parse(line + "\r\n\r\nnext,row\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], row);
  EXPECT_EQ(rows[1], (CsvRow{"next", "row"}));
}

TEST(NaxctlCsv, RefusesBrokenQuotingNamingTheLine) {
  struct Case {
    const char* doc;
    const char* message;
  };
  const Case cases[] = {
      {"id\n\"12,3\n", "line 2: quote not closed"},
      {"id,text\n1,\"ab\"c\n", "line 2: text after a closing quote"},
  };
  for (const auto& c : cases) {
    try {
      csv_parse(c.doc);
      ADD_FAILURE() << "accepted: " << c.doc;
    } catch (const CsvError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(NaxctlJson, KeepsNumbersAsWrittenAndKeysInOrder) {
  Json doc = Json::object();
  doc.add("id", Json::number(uint64_t{4294967295}));
  doc.add("neg", Json::number(int64_t{-7}));
  doc.add("list", Json::array().push(Json::boolean(true)).push(Json()));
  EXPECT_EQ(doc.dump(), "{\"id\":4294967295,\"neg\":-7,\"list\":[true,null]}");
  EXPECT_EQ(Json::parse(doc.dump(2)).dump(), doc.dump());
  EXPECT_THROW(Json::parse("[1,]"), JsonError);
}

TEST(NaxctlUsers, CsvRoundTripKeepsExactlyTheFieldsGiven) {
  nax_user a{};
  set_user_field(a, "id", "87654321");
  set_user_field(a, "psw", "0x10");
  set_user_field(a, "text1", "Quote \"Q\", comma");
  nax_user b{};
  set_user_field(b, "id", "2");
  set_user_field(b, "schedule-id", "300");
  set_user_field(b, "anti_passback", "1");
  EXPECT_EQ(a.mask, NAX_USER_ID | NAX_USER_PSW | NAX_USER_TEXT1);
  const auto back = users_from_csv(users_to_csv({a, b}));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].mask, a.mask);
  EXPECT_EQ(back[0].id, 87654321u);
  EXPECT_EQ(back[0].psw, 16);
  EXPECT_STREQ(back[0].text1, "Quote \"Q\", comma");
  EXPECT_EQ(back[1].mask, NAX_USER_ID | NAX_USER_SCHEDULE_ID | NAX_USER_ANTI_PASSBACK);
  EXPECT_EQ(back[1].schedule_id, 300);
}

TEST(NaxctlUsers, JsonDocumentsInBothShapes) {
  const auto plain = users_from_document(R"([{"id": 5, "text1": "Ann", "st": "2"}])");
  const auto wrapped = users_from_document(R"(  {"users": [{"id": "0x10", "psw": null}]})");
  ASSERT_EQ(plain.size(), 1u);
  EXPECT_EQ(plain[0].mask, NAX_USER_ID | NAX_USER_TEXT1 | NAX_USER_ST);
  EXPECT_EQ(plain[0].st, 2);
  ASSERT_EQ(wrapped.size(), 1u);
  EXPECT_EQ(wrapped[0].id, 16u);
  EXPECT_EQ(wrapped[0].mask, NAX_USER_ID);  // null leaves a field out
  EXPECT_EQ(user_to_json(plain[0]).dump(), R"({"id":5,"st":2,"text1":"Ann"})");
}

TEST(NaxctlUsers, BadInputNamesWhereItIs) {
  struct Case {
    std::string doc;
    const char* message;
  };
  const Case cases[] = {
      {"id,psw\n1,2\n,3\n", "CSV row 3: no id"},
      {"id,colour\n1,red\n", "unknown user field 'colour'"},
      {"psw\n1\n", "no \"id\" column"},
      {"id,st\n1,256\n", "CSV row 2: st: '256' is not a number in 0..255"},
      {"id,text1\n1," + std::string(255, 'x') + "\n", "text1: longer than 254 characters"},
      {R"([{"psw": 1}])", "JSON user 1: a user without \"id\""},
      {R"([{"id": 1}, {"id": [2]}])", "JSON user 2: id: must be a number or a text"},
      {R"([{"id": 1,}])", "JSON at byte"},
  };
  for (const auto& c : cases) {
    try {
      users_from_document(c.doc);
      ADD_FAILURE() << "accepted: " << c.doc;
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << "got: " << e.what() << "\nwanted: " << c.message;
    }
  }
}

TEST(NaxctlAux, ExtraTakesExactlyEightBytesOfHex) {
  nax_aux_input input{};
  set_aux_field(input, "extra", "0102030405060708");
  set_aux_field(input, "ev-in-condition", "-2");
  EXPECT_EQ(input.extra[0], 1);
  EXPECT_EQ(input.extra[7], 8);
  EXPECT_EQ(input.ev_in_condition, -2);
  EXPECT_THROW(set_aux_field(input, "extra", "01020304050607"), InputError);
  EXPECT_THROW(set_aux_field(input, "extra", "0102030405060708zz"), InputError);
  EXPECT_THROW(set_aux_field(input, "time_on", "300"), InputError);
  EXPECT_EQ(aux_to_json(3, input).find("extra")->text(), "0102030405060708");
}

TEST(NaxctlCrc, MatchesTheIeeeCheckValue) {
  const std::string check = "123456789";
  EXPECT_EQ(crc32_of(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
  EXPECT_EQ(crc32_of(nullptr, 0), 0u);
}

}  // namespace
}  // namespace naxctl

TEST(NaxctlProgress, ShowsRateAndTimeLeftOnceTimeHasPassed) {
  struct Case {
    uint64_t done;
    uint64_t total;
    double elapsed_s;
    const char* expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {0, 1000, 0.0, "marks [                              ]   0% 0/1000"},
      {400, 1000, 2.0, "marks [############                  ]  40% 400/1000  200.0/s  3s left"},
      {1000, 1000, 4.0, "marks [##############################] 100% 1000/1000  250.0/s"},
      {300, 0, 1.5, "marks 300  200.0/s"},
      {300, 0, 0.0, "marks 300"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(naxctl::progress_line("marks", c.done, c.total, c.elapsed_s), c.expected);
  }
}

TEST(NaxctlConn, ChecksTheConnectionStringBeforeTheLibrary) {
  struct Case {
    const char* conn;
    bool serial;
    const char* path;
    const char* error;  // a part of it; "" when accepted
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"node.example 65535", false, "", ""},
      {"ttyS0:115200", true, "/dev/ttyS0", ""},
      {"/dev/pts/3:19200", true, "/dev/pts/3", ""},
      {"COM3:9600", true, "/dev/com3", ""},
      {"h:", false, "", "port \"\" is not a number"},
  };
  // clang-format on
  for (const auto& c : cases) {
    const naxctl::ConnTarget t = naxctl::parse_conn(c.conn);
    EXPECT_THAT(t.error, ::testing::HasSubstr(c.error)) << c.conn;
    if (*c.error == '\0') {
      EXPECT_EQ(t.error, "") << c.conn;
      EXPECT_EQ(t.serial, c.serial) << c.conn;
      EXPECT_EQ(t.path, c.path) << c.conn;
    }
  }
}
