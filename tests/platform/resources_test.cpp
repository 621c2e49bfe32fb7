// The resource container: written after a file's own bytes, read back, and
// replaced without growing the file each time.
#include <platform/resources.h>

#include <cstring>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string makeFile(const std::string& name, const std::string& content) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::vector<TwResource> sample() {
  return {{tw_type_code("MIMS"), 2, "BEOS:TYPE", {'a', 'b', 0}},
          {tw_type_code("ICON"), 101, "BEOS:L:STD_ICON", std::vector<uint8>(1024, 7)}};
}

TEST(Resources, RoundTripAfterTheFilesOwnBytesAtA4KiBBoundary) {
  const std::string body(5000, 'x');
  const std::string path = makeFile("tw_res_roundtrip", body);
  ASSERT_EQ(tw_write_resources(path.c_str(), sample()), B_OK);

  std::vector<TwResource> back;
  ASSERT_EQ(tw_read_resources(path.c_str(), &back), B_OK);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].type, tw_type_code("MIMS"));
  EXPECT_EQ(back[0].id, 2);
  EXPECT_EQ(back[0].name, "BEOS:TYPE");
  EXPECT_EQ(back[0].data, (std::vector<uint8>{'a', 'b', 0}));
  EXPECT_EQ(back[1].data.size(), 1024u);

  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(all.substr(0, body.size()), body);  // the file's own bytes are kept
  EXPECT_EQ(all.substr(8192, 8), "TWRSRC01");   // next 4 KiB boundary
  EXPECT_EQ(all.substr(all.size() - 8), "TWRSEND1");

  // Attaching again replaces the container instead of appending a second one.
  ASSERT_EQ(tw_write_resources(path.c_str(), {sample()[0]}), B_OK);
  ASSERT_EQ(tw_read_resources(path.c_str(), &back), B_OK);
  EXPECT_EQ(back.size(), 1u);
  EXPECT_LT(std::filesystem::file_size(path), 8192u + 100);
  std::filesystem::remove(path);
}

TEST(Resources, AFileWithoutAContainerHasNoneAndABrokenOneIsAnError) {
  std::vector<TwResource> back;
  const std::string plain = makeFile("tw_res_plain", "just bytes");
  EXPECT_EQ(tw_read_resources(plain.c_str(), &back), B_OK);
  EXPECT_TRUE(back.empty());
  EXPECT_EQ(tw_read_resources("/nonexistent/file", &back), B_ENTRY_NOT_FOUND);

  // A container that claims more data than the file holds.
  ASSERT_EQ(tw_write_resources(plain.c_str(), sample()), B_OK);
  std::string all;
  {
    std::ifstream in(plain, std::ios::binary);
    all.assign((std::istreambuf_iterator<char>(in)), {});
  }
  all[4096 + 12 + 12] = char(0xFF);  // first resource's data length, low byte
  all[4096 + 12 + 15] = char(0x7F);
  std::ofstream(plain, std::ios::binary | std::ios::trunc) << all;
  EXPECT_EQ(tw_read_resources(plain.c_str(), &back), B_BAD_DATA);
  std::filesystem::remove(plain);
}

// Damaged containers, read from the file and parsed from memory alike. A
// trailer whose offset leaves no room for the container's head before it is
// no container at all; sizes that run past the trailer are bad data.
TEST(Resources, DamagedContainersAreRefusedWithoutReadingPastTheFile) {
  auto le32 = [](uint32 v) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[size_t(i)] = char(v >> (8 * i));
    return b;
  };
  auto trailer = [&](uint64 offset) {
    return le32(uint32(offset)) + le32(uint32(offset >> 32)) + "TWRSEND1";
  };
  struct Case {
    const char* what;
    std::string bytes;
    status_t status;
    size_t count;
  };
  const std::string body(100, 'x');
  const Case cases[] = {
      {"offset into the trailer's own bytes", body + "TWRSRC01" + trailer(100), B_OK, 0},
      {"offset 4 bytes before the trailer", body + "xxxxTWRSRC01" + trailer(104), B_OK, 0},
      {"offset past the end", body + trailer(1u << 20), B_OK, 0},
      {"offset wrapping around", body + trailer(~uint64(0) - 3), B_OK, 0},
      {"no start magic", body + "TWRSRCxx" + le32(0) + trailer(100), B_OK, 0},
      {"empty container", body + "TWRSRC01" + le32(0) + trailer(100), B_OK, 0},
      {"one entry",
       body + "TWRSRC01" + le32(1) + le32(7) + le32(1) + le32(1) + le32(2) + "Nab" + trailer(100), B_OK, 1},
      {"count beyond the entries",
       body + "TWRSRC01" + le32(2) + le32(7) + le32(1) + le32(1) + le32(2) + "Nab" + trailer(100), B_BAD_DATA,
       0},
      {"name running into the trailer",
       body + "TWRSRC01" + le32(1) + le32(7) + le32(1) + le32(20) + le32(0) + trailer(100), B_BAD_DATA, 0},
      {"lengths that overflow 32 bits together",
       body + "TWRSRC01" + le32(1) + le32(7) + le32(1) + le32(0xFFFFFFFF) + le32(0xFFFFFFFF) + trailer(100),
       B_BAD_DATA, 0},
  };
  for (const Case& c : cases) {
    std::vector<TwResource> parsed{TwResource{}}, read;
    EXPECT_EQ(tw_parse_resources(reinterpret_cast<const uint8*>(c.bytes.data()), c.bytes.size(), &parsed),
              c.status)
        << c.what;
    EXPECT_EQ(parsed.size(), c.count) << c.what;
    const std::string path = makeFile("tw_res_damaged", c.bytes);
    EXPECT_EQ(tw_read_resources(path.c_str(), &read), c.status) << c.what;
    EXPECT_EQ(read.size(), c.count) << c.what;
    std::filesystem::remove(path);
  }
}

}  // namespace
