// The picture of the menu that quillmark-sim draws: what it shows of the
// running application's menu, and the drawing commands of the picture in
// the documentation, held to what they were when it was made (commands, not
// pixels: fonts differ between machines).
#include "menu_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "home_folder.h"
#include "scenario.h"
#include "session.h"
#include "timeline.h"

namespace qm::simtool {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Plays `text` quietly, its picture lines left out, and draws the menu at
// the end.
std::shared_ptr<render::RecordedImage> pictureAfter(const std::string& text) {
  scenario::Scenario played;
  scenario::ParseError error;
  EXPECT_TRUE(scenario::parse(text, &played, &error)) << error.line << ": " << error.reason;
  std::erase_if(played.commands, [](const scenario::Command& command) {
    return command.op == scenario::Op::picture;
  });
  Home home;
  std::string reason;
  EXPECT_TRUE(home.makeTemporary(&reason)) << reason;
  std::ostringstream out;
  Timeline timeline(out, {.quiet = true});
  Session session(home.path(), timeline);
  timeline.follow(session);
  EXPECT_EQ(session.play(played), 0) << out.str();
  const sim::SimStatusItem* item = session.statusItem();
  return item ? drawMenuPicture(*item) : nullptr;
}

// The texts drawn, top to bottom, left to right.
std::vector<std::string> texts(const render::RecordedImage& image) {
  std::vector<const render::DrawTextCommand*> drawn;
  for (const render::DrawCommand& command : image.commands()) {
    if (const auto* text = std::get_if<render::DrawTextCommand>(&command)) {
      drawn.push_back(text);
    }
  }
  std::stable_sort(drawn.begin(), drawn.end(), [](const auto* a, const auto* b) {
    return a->rect.y != b->rect.y ? a->rect.y > b->rect.y : a->rect.x < b->rect.x;
  });
  std::vector<std::string> result;
  for (const auto* text : drawn) {
    result.push_back(text->text);
  }
  return result;
}

TEST(MenuPicture, ShowsTheMenuAsItStandsWithoutItsHiddenItems) {
  const auto image = pictureAfter("live start\nlaunch\nat 1 click \"Interval\" \"5 minutes\"\n");
  ASSERT_TRUE(image);
  const std::vector<std::string> shown = texts(*image);
  const std::vector<std::string> expected = {
      // The icon's letters in the menu bar.
      "QM",
      "Quillmark",
      "✕ Grant Accessibility access",
      "✓ Ableton connected",
      "✕ Accessibility missing",
      "✓ Autosave on · every 5 min",
      "Interval",
      "›",
      "10 seconds (test)",
      "Pause Autosave",
      "3 minutes",
      "Save Now",
      "✓",
      "5 minutes",
      "Open Accessibility Settings",
      "10 minutes",
      "15 minutes",
      "Report a Problem",
      "30 minutes",
      "Quit",
      "⌘Q",
      std::string(kMenuPictureCaption),
  };
  EXPECT_EQ(shown, expected);

  // Once trusted, the permission's item is hidden and left out.
  const auto trusted = pictureAfter("trust on\nlive start\nlaunch\nat 1 note \"x\"\n");
  ASSERT_TRUE(trusted);
  const std::vector<std::string> later = texts(*trusted);
  EXPECT_EQ(std::count(later.begin(), later.end(), "Open Accessibility Settings"), 0);
  EXPECT_EQ(std::count(later.begin(), later.end(), "✓ Next save in 09:59"), 1);
}

TEST(MenuPicture, TheDocumentationsPictureIsStillWhatQuillmarkSimDraws) {
  const auto image = pictureAfter(readFile(QM_MENU_PICTURE_SCENARIO));
  ASSERT_TRUE(image);
  const std::string drawn = render::describeCommands(*image);
  const std::string golden = readFile(QM_MENU_PICTURE_COMMANDS);
  if (drawn != golden) {
    std::ofstream(QM_MENU_PICTURE_DRAWN) << drawn;
  }
  EXPECT_TRUE(drawn == golden)
      << "The picture's drawing changed: compare " << QM_MENU_PICTURE_COMMANDS << " with "
      << QM_MENU_PICTURE_DRAWN
      << ". If the change is meant, copy the second over the first and draw "
         "docs/images/macos-menu.png again (see docs/images/macos-menu.scenario).";
}

}  // namespace
}  // namespace qm::simtool
