// Node-side field codecs and event payloads, byte for byte.
#include "wire.h"

#include <gtest/gtest.h>

#include <vector>

namespace naxsim {
namespace {

std::vector<uint8_t> data_of(const nax::nax_packet& packet) {
  return std::vector<uint8_t>(packet.data, packet.data + packet.size);
}

nax_date_time date_time(uint8_t year, uint8_t month, uint8_t day, uint8_t hour, uint8_t minute,
                        uint8_t second, uint8_t weekday) {
  nax_date_time dt{};
  dt.year = year;
  dt.month = month;
  dt.day = day;
  dt.hour = hour;
  dt.minute = minute;
  dt.second = second;
  dt.weekday = weekday;
  return dt;
}

TEST(NaxsimWire, PackedBcdByte) {
  struct Case {
    uint8_t value;
    uint8_t byte;
  };
  const Case cases[] = {{0, 0x00},  {9, 0x09},   {10, 0x10},  {59, 0x59},
                        {99, 0x99}, {100, 0x10}, {123, 0x12}, {255, 0x25}};
  for (const Case& c : cases) {
    EXPECT_EQ(to_bcd(c.value), c.byte) << int(c.value);
  }
  EXPECT_EQ(from_bcd(0x59), 59);
  EXPECT_EQ(from_bcd(0x00), 0);
  EXPECT_EQ(from_bcd(0x1F), 25);  // nibbles are not checked
}

TEST(NaxsimWire, EightDigitIdentifier) {
  struct Case {
    uint32_t value;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {87654321, {0x87, 0x65, 0x43, 0x21}},
      {7, {0x00, 0x00, 0x00, 0x07}},
      {4294967295u, {0x94, 0x96, 0x72, 0x95}},  // only the last eight digits travel
      {100000000, {0x00, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(4);
    put_bcd8(out.data(), c.value);
    EXPECT_EQ(out, c.bytes) << c.value;
  }
}

TEST(NaxsimWire, PackedMarkDateTime) {
  struct Case {
    const char* name;
    nax_date_time time;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      // Year 0x24 = 00 1 00 100: only b1 bit 7 and b3 bits 7-5 carry ones.
      {"leap day", date_time(24, 2, 29, 23, 59, 58, 4), {0x23, 0xD9, 0x29, 0x82}},
      // Year 0x99 = 10 0 11 001.
      {"last day", date_time(99, 12, 31, 0, 0, 0, 0), {0x80, 0x00, 0xF1, 0x32}},
      {"all zero", date_time(0, 1, 1, 0, 0, 0, 0), {0x00, 0x00, 0x01, 0x01}},
      // Year 0x77 = 01 1 10 111: every group of year bits is non-zero.
      {"year bits", date_time(77, 1, 1, 0, 0, 0, 0), {0x40, 0x80, 0x81, 0xE1}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(4);
    pack_mark_date_time(c.time, out.data());
    EXPECT_EQ(out, c.bytes) << c.name;
  }
}

TEST(NaxsimWire, DateTimeFieldOrder) {
  std::vector<uint8_t> out(kDateTimeSize);
  put_date_time(out.data(), date_time(24, 2, 29, 23, 59, 58, 4));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}));

  nax_date_time back{};
  ASSERT_TRUE(get_date_time(out.data(), out.size(), back));
  EXPECT_EQ(back.year, 24);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.second, 58);
  EXPECT_FALSE(get_date_time(out.data(), 6, back));
}

TEST(NaxsimWire, UserEventProtocol1) {
  UserEvent event{};
  event.id = 12345678;
  event.index = 4;
  event.direction_word = 0x0102;
  event.event_word = 2048;
  event.time = date_time(24, 2, 29, 23, 59, 58, 4);
  nax::nax_packet packet;
  encode_user_event_p1(event, packet);
  EXPECT_EQ(packet.cmd, 0x0012);
  EXPECT_EQ(data_of(packet),
            (std::vector<uint8_t>{0x01, 0x00, 0x12, 0x34, 0x56, 0x78, 0x02, 0x01, 0x00, 0x08, 0x05,
                                  0x00, 0x23, 0xD9, 0x29, 0x82}));

  event.result = 0;
  encode_user_event_p1(event, packet);
  EXPECT_EQ(packet.data[0], 0x00);
}

TEST(NaxsimWire, UserEventProtocol2) {
  UserEvent event{};
  event.id = 0x01020304;
  event.index = 0x0506;
  event.event = 0x6B;
  event.direction = 0x02;
  event.time = date_time(24, 2, 29, 23, 59, 58, 4);
  event.status = 7;
  nax::nax_packet packet;
  encode_user_event_p2(event, packet);
  EXPECT_EQ(packet.cmd, 0x8050);
  EXPECT_EQ(packet.status, 7);
  EXPECT_EQ(data_of(packet), (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x6B, 0x02,
                                                   0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}));
}

TEST(NaxsimWire, AuxEventProtocol2) {
  AuxEvent event{3, 1, date_time(24, 2, 29, 23, 59, 58, 4)};
  nax::nax_packet packet;
  encode_aux_event_p2(event, packet);
  EXPECT_EQ(packet.cmd, 0x8051);
  EXPECT_EQ(packet.status, 1);
  EXPECT_EQ(data_of(packet),
            (std::vector<uint8_t>{0x03, 0x01, 0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}));
}

}  // namespace
}  // namespace naxsim
