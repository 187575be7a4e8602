// Paths an expectation names must stay in the simulated home, whatever
// symbolic links lie on their way.
#include "home_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
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

}  // namespace
}  // namespace qm::simtool
