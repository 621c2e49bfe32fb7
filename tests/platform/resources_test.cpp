// The resource container: written after a file's own bytes, read back, and
// replaced without growing the file each time.
#include <platform/resources.h>

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

}  // namespace
