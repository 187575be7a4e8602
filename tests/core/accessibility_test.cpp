// The Accessibility permission: the silent check, the first-launch request
// with its alert, and the way to System Settings.
#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace qm::test {
namespace {

const std::string kShownKey(kAccessibilityPromptShownDefaultsKey);
const std::string kSettingsURL(kAccessibilitySettingsURL);

const std::string kAlertMessage = "Нужен Универсальный доступ";
const std::string kAlertInformativeText =
    "Quillmark нужен Универсальный доступ, чтобы отправлять Cmd+S в Ableton Live.\n"
    "\n"
    "Что сделать:\n"
    "1. Нажми «Открыть настройки».\n"
    "2. В разделе «Универсальный доступ» нажми кнопку +.\n"
    "3. Выбери Quillmark.app.\n"
    "4. Включи переключатель рядом с приложением.\n"
    "\n"
    "Совет: если перенесёшь приложение в Applications, выбирай его из папки «Программы».";
const std::vector<std::string> kAlertButtons = {"Открыть настройки", "Позже"};

class AccessibilityTest : public CoreTest {
 protected:
  std::string statusLine() const { return process->statusItem()->menu()->items()[1]->title(); }
  bool logContains(const std::string& message) const {
    const auto messages = logMessages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  }
};

TEST_F(AccessibilityTest, GrantedAtRequestTimeMeansNoRequestUntilRevoked) {
  // Missing at launch but granted before the request runs: the request
  // looks afresh and does nothing, and writes nothing.
  const Date start = world.now();
  launch();
  world.at(start + 0.5, [&] { world.setTrusted(true); });
  world.advanceTo(start + 10);
  EXPECT_EQ(world.promptRequestCount(), 0);
  EXPECT_TRUE(world.alerts().empty());
  EXPECT_EQ(world.preference(kShownKey), nullptr);
  EXPECT_FALSE(app().didAskForAccessibility());

  // Revoked later: the first launch after that shows the request.
  world.setTrusted(false);
  restartProcess();
  launch();
  world.advanceBy(1.0);
  EXPECT_EQ(world.promptShownCount(), 1);
  EXPECT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.boolPreference(kShownKey), true);
}

TEST_F(AccessibilityTest, RequestWritesThePreferenceBeforePromptAndAlert) {
  std::vector<std::string> seen;
  world.setObserver([&](const sim::Event& event) {
    if (event.kind == sim::Event::Kind::accessibilityPrompt) {
      seen.push_back("prompt");
      EXPECT_EQ(world.boolPreference(kShownKey), true);
      EXPECT_TRUE(app().didAskForAccessibility());
    } else if (event.kind == sim::Event::Kind::alertShown) {
      seen.push_back("alert");
      EXPECT_EQ(world.boolPreference(kShownKey), true);
      EXPECT_EQ(world.promptShownCount(), 1);
    }
  });
  const Date start = world.now();
  launch();
  world.advanceTo(start + 1.0);
  world.setObserver({});

  EXPECT_EQ(seen, (std::vector<std::string>{"prompt", "alert"}));
  EXPECT_EQ(world.promptRequestCount(), 1);
  ASSERT_EQ(world.alerts().size(), 1u);
  const sim::AlertRecord& alert = world.alerts()[0];
  EXPECT_EQ(alert.pid, process->pid());
  EXPECT_EQ(alert.content.messageText, kAlertMessage);
  EXPECT_EQ(alert.content.informativeText, kAlertInformativeText);
  EXPECT_EQ(alert.content.buttonTitles, kAlertButtons);

  // Answered "Позже" (the world's default answer): nothing is opened.
  EXPECT_EQ(alert.pressedButton, 1);
  EXPECT_TRUE(world.openedURLs().empty());
  EXPECT_EQ(world.boolPreference(kShownKey), true);

  // Within the process the request never runs twice, even with the
  // preference gone.
  world.removePreference(kShownKey);
  process->run([&] { app().requestAccessibilityOnFirstLaunchIfNeeded(); });
  EXPECT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.promptRequestCount(), 1);
  EXPECT_EQ(world.preference(kShownKey), nullptr);
}

TEST_F(AccessibilityTest, QuittingWithTheAlertOpenStillCountsAsAsked) {
  // Live closes while the alert is open; the automatic quit ends the
  // process under the alert, which is never answered.
  const int live = startLive();
  const Date start = world.now();
  launch();
  world.setNextAlertResponse(0, 60);
  world.at(start + 3, [&] { world.quitApplication(live); });
  world.advanceTo(start + 120);

  EXPECT_TRUE(process->terminated());
  EXPECT_EQ(process->terminatedAt(), start + 10);
  EXPECT_EQ(world.boolPreference(kShownKey), true);
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_FALSE(world.alerts()[0].pressedButton);
  EXPECT_TRUE(world.openedURLs().empty());

  restartProcess();
  launch();
  world.advanceBy(10);
  EXPECT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.promptRequestCount(), 1);
}

TEST_F(AccessibilityTest, QuitFromTheMenuWithTheAlertOpenEndsTheRequest) {
  const Date start = world.now();
  launch();
  world.setNextAlertResponse(0, 60);
  world.at(start + 3, [&] { process->click({"Quit"}); });
  world.advanceTo(start + 120);

  EXPECT_EQ(process->terminatedAt(), start + 3);
  EXPECT_EQ(world.boolPreference(kShownKey), true);
  // The answer never reaches the ended process.
  EXPECT_TRUE(world.openedURLs().empty());
}

TEST_F(AccessibilityTest, AskedOnceMeansNothingOnLaterLaunches) {
  world.setBoolPreference(kShownKey, true);
  for (int launchCount = 0; launchCount < 3; ++launchCount) {
    restartProcess();
    launch();
    world.advanceBy(30);
  }
  EXPECT_EQ(world.promptRequestCount(), 0);
  EXPECT_TRUE(world.alerts().empty());
  EXPECT_EQ(world.boolPreference(kShownKey), true);
  // The way left to the user is the menu item.
  EXPECT_FALSE(process->findItem({"Open Accessibility Settings"})->hidden());
}

TEST_F(AccessibilityTest, OpenSettingsAnswerOpensThePaneAndClearsTheMessage) {
  startLive();
  const Date start = world.now();
  launch();
  process->run([&] {
    app().setLastStatusMessage("Accessibility access is required");
    app().refreshMenu();
  });
  ASSERT_EQ(statusLine(), "Accessibility access is required");

  world.setNextAlertResponse(0);
  world.advanceTo(start + 1.5);

  ASSERT_EQ(world.openedURLs().size(), 1u);
  EXPECT_EQ(world.openedURLs()[0].url,
            "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility");
  EXPECT_EQ(world.openedURLs()[0].time, start + 1.0);
  EXPECT_EQ(world.openedURLs()[0].pid, process->pid());
  EXPECT_TRUE(app().lastStatusMessage().empty());
  // Refreshed at once, not at the monitor's next tick at 2.0 s.
  EXPECT_EQ(statusLine(), "✕ Grant Accessibility access");
}

TEST_F(AccessibilityTest, GrantedWhileTheAlertIsOpenStartsAutosaveUnderIt) {
  startLive();
  const Date start = world.now();
  launch();
  // The alert stays open from 1.0 s to 31.0 s; the user grants the
  // permission at 5.0 s and answers "Позже" in the end.
  world.setNextAlertResponse(1, 30);
  std::optional<Date> performedAt;
  world.at(start + 5, [&] {
    world.setTrusted(true);
    // A delayed perform posted now must wait for the alert to close.
    process->platform().runLoop.performAfterDelay(0.1, [&] { performedAt = world.now(); });
  });
  bool alertOpenAtCheck = false;
  std::vector<std::string> logAtCheck;
  std::optional<Date> nextSaveAtCheck;
  world.at(start + 6.5, [&] {
    alertOpenAtCheck = world.alertOpen();
    logAtCheck = logMessages();
    nextSaveAtCheck = app().nextAutosaveAt();
  });
  world.advanceTo(start + 40);

  EXPECT_TRUE(alertOpenAtCheck);
  // The monitor tick at 6.0 s started the schedule under the open alert.
  EXPECT_EQ(logAtCheck,
            (std::vector<std::string>{"Autosave timer not started: app is disabled, Ableton is "
                                      "missing, or Accessibility is missing.",
                                      "Autosave timer started: every 10 min."}));
  EXPECT_EQ(nextSaveAtCheck, start + 6 + 600);
  ASSERT_TRUE(performedAt);
  EXPECT_EQ(*performedAt, start + 31);
  ASSERT_EQ(world.alerts().size(), 1u);
  EXPECT_EQ(world.alerts()[0].answeredAt, start + 31);
  EXPECT_TRUE(world.openedURLs().empty());
  EXPECT_TRUE(app().autosaveTimer());
}

TEST_F(AccessibilityTest, SilentCheckNeverPromptsAndAsksEveryTime) {
  world.setBoolPreference(kShownKey, true);
  const std::uint64_t before = world.trustCheckCount();
  for (int i = 0; i < 100; ++i) {
    world.setTrusted(i % 2 == 0);
    EXPECT_EQ(app().hasAccessibilityAccess(), i % 2 == 0);
  }
  EXPECT_EQ(world.trustCheckCount(), before + 100);

  // A whole session of refreshes, countdown ticks and monitor ticks.
  world.setTrusted(false);
  startLive();
  launch();
  world.after(100, [&] { world.setTrusted(true); });
  world.advanceBy(1300);
  EXPECT_EQ(world.promptRequestCount(), 0);
  EXPECT_EQ(world.promptShownCount(), 0);
  EXPECT_TRUE(logContains("Autosave command sent successfully."));
}

}  // namespace
}  // namespace qm::test
