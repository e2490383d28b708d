// The two golden tests every codec family instantiates with its own rows.
#include <gtest/gtest.h>

#include <cstring>

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

TEST_P(CodecRequest, EncodesGoldenBytes) {
  const RequestRow& row = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(row.encode(request), row.status);
  if (row.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, row.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(Bytes(request.data, request.data + request.size), row.data);
}

TEST_P(CodecAnswer, DecodesGoldenBytes) {
  const AnswerRow& row = GetParam();
  std::string out;
  EXPECT_EQ(row.decode(answer_of(row.answer_status, row.answer_data), out), row.status);
  EXPECT_EQ(out, row.out);
}

}  // namespace
}  // namespace nax::codec_test
