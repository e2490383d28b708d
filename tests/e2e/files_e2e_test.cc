// Files end to end: a 100 KB file written and read back in chunks with the node's
// CRC-32 checked on the host, deletion, and the limits checked before sending.
#include <string>
#include <vector>

#include "e2e_support.h"
#include "handlers_files.h"

namespace {

using e2e::kSimNode;
using Bytes = std::vector<uint8_t>;

// The host's own CRC-32 (IEEE, reflected), to check the node's value independently.
uint32_t crc32_of(const Bytes& data) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

class FilesE2E : public e2e::SimFixture {};

TEST(FilesCrc, KnownValue) {
  EXPECT_EQ(crc32_of(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0xCBF43926u);
}

TEST_F(FilesE2E, HundredKilobytesWrittenAndReadBackInChunks) {
  const int32_t link = static_cast<int32_t>(open(2));
  Bytes content(100 * 1024);
  uint32_t seed = 12345;
  for (uint8_t& b : content) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  uint32_t fsize = 99;
  ASSERT_EQ(nax_fopen(link, kSimNode, "logs/big.bin", naxsim::kFileWrite, &fsize), NAX_OK);
  EXPECT_EQ(fsize, 0u);
  for (std::size_t at = 0; at < content.size(); at += 512) {
    const uint32_t len = static_cast<uint32_t>(std::min<std::size_t>(512, content.size() - at));
    ASSERT_EQ(nax_fwrite(link, kSimNode, content.data() + at, len), NAX_OK) << at;
  }
  uint32_t crc = 0;
  ASSERT_EQ(nax_fclose(link, kSimNode, &crc), NAX_OK);
  EXPECT_EQ(crc, crc32_of(content));

  ASSERT_EQ(nax_fopen(link, kSimNode, "logs/big.bin", naxsim::kFileRead, &fsize), NAX_OK);
  EXPECT_EQ(fsize, content.size());
  Bytes back;
  for (;;) {
    uint8_t chunk[300];
    uint32_t read_bytes = 0;
    ASSERT_EQ(nax_fread(link, kSimNode, chunk, sizeof chunk, &read_bytes), NAX_OK);
    if (read_bytes == 0) break;
    back.insert(back.end(), chunk, chunk + read_bytes);
  }
  EXPECT_EQ(back, content);
  crc = 0;
  ASSERT_EQ(nax_fclose(link, kSimNode, &crc), NAX_OK);
  EXPECT_EQ(crc, crc32_of(content));
}

TEST_F(FilesE2E, DeletedFileIsGone) {
  const int32_t link = static_cast<int32_t>(open(2));
  uint32_t fsize = 0;
  ASSERT_EQ(nax_fopen(link, kSimNode, "", naxsim::kFileWrite, &fsize), NAX_OK) << "empty name";
  uint32_t crc = 7;
  ASSERT_EQ(nax_fclose(link, kSimNode, &crc), NAX_OK);
  EXPECT_EQ(crc, 0u) << "CRC-32 of nothing";
  ASSERT_EQ(nax_fdel(link, kSimNode, ""), NAX_OK);
  EXPECT_EQ(nax_fdel(link, kSimNode, ""), naxsim::kFileStatusNotFound);
  fsize = 99;
  EXPECT_EQ(nax_fopen(link, kSimNode, "", naxsim::kFileRead, &fsize), naxsim::kFileStatusNotFound);
  EXPECT_EQ(fsize, 0u);
  crc = 7;
  EXPECT_EQ(nax_fclose(link, kSimNode, &crc), naxsim::kFileStatusNotOpen);
  EXPECT_EQ(crc, 7u) << "written only on success";
}

TEST_F(FilesE2E, NameAndChunkLimits) {
  const int32_t link = static_cast<int32_t>(open(2));
  // Flags and name fill the 512 data bytes a node takes in one packet.
  const std::string name507(507, 'n');
  uint32_t fsize = 0;
  ASSERT_EQ(nax_fopen(link, kSimNode, name507.c_str(), naxsim::kFileAppend, &fsize), NAX_OK);
  EXPECT_EQ(sim_->node().with_state<naxsim::Files>([](auto& f) { return f.open_name; }), name507);
  const Bytes chunk(513, 1);
  const std::string name508(508, 'n');
  const std::string name511(511, 'n');
  const uint64_t before = sim_->requests_received();
  EXPECT_EQ(nax_fwrite(link, kSimNode, chunk.data(), 513), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_fopen(link, kSimNode, name511.c_str(), 0, &fsize), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_fdel(link, kSimNode, name511.c_str()), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_fopen(link, kSimNode, nullptr, 0, &fsize), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_fwrite(link, kSimNode, nullptr, 1), NAX_ERR_INVALID_ARG);
  uint32_t read_bytes = 5;
  EXPECT_EQ(nax_fread(link, kSimNode, nullptr, 1, &read_bytes), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(read_bytes, 5u);
  EXPECT_EQ(sim_->requests_received(), before);
  EXPECT_EQ(nax_fwrite(link, kSimNode, chunk.data(), 512), NAX_OK);
  EXPECT_EQ(nax_fwrite(link, kSimNode, chunk.data(), 0), NAX_OK);

  // Names of 508 to 510 characters are sent (up to 515 data bytes), not
  // refused; the simulated node's receiver drops frames above 512 data bytes,
  // so no answer comes.
  ASSERT_EQ(nax_set_rcv_timeout(link, 200), NAX_OK);
  for (std::size_t length : {508u, 510u}) {
    const std::string name(length, 'n');
    EXPECT_EQ(nax_fopen(link, kSimNode, name.c_str(), 0, &fsize), NAX_ERR_NO_ANSWER) << length;
  }
}

}  // namespace
