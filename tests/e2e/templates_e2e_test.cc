// Biometric templates end to end: a hundred written, read back and compared,
// the echo check, the buffer and length limits, deletion and flushing.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "handlers_templates.h"

namespace {

using e2e::kSimNode;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kTemplateSize = 384;

Bytes pattern(std::size_t n, uint32_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed * 31 + i * 7 + 1);
  return out;
}

// What a read gives back: the template as written, zero-filled to 384 bytes.
Bytes as_read(Bytes written) {
  written.resize(kTemplateSize, 0);
  return written;
}

void store_on_node(naxsim::Simulator& sim, uint16_t sensor, uint32_t access_id, uint8_t id,
                   const Bytes& data) {
  sim.node().with_state<naxsim::Templates>([&](naxsim::Templates& t) {
    t.store[{sensor, access_id, id}] = data;
    return 0;
  });
}

class TemplatesE2E : public e2e::SimFixture {};

TEST_F(TemplatesE2E, HundredTemplatesWrittenReadBackAndCompared) {
  const int32_t link = static_cast<int32_t>(open(2));
  struct Written {
    uint16_t sensor;
    uint32_t access_id;
    uint8_t id;
    Bytes data;
  };
  std::vector<Written> written;
  for (uint32_t i = 0; i < 100; ++i) {
    // Lengths sweep 0..384, the ends included.
    const std::size_t length = i == 99 ? kTemplateSize : (i * 37) % (kTemplateSize + 1);
    written.push_back({static_cast<uint16_t>(i % 3), 100000 + i * 977, static_cast<uint8_t>(i % 10),
                       pattern(length, i)});
    const Written& w = written.back();
    ASSERT_EQ(nax_write_template(link, kSimNode, w.sensor, w.access_id, w.id, w.data.data(),
                                 static_cast<uint32_t>(w.data.size())),
              NAX_OK)
        << i;
  }
  for (const Written& w : written) {
    Bytes buffer(kTemplateSize, 0xEE);
    ASSERT_EQ(nax_read_template(link, kSimNode, w.sensor, w.access_id, w.id, buffer.data(),
                                kTemplateSize),
              NAX_OK);
    EXPECT_EQ(buffer, as_read(w.data)) << w.access_id;
  }
  EXPECT_EQ(sim_->node().with_state<naxsim::Templates>([](auto& t) { return t.store.size(); }),
            100u);
}

TEST_F(TemplatesE2E, ReadWorksOnProtocol1) {
  const Bytes data = pattern(kTemplateSize, 5);
  store_on_node(*sim_, naxsim::kTemplateP1Sensor, 87654321, 2, data);
  const int32_t link = static_cast<int32_t>(open(1));
  Bytes buffer(kTemplateSize);
  EXPECT_EQ(nax_read_template(link, kSimNode, 9, 87654321, 2, buffer.data(), kTemplateSize),
            NAX_OK);
  EXPECT_EQ(buffer, data);
}

TEST_F(TemplatesE2E, Protocol1AccessIdBeyondEightDigitsFailsTheEcho) {
  // Only the low eight digits travel, so the node answers for 87654321.
  const Bytes data = pattern(kTemplateSize, 6);
  store_on_node(*sim_, naxsim::kTemplateP1Sensor, 87654321, 2, data);
  const int32_t link = static_cast<int32_t>(open(1));
  Bytes buffer(kTemplateSize);
  EXPECT_EQ(nax_read_template(link, kSimNode, 0, 187654321, 2, buffer.data(), kTemplateSize),
            NAX_ERR_ECHO_MISMATCH);
  EXPECT_EQ(buffer, data) << "the received template is in the buffer all the same";
}

TEST_F(TemplatesE2E, EchoOfAnotherTemplateIdKeepsTheReceivedBlock) {
  const Bytes data = pattern(kTemplateSize, 7);
  sim_->node().register_handler(
      2, 0x8021, [&](naxsim::Node&, const nax::Packet&, nax::Packet& answer, int) {
        const Bytes echo = {0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x04};  // template 4, not 3
        std::copy(echo.begin(), echo.end(), answer.data);
        std::copy(data.begin(), data.end(), answer.data + echo.size());
        answer.size = static_cast<uint16_t>(echo.size() + data.size());
        return true;
      });
  const int32_t link = static_cast<int32_t>(open(2));
  Bytes buffer(kTemplateSize);
  EXPECT_EQ(nax_read_template(link, kSimNode, 1, 10, 3, buffer.data(), kTemplateSize),
            NAX_ERR_ECHO_MISMATCH);
  EXPECT_EQ(buffer, data);
}

TEST_F(TemplatesE2E, SmallBufferRunsTheExchangeThenIsTooShort) {
  store_on_node(*sim_, 1, 10, 3, pattern(kTemplateSize, 8));
  const int32_t link = static_cast<int32_t>(open(2));
  const uint64_t before = sim_->requests_received();
  Bytes buffer(kTemplateSize - 1, 0xEE);
  EXPECT_EQ(nax_read_template(link, kSimNode, 1, 10, 3, buffer.data(), kTemplateSize - 1),
            NAX_ERR_SHORT_ANSWER);
  EXPECT_EQ(sim_->requests_received(), before + 1);
  EXPECT_EQ(buffer, Bytes(kTemplateSize - 1, 0xEE));
}

TEST_F(TemplatesE2E, OverlongWriteRefusedWithoutTransaction) {
  const int32_t link = static_cast<int32_t>(open(2));
  const Bytes data = pattern(kTemplateSize + 1, 9);
  const uint64_t before = sim_->requests_received();
  EXPECT_EQ(nax_write_template(link, kSimNode, 1, 10, 3, data.data(), kTemplateSize + 1),
            NAX_ERR_INVALID_ARG);
  EXPECT_EQ(sim_->requests_received(), before);
}

TEST_F(TemplatesE2E, DeleteAndFlush) {
  const int32_t link = static_cast<int32_t>(open(2));
  const Bytes data = pattern(10, 1);
  for (uint8_t id = 0; id < 3; ++id) {
    ASSERT_EQ(nax_write_template(link, kSimNode, 1, 50, id, data.data(), 10), NAX_OK);
  }
  ASSERT_EQ(nax_write_template(link, kSimNode, 2, 50, 0, data.data(), 10), NAX_OK);
  EXPECT_EQ(nax_del_template(link, kSimNode, 1, 50, 0x100 + 1), NAX_OK) << "low byte: id 1";
  EXPECT_EQ(nax_del_template(link, kSimNode, 1, 50, 1), naxsim::kTemplateStatusNotFound);
  Bytes buffer(kTemplateSize);
  EXPECT_EQ(nax_read_template(link, kSimNode, 1, 50, 1, buffer.data(), kTemplateSize),
            naxsim::kTemplateStatusNotFound);
  EXPECT_EQ(nax_flush_templates(link, kSimNode, 1), NAX_OK);
  EXPECT_EQ(nax_read_template(link, kSimNode, 1, 50, 2, buffer.data(), kTemplateSize),
            naxsim::kTemplateStatusNotFound);
  EXPECT_EQ(nax_read_template(link, kSimNode, 2, 50, 0, buffer.data(), kTemplateSize), NAX_OK)
      << "another sensor's templates stay";
}

TEST_F(TemplatesE2E, Protocol1RefusalMapsTheErrorByte) {
  const int32_t link = static_cast<int32_t>(open(1));
  Bytes buffer(kTemplateSize);
  // The node's error byte 3 (no such template) reaches the host as 10.
  EXPECT_EQ(nax_read_template(link, kSimNode, 0, 1, 1, buffer.data(), kTemplateSize), 10u);
}

TEST_F(TemplatesE2E, ReadLogsTheEchoAndDumpsTheWholeBuffer) {
  const std::string path = ::testing::TempDir() + "templates" + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_init(path.c_str(), 6), NAX_OK);
  store_on_node(*sim_, 1, 4294967295u, 3, Bytes(kTemplateSize, 0xAB));
  const int32_t link = static_cast<int32_t>(open(2));
  Bytes buffer(400, 0x00);
  ASSERT_EQ(nax_read_template(link, kSimNode, 1, 4294967295u, 3, buffer.data(), 400), NAX_OK);
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(": ") + 2));
  const std::string detail =
      "read template - sensor_id = 1, access_id = 4294967295, template_id = 3, for link id = " +
      std::to_string(link);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), detail), 2) << "requested and echoed";
  std::string expected_dump;
  for (uint32_t i = 0; i < kTemplateSize; ++i) expected_dump += "AB";
  expected_dump += std::string(2 * (400 - kTemplateSize), '0');
  EXPECT_NE(std::find(lines.begin(), lines.end(), expected_dump), lines.end());
  std::remove(path.c_str());
}

}  // namespace
