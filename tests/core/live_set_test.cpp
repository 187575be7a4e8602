// What Live's window tells about the set: titles read from the right,
// saves confirmed or not, saves skipped while nothing changed, Live's
// dialogs, and work at risk said aloud.
#include <string>

#include "menu_support.h"

namespace qm::test {
namespace {

TEST(LiveSetTitleTest, TitlesAreReadFromTheRight) {
  const auto set = [](const char* title) { return parseLiveSetTitle(title); };
  ASSERT_TRUE(set("Beat [v2]* [Beats] - Ableton Live 12 Suite"));
  EXPECT_EQ(set("Beat [v2]* [Beats] - Ableton Live 12 Suite")->name, "Beat [v2]");
  EXPECT_TRUE(set("Beat [v2]* [Beats] - Ableton Live 12 Suite")->unsaved);
  EXPECT_EQ(set("Mix [v2] - Ableton Live 12 Suite")->name, "Mix");
  EXPECT_FALSE(set("Mix [v2] - Ableton Live 12 Suite")->unsaved);
  EXPECT_EQ(set("Mix [v2]* [Mix [v2]] - Ableton Live 12 Suite")->name, "Mix [v2]");
  EXPECT_TRUE(set("Mix [v2]* [Mix [v2]] - Ableton Live 12 Suite")->unsaved);
  EXPECT_EQ(set("Sans titre* - Ableton Live 11 Lite")->name, "Sans titre");
  EXPECT_EQ(set("A - Ableton Live 9 - B - Ableton Live 12 Trial")->name, "A - Ableton Live 9 - B");
  // A "*" inside the name is the name's: only the one at its end is the mark.
  EXPECT_EQ(set("Take*2* [Take*2] - Ableton Live 12 Suite")->name, "Take*2");
  EXPECT_TRUE(set("Take*2* [Take*2] - Ableton Live 12 Suite")->unsaved);
  EXPECT_FALSE(set("Take*2 [Take*2] - Ableton Live 12 Suite")->unsaved);
  // Only a set saved into a project has a name of its own; the edition is
  // what follows the last " - ".
  EXPECT_TRUE(set("Take*2 [Take*2] - Ableton Live 12 Suite")->inProject);
  EXPECT_FALSE(set("Sans titre* - Ableton Live 11 Lite")->inProject);
  EXPECT_EQ(set("Sans titre* - Ableton Live 11 Lite")->edition, "Ableton Live 11 Lite");
  // Without Live's suffix a title tells nothing.
  EXPECT_FALSE(set("Untitled - Notepad"));
  EXPECT_FALSE(set("Ableton Live 12 Suite"));
  EXPECT_FALSE(set("Song - Ableton Live 12 - Suite"));
  EXPECT_FALSE(set("Song - Ableton Live "));
}

TEST(LiveSetTitleTest, LongNamesAreCutToFortyCharactersCountingCharactersNotBytes) {
  EXPECT_EQ(shownSetName(std::string(40, 'a')), std::string(40, 'a'));
  EXPECT_EQ(shownSetName(std::string(41, 'a')), std::string(39, 'a') + "…");
  std::string accents;
  for (int i = 0; i < 41; ++i) {
    accents += "é";
  }
  std::string cut;
  for (int i = 0; i < 39; ++i) {
    cut += "é";
  }
  EXPECT_EQ(shownSetName(accents), cut + "…");
}

class LiveSetTest : public LiveRunningTest {
 protected:
  std::size_t liveActivations() const {
    std::size_t count = 0;
    for (const sim::Activation& activation : world.activations()) {
      count += activation.pid == livePid ? 1 : 0;
    }
    return count;
  }
};

TEST_F(LiveSetTest, AChangedSetIsConfirmedThenSkippedUntilItChangesAgain) {
  world.setLiveSet("Song");
  world.liveEdits();
  const Date start = launchNow();
  EXPECT_EQ(countMessages("Live's window reads “Song* [Song] - Ableton Live 12 Suite”."), 1u);

  world.advanceTo(start + 601);
  EXPECT_EQ(world.liveSaves(), 1);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved “Song” at 09:10");
  EXPECT_EQ(countMessages("Live saved “Song”."), 1u);

  // Nothing changed for half an hour: Live is left alone, and one line says so.
  world.advanceTo(start + 2400);
  EXPECT_EQ(liveActivations(), 1u);
  EXPECT_EQ(countMessages("Autosave skipped: “Song” has no unsaved changes."), 1u);
  EXPECT_EQ(statusLine(), "✓ Autosaved “Song” at 09:10 · next 10:00");

  world.liveEdits();
  world.advanceTo(start + 3001);
  EXPECT_EQ(world.liveSaves(), 2);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved “Song” at 09:50");
  EXPECT_EQ(countMessages("Live's window reads “Song* [Song] - Ableton Live 12 Suite”."), 1u);
}

TEST_F(LiveSetTest, AMarkThatGoesAndComesBackBetweenTwoLooksStillCountsAsSaved) {
  world.setLiveSet("Song");
  world.liveEdits();
  world.setLiveSaveDuration(0.3);
  setIntervalPreference(180);
  const Date start = launchNow();
  // Keys at +180.5; the mark goes at +180.8 and is back 0.05 s later.
  world.at(start + 180.85, [this] { world.liveEdits(); });
  world.advanceTo(start + 195);
  EXPECT_EQ(countMessages("Live saved “Song”."), 1u);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved “Song” at 09:03");
}

TEST_F(LiveSetTest, AnUntitledSetGetsOneDialogAndIsSavedAgainOnceNamed) {
  world.setLiveSetUntitled();
  setIntervalPreference(180);
  const Date start = launchNow();
  world.advanceTo(start + 181);
  EXPECT_TRUE(world.liveDialogOpen());
  EXPECT_EQ(statusLine(),
            "✕ Live opened a dialog instead of saving “Untitled”: no automatic saves until its "
            "title changes.");
  EXPECT_EQ(countMessages("Live opened a dialog instead of saving “Untitled”: no automatic saves "
                          "until its title changes."),
            1u);

  // The dialog is the user's: no second Cmd+S, and "Save Now" says why.
  world.advanceTo(start + 600);
  EXPECT_EQ(saves(), 1);
  ASSERT_EQ(process->click({"Save Now"}), sim::ClickResult::ok);
  EXPECT_EQ(app().lastStatusMessage(), "Live is showing a dialog: nothing was sent");
  EXPECT_EQ(saves(), 1);

  // Named in the dialog, the set is saved, and the status says so at once;
  // changed again, it is saved by Quillmark again.
  world.liveNamesSet("Jam");
  world.advanceBy(0.3);
  EXPECT_EQ(statusLine(), "✓ Saved “Jam” at 09:10 · next 02:00");
  EXPECT_EQ(countMessages("Live saved “Jam”."), 1u);
  world.liveEdits();
  world.advanceTo(start + 1100);
  EXPECT_EQ(saves(), 2);
  EXPECT_EQ(world.liveSaves(), 2);
  EXPECT_EQ(countMessages("Live saved “Jam”."), 2u);
}

// Where the system refuses title announcements at first (on the Mac, before
// the permission exists), they are asked for again at each look until given.
TEST_F(LiveSetTest, RefusedTitleAnnouncementsAreAskedForAgainUntilGiven) {
  struct Refusing final : ApplicationWindows {
    explicit Refusing(ApplicationWindows& inner) : inner(inner) {}
    Reply<std::optional<std::string>> mainWindowTitle(int pid) override {
      return inner.mainWindowTitle(pid);
    }
    Reply<bool> showsModalDialog(int pid) override { return inner.showsModalDialog(pid); }
    ObservationRef observeTitleChanges(
        int pid, std::function<void(const std::optional<std::string>&)> changed) override {
      ++asked;
      return refuse ? nullptr : inner.observeTitleChanges(pid, std::move(changed));
    }
    ApplicationWindows& inner;
    bool refuse = true;
    int asked = 0;
  };
  Platform& sim = process->platform();
  Refusing windows(sim.applicationWindows);
  Platform platform{sim.runLoop,      sim.workspace, sim.accessibility,    sim.keyboardEvents,
                    sim.userActivity, windows,       sim.applicationMenus, sim.notifications,
                    sim.preferences,  sim.statusBar, sim.alerts,           sim.graphics,
                    sim.system,       sim.desktop};
  delegate = std::make_unique<AppDelegate>(platform);
  world.setLiveSet("Song");
  const Date start = launchNow();
  world.advanceTo(start + 4.5);
  EXPECT_EQ(windows.asked, 3);  // at launch and at two looks
  windows.refuse = false;
  world.advanceTo(start + 10.5);
  EXPECT_EQ(windows.asked, 4);
  // Changes and a save between two looks are heard as they happen.
  world.liveEdits();
  world.advanceBy(0.1);
  world.liveUserSaves();
  world.advanceBy(0.1);
  EXPECT_EQ(countMessages("Live saved “Song”."), 1u);
  delegate.reset();
}

TEST_F(LiveSetTest, ADeafLiveIsReportedThenNotifiedOnceAndALateSaveStillCounts) {
  world.setLiveSet("A set whose name is much longer than forty characters");
  world.liveEdits();
  world.setLiveDeaf(true);
  const Date start = launchNow();
  world.advanceTo(start + 611);
  EXPECT_EQ(app().lastStatusMessage(),
            "Live did not save “A set whose name is much longer than fo…”");
  EXPECT_EQ(countMessages("Live did not save “A set whose name is much longer than forty "
                          "characters” within 10 seconds."),
            1u);

  // Twice the interval after the first unconfirmed save: once, not again.
  world.advanceTo(start + 1799);
  EXPECT_TRUE(world.notifications().empty());
  world.advanceTo(start + 2990);
  ASSERT_EQ(world.notifications().size(), 1u);
  EXPECT_EQ(world.notifications()[0].title,
            "Quillmark has not saved “A set whose name is much longer than fo…” for 20 minutes");
  EXPECT_EQ(world.notifications()[0].body,
            "Live did not save “A set whose name is much longer than fo…”");
  EXPECT_EQ(countMessages("Notified: Quillmark has not saved “A set whose name is much longer "
                          "than forty characters” for 20 minutes"),
            1u);

  // A save slower than the watch is reported late, but reported.
  world.setLiveDeaf(false);
  world.setLiveSaveDuration(15);
  world.advanceTo(start + 3012);
  EXPECT_EQ(app().lastStatusMessage(),
            "Live did not save “A set whose name is much longer than fo…”");
  world.advanceTo(start + 3016);
  EXPECT_EQ(app().lastStatusMessage(),
            "Autosaved “A set whose name is much longer than fo…” at 09:50");
}

TEST_F(LiveSetTest, ASaveWaitsForLivesDialogAheadOfThePauseAndGoesOnceItCloses) {
  world.setLiveSet("Song");
  world.liveEdits();
  setIntervalPreference(180);
  const Date start = launchNow();
  world.setLiveDialogOpen(true);
  world.advanceTo(start + 179);
  world.userTypesFor(3);
  world.advanceTo(start + 181);
  EXPECT_EQ(statusLine(), "◐ Waiting for Live's dialog to close");
  EXPECT_EQ(saves(), 0);

  world.setLiveDialogOpen(false);
  world.advanceTo(start + 181.5);
  EXPECT_EQ(statusLine(), "◐ Waiting for a pause in typing");
  world.advanceTo(start + 190);
  EXPECT_EQ(saves(), 1);
  EXPECT_EQ(countMessages("Autosave waiting: Live is showing a dialog."), 1u);
  EXPECT_EQ(countMessages("Autosave waiting for a pause in typing."), 1u);
  EXPECT_EQ(countMessages("Live saved “Song”."), 1u);
}

TEST_F(LiveSetTest, ALiveWhoseTitleNeverShowsTheMarkIsSavedEveryTime) {
  world.setLiveSet("Song");
  world.setLiveTitleMark(false);
  world.liveEdits();
  setIntervalPreference(180);
  const Date start = launchNow();
  world.advanceTo(start + 181);
  EXPECT_EQ(app().lastStatusMessage(), "Autosaved at 09:03");
  world.advanceTo(start + 600);
  EXPECT_EQ(saves(), 3);
  EXPECT_EQ(countMessages("Live saved “Song”."), 0u);
  EXPECT_TRUE(world.notifications().empty());
}

}  // namespace
}  // namespace qm::test
