// naxctl's readers and writers of what operators type and the files they keep.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "numbers.h"
#include "records.h"
#include "session.h"

namespace naxctl {
namespace {

using ::testing::HasSubstr;

TEST(NaxctlNumbers, ParsesDecimalAndHexWithinRange) {
  const std::tuple<const char*, int64_t, int64_t, std::optional<int64_t>> cases[] = {
      {"0", 0, 65535, 0},
      {"0x100", 0, 65535, 256},
      {"0100", 0, 65535, 100},  // leading zeros stay decimal
      {"65535", 0, 65535, 65535},
      {"65536", 0, 65535, std::nullopt},
      {"-5", INT32_MIN, INT32_MAX, -5},
      {"-0x10", -100, 100, -16},
      {"-1", 0, 10, std::nullopt},
      {"0xFFFFFFFF", 0, UINT32_MAX, 4294967295},
      {"0xabcdef", 0, UINT32_MAX, 11259375},
      {"0xg", 0, 100, std::nullopt},
      {"", 0, 10, std::nullopt},
      {"12a", 0, 1000, std::nullopt},
      {"99999999999999999999999", 0, INT64_MAX, std::nullopt},
  };
  for (const auto& [text, min, max, want] : cases) {
    EXPECT_EQ(parse_number(text, min, max), want) << "'" << text << "'";
  }
}

TEST(NaxctlDateTime, ParsesOnlyRealDatesOfTheNodesCenturyAndNamesTheFault) {
  // hour, minute, second, year, month, day, weekday
  const std::pair<const char*, std::vector<int>> valid[] = {
      {"2024-02-29 23:59:58", {23, 59, 58, 24, 2, 29, 4}},
      {"2024-02-29T23:59:58", {23, 59, 58, 24, 2, 29, 4}},
      {"2000-01-01 00:00:00", {0, 0, 0, 0, 1, 1, 6}},
      {"2099-12-31 12:30:00", {12, 30, 0, 99, 12, 31, 4}},
  };
  for (const auto& [text, want] : valid) {
    const auto t = parse_date_time(text);
    ASSERT_TRUE(t) << text;
    EXPECT_EQ(
        std::vector<int>({t->hour, t->minute, t->second, t->year, t->month, t->day, t->weekday}),
        want);
    EXPECT_EQ(format_date_time(*t), std::string(text).replace(10, 1, " "));
  }
  const std::pair<const char*, const char*> invalid[] = {
      {"2025-02-30 08:00:00", "has no day 30: February 2025 has 28 days"},
      {"2024-04-31 10:00:00", "has no day 31: April 2024 has 30 days"},
      {"2024-13-01 10:00:00", "has no month 13"},
      {"1999-12-31 10:00:00", "has a year outside 2000 to 2099"},
      {"2024-02-29 24:00:00", "has no time 24:00:00"},
      {"2024-02-29 23:60:00", "has no time 23:60:00"},
      {"2024-2-29 23:59:58", "is not in the form \"YYYY-MM-DD hh:mm:ss\""},
      {"2024-02-29 23:59:58 ", "is not in the form"},
  };
  for (const auto& [text, problem] : invalid) {
    EXPECT_FALSE(parse_date_time(text)) << text;
    EXPECT_THAT(date_time_problem(text), HasSubstr(problem));
  }
}

TEST(NaxctlSegments, RefusesWhatIsNoTimeOfDayOrFlag) {
  for (const char* text : {"24:00", "8:30", "08:60", "08:30/2", "08:30/"}) {
    EXPECT_FALSE(parse_segment(text)) << text;
  }
  EXPECT_EQ(format_segment(*parse_segment("23:59/0")), "23:59/0");
}

TEST(NaxctlUsers, CsvAndJsonDocumentsSetExactlyTheFieldsGiven) {
  // Read from CSV, written to CSV and read again: only the fields given, with their values.
  const auto users = users_from_csv(users_to_csv(users_from_document(
      "id,psw,text1,schedule-id,anti_passback\n87654321,0x10,\"Quote \"\"Q\"\", comma\",,\n"
      "2,,,300,1\n")));
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(user_to_json(users[0]).dump(),
            R"({"id":87654321,"psw":16,"text1":"Quote \"Q\", comma"})");
  EXPECT_EQ(user_to_json(users[1]).dump(), R"({"id":2,"schedule_id":300,"anti_passback":1})");
  const auto json = users_from_document(R"(  {"users": [{"id": "0x10", "psw": null, "st": "2"}]})");
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(user_to_json(json[0]).dump(), R"({"id":16,"st":2})");  // null leaves a field out
}

TEST(NaxctlUsers, BadInputNamesWhereItIs) {
  const std::vector<std::pair<std::string, const char*>> cases = {
      {"id,psw\n1,2\n,3\n", "CSV row 3: no id"},
      {"id,colour\n1,red\n", "unknown user field 'colour'"},
      {"psw\n1\n", "no \"id\" column"},
      {"id,st\n1,256\n", "CSV row 2: st: '256' is not a number in 0..255"},
      {"id,text1\n1," + std::string(255, 'x') + "\n", "text1: longer than 254 characters"},
      {"id\n\"12,3\n", "line 2: quote not closed"},
      {"id,text\n1,\"ab\"c\n", "line 2: text after a closing quote"},
      {R"([{"psw": 1}])", "JSON user 1: a user without \"id\""},
      {R"([{"id": 1}, {"id": [2]}])", "JSON user 2: id: must be a number or a text"},
      {R"([{"id": 1,}])", "JSON at byte"},
  };
  for (const auto& [doc, message] : cases) {
    try {
      users_from_document(doc);
      ADD_FAILURE() << "accepted: " << doc;
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(message));
    }
  }
}

TEST(NaxctlAux, ExtraTakesExactlyEightBytesOfHex) {
  nax_aux_input input{};
  set_aux_field(input, "extra", "0102030405060708");
  set_aux_field(input, "ev-in-condition", "-2");
  EXPECT_EQ(std::vector<int>(input.extra, input.extra + 8),
            (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(input.ev_in_condition, -2);
  EXPECT_THROW(set_aux_field(input, "extra", "01020304050607"), InputError);
  EXPECT_THROW(set_aux_field(input, "extra", "0102030405060708zz"), InputError);
  EXPECT_THROW(set_aux_field(input, "time_on", "300"), InputError);
}

TEST(NaxctlConn, ChecksTheConnectionStringBeforeTheLibrary) {
  // Connection string, serial, device path, a part of the error ("" when accepted).
  const std::tuple<const char*, bool, const char*, const char*> cases[] = {
      {"node.example 65535", false, "", ""},
      {"ttyS0:115200", true, "/dev/ttyS0", ""},
      {"/dev/pts/3:19200", true, "/dev/pts/3", ""},
      {"COM3:9600", true, "/dev/com3", ""},
      {"h:", false, "", "port \"\" is not a number"},
      {"nocolon", false, "", "\"nocolon\" is not DEVICE:PARAMETER"},
  };
  for (const auto& [conn, serial, path, error] : cases) {
    const ConnTarget t = parse_conn(conn);
    EXPECT_THAT(t.error, HasSubstr(error)) << conn;
    EXPECT_EQ(std::tuple(t.error.empty(), t.serial, t.path),
              std::tuple(*error == '\0', serial, std::string(path)))
        << conn;
  }
}

}  // namespace
}  // namespace naxctl
