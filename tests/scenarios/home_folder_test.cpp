// The home folder: a folder of the user's is refused with the first entry in
// the way, and paths an expectation names must stay in the simulated home,
// whatever symbolic links lie on their way.
#include "home_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qm::simtool {
namespace {

namespace fs = std::filesystem;

class StaysUnderHome : public ::testing::Test {
 protected:
  StaysUnderHome() {
    std::string pattern = (fs::temp_directory_path() / "qm-home-XXXXXX").string();
    root_ = mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
    fs::create_directories(home() / "Library/Logs");
    fs::create_directories(root_ / "outside");
  }
  ~StaysUnderHome() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path home() const { return root_ / "home"; }
  bool stays(const std::string& relative) const {
    return staysUnderHome(home().string(), relative);
  }

  fs::path root_;
};

TEST_F(StaysUnderHome, LinksLeadingOutAreRefusedAndLinksInsideFollowed) {
  fs::create_symlink("/etc", home() / "Library/etc");
  fs::create_symlink("../../../outside", home() / "Library/Logs/up");
  fs::create_symlink("Logs", home() / "Library/logs");
  fs::create_symlink("loop", home() / "loop");

  EXPECT_TRUE(stays("Library/Logs/Quillmark.log"));
  EXPECT_TRUE(stays("Library/logs/Quillmark.log"));
  EXPECT_TRUE(stays("not/yet/made"));
  EXPECT_FALSE(stays("Library/etc/passwd"));
  EXPECT_FALSE(stays("Library/etc"));
  EXPECT_FALSE(stays("Library/Logs/up/secret"));
  EXPECT_FALSE(stays("loop/x"));
}

TEST_F(StaysUnderHome, AHomeReachedThroughALinkIsStillTheHome) {
  fs::create_symlink(home(), root_ / "link-to-home");
  EXPECT_TRUE(staysUnderHome((root_ / "link-to-home").string(), "Library/Logs"));
  EXPECT_FALSE(staysUnderHome((root_ / "missing").string(), "Library"));
}

// The refusal names what is in the way, the first in name order, so that
// the user knows where to look.
class GivenHome : public StaysUnderHome {
 protected:
  void put(const std::string& relative) {
    fs::create_directories((home() / relative).parent_path());
    std::ofstream(home() / relative) << "keep me";
  }
  std::string refusal() {
    Home given;
    std::string reason;
    EXPECT_FALSE(given.use(home().string(), &reason));
    return reason;
  }
};

TEST_F(GivenHome, AFolderOfTheUsersIsRefusedWithItsFirstEntry) {
  fs::remove_all(home() / "Library");
  put("zz-notes.txt");
  put("b-folder/a.txt");
  put("a-thesis.txt");
  EXPECT_EQ(refusal(), "--home " + home().string() +
                           " is not empty and was not made by quillmark-sim: it holds "
                           "a-thesis.txt; choose an empty folder or one that quillmark-sim made");
  EXPECT_TRUE(fs::exists(home() / "a-thesis.txt"));
}

TEST_F(GivenHome, AnEarlierRunsHomeNamesTheFirstForeignEntryDepthFirst) {
  fs::remove_all(home());
  {
    Home earlier;
    std::string reason;
    ASSERT_TRUE(earlier.use(home().string(), &reason)) << reason;
  }
  put("Library/Logs/notes.txt");
  put("Library/Logs/Quillmark.log");
  put("zz-notes.txt");
  EXPECT_EQ(refusal(), "--home " + home().string() +
                           " holds Library/Logs/notes.txt, which quillmark-sim did not make; move "
                           "it away or choose another folder");
}

}  // namespace
}  // namespace qm::simtool
