// Interoperation with independent LHA-family tools, used as black boxes: lhasa extracts our
// streams, and jlha's -lh5- members expand with our expander.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "lh5_test_util.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr uint16_t kCrc16Polynomial = 0xA001;  // the LHA family's CRC-16, bit-reversed form
constexpr char kMemberName[] = "data.bin";

bool HavePeer(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

uint16_t Crc16(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) {
      crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kCrc16Polynomial)
                           : static_cast<uint16_t>(crc >> 1);
    }
  }
  return crc;
}

void PutLe(Bytes& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetLe(const Bytes& in, std::size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | in.at(at + static_cast<std::size_t>(i));
  return v;
}

// One "-lh5-" member behind a level-0 header, then the end mark.
Bytes LhaLevel0Archive(const Bytes& stream, const Bytes& plain, uint16_t crc) {
  Bytes header;
  for (char c : std::string("-lh5-")) header.push_back(static_cast<uint8_t>(c));
  PutLe(header, static_cast<uint32_t>(stream.size()), 4);
  PutLe(header, static_cast<uint32_t>(plain.size()), 4);
  PutLe(header, 0x50210000, 4);  // 1 January 2020, midnight
  header.push_back(0x20);        // archive attribute
  header.push_back(0);           // header level
  header.push_back(static_cast<uint8_t>(sizeof(kMemberName) - 1));
  for (char c : std::string(kMemberName)) header.push_back(static_cast<uint8_t>(c));
  PutLe(header, crc, 2);
  uint8_t sum = 0;
  for (uint8_t b : header) sum = static_cast<uint8_t>(sum + b);
  Bytes archive = header;
  archive.insert(archive.begin(), {static_cast<uint8_t>(header.size()), sum});
  archive.insert(archive.end(), stream.begin(), stream.end());
  archive.push_back(0);
  return archive;
}

// A scratch folder that goes away with the test.
class TScratch {
 public:
  TScratch() {
    std::string pattern = (fs::temp_directory_path() / "vo-lh5-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
    Path = pattern;
  }
  ~TScratch() {
    std::error_code ignored;
    fs::remove_all(Path, ignored);
  }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;

  void Write(const std::string& name, const Bytes& data) const {
    std::ofstream out(Path / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
  }
  Bytes Read(const std::string& name) const {
    return test::ReadFileBytes((Path / name).string(), static_cast<std::size_t>(-1));
  }
  int Run(const std::string& command) const {
    return std::system(("cd '" + Path.string() + "' && " + command + " >log.txt 2>&1").c_str());
  }

  fs::path Path;
};

std::vector<std::pair<std::string, Bytes>> PeerInputs() {
  std::vector<std::pair<std::string, Bytes>> inputs = {
      {"text", test::TextBytes(60000, 11)},
      {"executable", test::ReadFileBytes("/proc/self/exe", 120000)},
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
    TScratch scratch;
    scratch.Write("ours.lzh", LhaLevel0Archive(stream, plain, Crc16(plain)));
    EXPECT_EQ(scratch.Run("lhasa t ours.lzh"), 0) << what << ": CRC test failed";
    ASSERT_EQ(scratch.Run("lhasa xqf ours.lzh"), 0) << what;
    EXPECT_EQ(scratch.Read(kMemberName), plain) << what;
  }
}

// Shows that the CRC test above can fail: the same archive with a wrong CRC is refused.
TEST(Lh5Peer, LhasaRefusesAWrongCrc) {
  if (!HavePeer("lhasa")) GTEST_SKIP() << "lhasa is not installed (make test installs it)";
  const Bytes plain = test::TextBytes(5000, 12);
  TScratch scratch;
  const auto crc = static_cast<uint16_t>(Crc16(plain) ^ 1);
  scratch.Write("bad.lzh", LhaLevel0Archive(test::CompressLh5Bytes(plain), plain, crc));
  EXPECT_NE(scratch.Run("lhasa t bad.lzh"), 0);
}

// The compressed data of the first member of an archive of header level 0 or 2.
Bytes FirstMemberData(const Bytes& archive, std::string& method) {
  method.assign(archive.begin() + 2, archive.begin() + 7);
  const uint32_t packed = GetLe(archive, 7, 4);
  const uint8_t level = archive.at(20);
  std::size_t start = 0;
  if (level == 0) start = archive.at(0) + 2u;
  if (level == 2) start = GetLe(archive, 0, 2);
  if (start == 0 || start + packed > archive.size()) return {};
  return Bytes(archive.begin() + static_cast<std::ptrdiff_t>(start),
               archive.begin() + static_cast<std::ptrdiff_t>(start + packed));
}

TEST(Lh5Peer, JlhaMembersExpand) {
  if (!HavePeer("jlha")) GTEST_SKIP() << "jlha is not installed (make test installs it)";
  int expanded = 0;
  for (const auto& [what, plain] : PeerInputs()) {
    TScratch scratch;
    scratch.Write(kMemberName, plain);
    ASSERT_EQ(scratch.Run(std::string("jlha ao5 theirs.lzh ") + kMemberName), 0) << what;
    std::string method;
    const Bytes stream = FirstMemberData(scratch.Read("theirs.lzh"), method);
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
