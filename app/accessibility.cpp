// The Accessibility permission: the silent trust check, the system prompt,
// the one-time first-launch request and the way to System Settings.
#include "app_delegate.h"

namespace qm {

namespace {

// The first-launch alert is deliberately Russian; every other text is English.
constexpr std::string_view kAccessibilityAlertMessage = "Нужен Универсальный доступ";
constexpr std::string_view kAccessibilityAlertInformativeText =
    "Quillmark нужен Универсальный доступ, чтобы отправлять Cmd+S в Ableton Live.\n\nЧто "
    "сделать:\n1. Нажми «Открыть настройки».\n2. В разделе «Универсальный доступ» нажми кнопку "
    "+.\n3. Выбери Quillmark.app.\n4. Включи переключатель рядом с приложением.\n\nСовет: если "
    "перенесёшь приложение в Applications, выбирай его из папки «Программы».";
constexpr std::string_view kOpenSettingsButtonTitle = "Открыть настройки";
constexpr std::string_view kLaterButtonTitle = "Позже";

}  // namespace

bool AppDelegate::hasAccessibilityAccess() {
  return platform_.accessibility.isProcessTrustedWithOptions(false);
}

void AppDelegate::promptForAccessibilityAccess() {
  // The answer is read later, by the silent checks.
  (void)platform_.accessibility.isProcessTrustedWithOptions(true);
}

void AppDelegate::openAccessibilitySettings() {
  platform_.workspace.openURL(std::string(platform_.desktop.words().permissionSettingsURL));
  setLastStatusMessage({});
  refreshMenu();
}

void AppDelegate::requestAccessibilityOnFirstLaunchIfNeeded() {
  // A desktop without a permission to grant has nothing to ask for.
  if (!platform_.desktop.asksForPermissionAtFirstLaunch()) {
    return;
  }
  if (hasAccessibilityAccess()) {
    return;
  }
  if (didAskForAccessibility()) {
    return;
  }
  const std::string shownKey(kAccessibilityPromptShownDefaultsKey);
  if (platform_.preferences.boolForKey(shownKey)) {
    return;
  }
  setDidAskForAccessibility(true);
  // Written before anything is shown, so quitting with the alert open still
  // counts as asked.
  platform_.preferences.setBool(true, shownKey);
  promptForAccessibilityAccess();

  AlertContent alert;
  alert.messageText = kAccessibilityAlertMessage;
  alert.informativeText = kAccessibilityAlertInformativeText;
  alert.buttonTitles = {std::string(kOpenSettingsButtonTitle), std::string(kLaterButtonTitle)};
  // The watcher starts Quillmark in the background, so the alert would open
  // behind Live's window: ask to come forward first. Once it is answered the
  // focus goes back, unless the user has gone elsewhere meanwhile (System
  // Settings takes it anyway when chosen).
  const RunningApplicationRef previous = platform_.workspace.frontmostApplication();
  platform_.system.activate();
  const long answer = platform_.alerts.runModal(alert);
  if (previous &&
      platform_.workspace.frontmostProcessIdentifierNow() == platform_.system.processIdentifier()) {
    requestActivation(previous, 0);
  }
  if (answer == kAlertFirstButtonReturn) {
    openAccessibilitySettings();
  }
}

}  // namespace qm
