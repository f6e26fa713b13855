// Interoperation with independent LHA-family tools, used as black boxes: lhasa extracts our
// streams, and jlha's -lh5- members expand with our expander.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/lh5.h"
#include "tests/support/lha.h"
#include "tests/support/scratch.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kMemberName[] = "data.bin";

bool HavePeer(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// One "-lh5-" member named kMemberName behind a level-0 header.
Bytes LhaLevel0Archive(const Bytes& stream, const Bytes& plain, uint16_t crc) {
  return test::LhaLevel0Archive("-lh5-", kMemberName, stream, plain, crc,
                                0x50210000);  // 1 January 2020, midnight
}

// Runs a command in the scratch folder, its output into log.txt there.
int RunIn(const test::TScratchFolder& scratch, const std::string& command) {
  return std::system(
      ("cd '" + scratch.Root.string() + "' && " + command + " >log.txt 2>&1").c_str());
}

std::vector<std::pair<std::string, Bytes>> PeerInputs() {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"text", test::TextBytes(60000, 11)},
      {"executable", test::ReadFile("/proc/self/exe", 120000)},
      {"short", {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'}},
      {"repeats", Bytes(20000, 0)},
      {"zero runs of 19 and 20 lengths", test::ZeroRunBytes(5000, 12)},
  };
  // Where a stream ends matters now that the expander reads no bit past it: tiny inputs, and
  // sizes around a window, an all-literal block and a stream buffer.
  for (std::size_t size : {1, 2, 3, 4}) inputs.push_back({"tiny", Bytes(size, 'a')});
  for (std::size_t size : {8191, 8192, 8193, 14543, 14544, 14545, 16385}) {
    inputs.push_back({"random " + std::to_string(size), test::RandomBytes(size, 13)});
    inputs.push_back({"text " + std::to_string(size), test::TextBytes(size, 14)});
  }
  return inputs;
}

TEST(Lh5Peer, LhasaExtractsOurStreams) {
  if (!HavePeer("lhasa")) GTEST_SKIP() << "lhasa is not installed (make test installs it)";
  for (const auto& [what, plain] : PeerInputs()) {
    const Bytes stream = test::CompressLh5Bytes(plain);
    test::TScratchFolder scratch("lh5-peer");
    scratch.Put("ours.lzh", LhaLevel0Archive(stream, plain, test::LhaCrc16(plain)));
    EXPECT_EQ(RunIn(scratch, "lhasa t ours.lzh"), 0) << what << ": CRC test failed";
    ASSERT_EQ(RunIn(scratch, "lhasa xqf ours.lzh"), 0) << what;
    EXPECT_EQ(scratch.Get(kMemberName), plain) << what;
  }
}

// Shows that the CRC test above can fail: the same archive with a wrong CRC is refused.
TEST(Lh5Peer, LhasaRefusesAWrongCrc) {
  if (!HavePeer("lhasa")) GTEST_SKIP() << "lhasa is not installed (make test installs it)";
  const Bytes plain = test::TextBytes(5000, 12);
  test::TScratchFolder scratch("lh5-peer");
  const auto crc = static_cast<uint16_t>(test::LhaCrc16(plain) ^ 1);
  scratch.Put("bad.lzh", LhaLevel0Archive(test::CompressLh5Bytes(plain), plain, crc));
  EXPECT_NE(RunIn(scratch, "lhasa t bad.lzh"), 0);
}

// The compressed data of the first member of an archive of header level 0 or 2.
Bytes FirstMemberData(const Bytes& archive, std::string& method) {
  method.assign(archive.begin() + 2, archive.begin() + 7);
  const uint32_t packed = test::GetLE(archive, 7, 4);
  const uint8_t level = archive.at(20);
  std::size_t start = 0;
  if (level == 0) start = archive.at(0) + 2u;
  if (level == 2) start = test::GetLE(archive, 0, 2);
  if (start == 0 || start + packed > archive.size()) return {};
  return Bytes(archive.begin() + static_cast<std::ptrdiff_t>(start),
               archive.begin() + static_cast<std::ptrdiff_t>(start + packed));
}

TEST(Lh5Peer, JlhaMembersExpand) {
  if (!HavePeer("jlha")) GTEST_SKIP() << "jlha is not installed (make test installs it)";
  int expanded = 0;
  for (const auto& [what, plain] : PeerInputs()) {
    test::TScratchFolder scratch("lh5-peer");
    scratch.Put(kMemberName, plain);
    ASSERT_EQ(RunIn(scratch, std::string("jlha ao5 theirs.lzh ") + kMemberName), 0) << what;
    std::string method;
    const Bytes stream = FirstMemberData(scratch.Get("theirs.lzh"), method);
    if (method == "-lh0-") continue;  // jlha stores what it cannot shrink
    ASSERT_EQ(method, "-lh5-") << what;
    ++expanded;
    ASSERT_FALSE(stream.empty()) << what << ": no member data found";
    EXPECT_EQ(test::ExpandLh5Bytes(stream, static_cast<int32_t>(plain.size())), plain) << what;
  }
  EXPECT_GE(expanded, 10);  // the random inputs are stored
}

}  // namespace
}  // namespace vo
