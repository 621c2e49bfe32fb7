// Storage kit on a scratch directory: entries, files, directory listings,
// links left untraversed, and the status codes (with their texts) that the
// add-ons print.
#include <gtest/gtest.h>
#include <platform/storage.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace fs = std::filesystem;

namespace {

class Storage : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("tw-storage-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "sub");
    std::ofstream(root / "a.txt") << "hello";
    std::ofstream(root / "sub" / "b.txt") << "b";
    fs::create_symlink("a.txt", root / "link");
    fs::create_symlink("missing-target", root / "dangling");
  }
  void TearDown() override { fs::remove_all(root); }
  std::string at(const std::string& leaf) const { return (root / leaf).string(); }
  fs::path root;
};

TEST_F(Storage, FileOpensReadOnlyAndReads) {
  BFile f(at("a.txt").c_str(), B_READ_ONLY);
  ASSERT_EQ(f.InitCheck(), B_OK);
  off_t size = 0;
  EXPECT_EQ(f.GetSize(&size), B_OK);
  EXPECT_EQ(size, 5);
  char buffer[8] = {};
  EXPECT_EQ(f.Read(buffer, 3), 3);
  EXPECT_EQ(f.Read(buffer + 3, 8), 2);
  EXPECT_STREQ(buffer, "hello");
  EXPECT_EQ(f.Read(buffer, 8), 0);
  EXPECT_EQ(f.ReadAt(1, buffer, 2), 2);
  EXPECT_EQ(std::string(buffer, 2), "el");
  EXPECT_EQ(f.Seek(-1, SEEK_END), 4);
  EXPECT_LT(f.Seek(-10, SEEK_SET), 0);

  EXPECT_EQ(f.SetTo(at("nothing").c_str(), B_READ_ONLY), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(f.InitCheck(), B_ENTRY_NOT_FOUND);
  EXPECT_LT(f.Read(buffer, 1), 0);
  EXPECT_EQ(f.SetTo(at("sub").c_str(), B_READ_ONLY), B_IS_A_DIRECTORY);
  EXPECT_EQ(f.SetTo(static_cast<const char*>(nullptr), B_READ_ONLY), B_BAD_VALUE);
  EXPECT_EQ(f.SetTo(at("sub/b.txt").c_str(), B_READ_ONLY), B_OK);
}

TEST_F(Storage, EntryReportsAbsolutePathAndExistence) {
  const std::string cwd = fs::current_path().string();
  fs::current_path(root);
  BEntry relative("sub/./b.txt");
  fs::current_path(cwd);
  ASSERT_EQ(relative.InitCheck(), B_OK);
  BPath path;
  ASSERT_EQ(relative.GetPath(&path), B_OK);
  EXPECT_STREQ(path.Path(), at("sub/b.txt").c_str());
  EXPECT_TRUE(relative.Exists());

  BEntry missing(at("nothing").c_str());
  EXPECT_EQ(missing.InitCheck(), B_OK) << "an entry may name what does not exist";
  EXPECT_FALSE(missing.Exists());

  BEntry dangling(at("dangling").c_str());
  EXPECT_TRUE(dangling.Exists()) << "the link itself exists";
  BEntry followed(at("link").c_str(), true);
  ASSERT_EQ(followed.GetPath(&path), B_OK);
  EXPECT_STREQ(path.Path(), fs::canonical(root / "a.txt").c_str());

  BEntry unset;
  EXPECT_EQ(unset.InitCheck(), B_NO_INIT);
  EXPECT_FALSE(unset.Exists());
  EXPECT_EQ(unset.GetPath(&path), B_NO_INIT);
  EXPECT_EQ(path.Path(), nullptr);
}

TEST_F(Storage, DirectoryFindsEntriesWithoutFollowingLinks) {
  BDirectory dir(root.c_str());
  ASSERT_EQ(dir.InitCheck(), B_OK);
  BEntry entry;
  EXPECT_EQ(dir.FindEntry("a.txt", &entry), B_OK);
  EXPECT_TRUE(entry.Exists());
  EXPECT_EQ(dir.FindEntry("dangling", &entry, false), B_OK);
  BPath path;
  entry.GetPath(&path);
  EXPECT_STREQ(path.Leaf(), "dangling");
  EXPECT_EQ(dir.FindEntry("dangling", &entry, true), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(dir.FindEntry("image4.jpg", &entry), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(entry.InitCheck(), B_NO_INIT);
  EXPECT_EQ(dir.FindEntry("sub/b.txt", &entry), B_OK);
  EXPECT_EQ(dir.FindEntry("a.txt", nullptr), B_BAD_VALUE);
}

TEST_F(Storage, DirectoryRelativeToAnother) {
  BDirectory base(root.c_str());
  BDirectory sub;
  EXPECT_EQ(sub.SetTo(&base, "sub"), B_OK);
  EXPECT_EQ(sub.CountEntries(), 1);
  EXPECT_EQ(sub.SetTo(&base, "nothing"), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(sub.InitCheck(), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(sub.SetTo(&base, "a.txt"), B_NOT_A_DIRECTORY);
  BDirectory unset;
  EXPECT_LT(sub.SetTo(&unset, "sub"), 0);
  EXPECT_EQ(sub.SetTo(static_cast<const BDirectory*>(nullptr), root.c_str()), B_OK)
      << "an absolute path needs no base";
  EXPECT_EQ(sub.SetTo(&sub, "sub"), B_OK) << "relative to itself";
  EXPECT_EQ(sub.CountEntries(), 1);
}

TEST_F(Storage, DirectoryListsEachEntryOnceAndRewinds) {
  BDirectory dir(root.c_str());
  EXPECT_EQ(dir.CountEntries(), 4);  // a.txt, sub, link, dangling; never "." or ".."
  BEntry entry;
  std::multiset<std::string> seen;
  ASSERT_EQ(dir.GetNextEntry(&entry), B_OK);
  EXPECT_EQ(dir.CountEntries(), 4) << "counting leaves the cursor alone";
  do {
    BPath path;
    entry.GetPath(&path);
    seen.insert(path.Leaf());
  } while (dir.GetNextEntry(&entry, false) == B_OK);
  EXPECT_EQ(seen, (std::multiset<std::string>{"a.txt", "dangling", "link", "sub"}));
  EXPECT_EQ(dir.GetNextEntry(&entry), B_ENTRY_NOT_FOUND);
  EXPECT_EQ(dir.Rewind(), B_OK);
  EXPECT_EQ(dir.GetNextEntry(&entry), B_OK);

  BDirectory missing(at("nothing").c_str());
  EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);
  EXPECT_LT(missing.CountEntries(), 0) << "an error, not an empty directory";
  EXPECT_LT(missing.GetNextEntry(&entry), 0);
  fs::create_directories(root / "empty");
  EXPECT_EQ(BDirectory(at("empty").c_str()).CountEntries(), 0);
}

TEST(StatusText, CodesPrintAsTheirMeaning) {
  // Both the platform's own text and the C library's strerror, which on this
  // platform knows the platform's codes.
  EXPECT_STREQ(tw_status_text(B_ENTRY_NOT_FOUND), "No such file or directory");
  EXPECT_STREQ(strerror(B_ENTRY_NOT_FOUND), "No such file or directory");
  EXPECT_STREQ(strerror(B_NO_TRANSLATOR), "No translator found");
  EXPECT_STREQ(strerror(B_ERROR), "General system error");
  EXPECT_STREQ(strerror(ENOENT), "No such file or directory") << "C library codes are untouched";
  EXPECT_STREQ(strerror(EACCES), "Permission denied");
  EXPECT_EQ(uint32(B_ENTRY_NOT_FOUND), 0x80006003u);
}

}  // namespace
