// Numeric parameters end to end against the simulated node in both protocols.
#include "e2e_support.h"
#include "handlers_params.h"

namespace {

using e2e::kSimNode;

class NumCfgE2E : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  bool p1() const { return GetParam() == 1; }
};

TEST_P(NumCfgE2E, SetValuesReadBackAtTheirWidth) {
  const uint32_t link = open(GetParam());
  struct Case {
    const char* name;
    uint8_t width;
    uint16_t id;
    int32_t written;
    uint32_t read;
  };
  const Case cases[] = {
      {"one byte", 1, 7, 5, 5},
      {"two bytes", 2, 300, 0x2A05, 0x2A05},
      {"one byte keeps the low byte", 1, 8, 0x1234, 0x34},
      {"two bytes keep the low word", 2, 9, -2, 0xFFFE},
      {"highest parameter", 2, naxsim::Params::kParamCount - 1, 65535, 65535},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(nax_set_num_cfg(link, kSimNode, c.width, c.id, c.written), NAX_OK);
    uint32_t value = 0xDEADBEEF;
    ASSERT_EQ(nax_get_num_cfg(link, kSimNode, c.width, c.id, &value), NAX_OK);
    EXPECT_EQ(value, c.read);
  }
  const uint32_t stored = sim_->node().with_state<naxsim::Params>(
      [](naxsim::Params& params) { return params.values[300]; });
  EXPECT_EQ(stored, 0x2A05u);
}

TEST_P(NumCfgE2E, ParameterZeroIsTheNodeNumber) {
  const uint32_t link = open(GetParam());
  uint32_t value = 0;
  ASSERT_EQ(nax_get_num_cfg(link, kSimNode, 2, 0, &value), NAX_OK);
  EXPECT_EQ(value, kSimNode);
  value = 0;
  ASSERT_EQ(nax_get_num_cfg(link, 0xFFFF, 2, 0, &value), NAX_OK) << "asked by broadcast";
  EXPECT_EQ(value, kSimNode);
}

TEST_P(NumCfgE2E, FourByteReadIsRefusedAfterTheExchange) {
  const uint32_t link = open(GetParam());
  ASSERT_EQ(nax_set_num_cfg(link, kSimNode, 4, 12, 0x01020304), NAX_OK);
  const uint64_t before = sim_->requests_received();
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(nax_get_num_cfg(link, kSimNode, 4, 12, &value), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(sim_->requests_received(), before + 1) << "the node was asked all the same";
  EXPECT_EQ(value, 0u);
  // Only the low byte of the width argument counts: 0x102 is width 2.
  EXPECT_EQ(nax_get_num_cfg(link, kSimNode, 0x102, 12, &value), NAX_OK);
  EXPECT_EQ(value, 0x0304u);
}

TEST_P(NumCfgE2E, UnknownParameterIsTheNodesRefusal) {
  const uint32_t link = open(GetParam());
  uint32_t value = 0xDEADBEEF;
  // Protocol 1 returns the result byte (0); protocol 2 the node's status word.
  const uint32_t refused = p1() ? 0u : naxsim::kStatusBadRequest;
  EXPECT_EQ(nax_get_num_cfg(link, kSimNode, 2, naxsim::Params::kParamCount, &value), refused);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(nax_set_num_cfg(link, kSimNode, 2, naxsim::Params::kParamCount, 1), refused);
  EXPECT_EQ(nax_set_num_cfg(link, kSimNode, 3, 1, 1), refused) << "no 3-byte parameters";
}

TEST_P(NumCfgE2E, FailedExchangeLeavesTheValue) {
  const uint32_t link = open(GetParam(), 200);
  naxsim::Faults faults;
  faults.no_answer = true;
  sim_->set_faults(faults);
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(nax_get_num_cfg(link, kSimNode, 2, 1, &value), NAX_ERR_NO_ANSWER);
  EXPECT_EQ(value, 0xDEADBEEFu);
  EXPECT_EQ(nax_set_num_cfg(link, kSimNode, 2, 1, 1), NAX_ERR_NO_ANSWER);
}

INSTANTIATE_TEST_SUITE_P(Protocols, NumCfgE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
