// Installs the watcher as a per-user launch agent and reloads it at every
// start, so launchd runs the watcher from the bundle this process came from.
#include "launch_agent.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "app_delegate.h"
#include "files.h"

namespace qm {

namespace {

constexpr std::string_view kWatcherExecutableName = "QuillmarkWatcher";
constexpr std::string_view kLaunchctlPath = "/bin/launchctl";

// launchd tears a booted-out job down asynchronously, and a bootstrap issued
// meanwhile fails with an I/O error. Without a retry the agent would stay
// unloaded until the next login. The retries run from the run loop, so the
// menu-bar icon never waits for them.
constexpr double kBootstrapRetryInterval = 0.5;
constexpr int kBootstrapRetries = 10;

// Where macOS runs a quarantined app that the user opened where it was
// downloaded: a random read-only copy that is gone after a restart.
constexpr std::string_view kTranslocationFolder = "/AppTranslocation/";
constexpr std::string_view kTranslocatedMessage =
    "Watcher not installed: macOS runs Quillmark from a temporary copy (App Translocation). "
    "Move Quillmark to the Applications folder and open it again.";
constexpr std::string_view kReadOnlyVolumeMessage =
    "Watcher not installed: Quillmark runs from a read-only volume, such as its disk image. "
    "Move Quillmark to the Applications folder and open it again.";
constexpr std::string_view kRemovableVolumeMessage =
    "Watcher not installed: Quillmark runs from a removable volume. "
    "Move Quillmark to the Applications folder and open it again.";
constexpr std::string_view kNetworkVolumeMessage =
    "Watcher not installed: Quillmark runs from a network volume. "
    "Move Quillmark to the Applications folder and open it again.";
constexpr std::string_view kUnknownVolumeMessage =
    "Watcher not installed: the volume Quillmark runs from cannot be examined. "
    "Move Quillmark to the Applications folder and open it again.";
// The user switched the agent off in System Settings; launchd refuses it
// until they switch it on again, so asking again is pointless.
constexpr std::string_view kAgentDisabledMessage =
    "Watcher agent not loaded: it is switched off in System Settings > General > Login Items & "
    "Extensions. Switch Quillmark on there to have it start with Live again.";

// launchd's answer to a bootstrap of a service the user disabled.
constexpr int kServiceDisabledStatus = 119;
constexpr std::string_view kServiceDisabledWords = "service is disabled";

// A stalled launchd must never freeze the menu bar for long.
constexpr double kLaunchctlTimeoutSeconds = 10.0;

// launchctl's words on one line: blanks and line breaks folded, cut short.
std::string oneLine(const std::string& text) {
  constexpr std::size_t kMaxWords = 300;
  std::string line;
  for (const char c : text) {
    const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    if (blank) {
      if (!line.empty() && line.back() != ' ') {
        line += ' ';
      }
    } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) {
      line += c;
    }
    if (line.size() >= kMaxWords) {
      line += "...";
      break;
    }
  }
  while (!line.empty() && line.back() == ' ') {
    line.pop_back();
  }
  return line;
}

bool containsIgnoringCase(const std::string& text, std::string_view lowerNeedle) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return lower.find(lowerNeedle) != std::string::npos;
}

std::string deletingLastPathComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return {};
  }
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string appendingPathComponent(const std::string& directory, std::string_view component) {
  if (directory.empty()) {
    return std::string(component);
  }
  std::string path = directory;
  if (path.back() != '/') {
    path += '/';
  }
  path += component;
  return path;
}

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

std::string xmlEscaped(std::string text) {
  replaceAll(text, "&", "&amp;");
  replaceAll(text, "<", "&lt;");
  replaceAll(text, ">", "&gt;");
  replaceAll(text, "\"", "&quot;");
  replaceAll(text, "'", "&apos;");
  return text;
}

std::string launchAgentPropertyList(const std::string& watcherPath,
                                    const std::string& homeDirectory) {
  const std::string home = xmlEscaped(homeDirectory);
  std::string text;
  text += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  text +=
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
  text += "<plist version=\"1.0\">\n";
  text += "<dict>\n";
  text += "  <key>Label</key>\n";
  text += "  <string>" + std::string(kLaunchAgentIdentifier) + "</string>\n";
  text += "  <key>ProgramArguments</key>\n";
  text += "  <array>\n";
  text += "    <string>" + xmlEscaped(watcherPath) + "</string>\n";
  text += "  </array>\n";
  text += "  <key>RunAtLoad</key>\n";
  text += "  <true/>\n";
  text += "  <key>KeepAlive</key>\n";
  text += "  <true/>\n";
  text += "  <key>StandardOutPath</key>\n";
  text += "  <string>" + home + "/Library/Logs/QuillmarkWatcher.log</string>\n";
  text += "  <key>StandardErrorPath</key>\n";
  text += "  <string>" + home + "/Library/Logs/QuillmarkWatcher.log</string>\n";
  text += "</dict>\n";
  text += "</plist>\n";
  return text;
}

void AppDelegate::installLaunchAgentIfNeeded() {
  System& system = platform_.system;
  const std::string executablePath = system.mainExecutablePath();
  const std::string watcherPath =
      appendingPathComponent(deletingLastPathComponent(executablePath), kWatcherExecutableName);
  // An unknown (empty) or relative executable path would find a watcher in
  // whatever folder is current, and launchd cannot run a relative program.
  if (!files::nativePath(watcherPath).is_absolute() || !files::exists(watcherPath)) {
    return;
  }
  if (executableLocationIsTransient(executablePath)) {
    return;
  }

  const std::optional<std::string> library = system.userLibraryDirectory();
  if (!library) {
    return;
  }
  const std::string agentsFolder = appendingPathComponent(*library, "LaunchAgents");
  std::error_code error;
  std::filesystem::create_directories(files::nativePath(agentsFolder), error);
  if (error) {
    return;
  }
  const std::string plistPath = appendingPathComponent(agentsFolder, kLaunchAgentFileName);

  const std::string text = launchAgentPropertyList(watcherPath, system.homeDirectory());
  const std::optional<std::string> current = files::read(plistPath);
  if (!current || *current != text) {
    // A failed write leaves whatever file is there for launchctl to load.
    files::writeAtomically(plistPath, text);
  }

  const std::string domain = "gui/" + std::to_string(system.userId());
  bool stalled = false;
  runLaunchctlWithArguments({"bootout", domain, plistPath}, nullptr, &stalled);
  // launchd does not answer: a bootstrap would only hold the start up again.
  if (stalled) {
    return;
  }
  std::vector<std::string> bootstrap = {"bootstrap", domain, plistPath};
  std::string errorOutput;
  const int status = runLaunchctlWithArguments(bootstrap, &errorOutput);
  // Only a launchctl that ran and failed is worth another try, and not when
  // the user said no.
  if (status > 0) {
    logMessage("launchctl bootstrap exited with status " + std::to_string(status) +
               (errorOutput.empty() ? "" : ": " + oneLine(errorOutput)));
    if (status == kServiceDisabledStatus ||
        containsIgnoringCase(errorOutput, kServiceDisabledWords)) {
      logMessage(kAgentDisabledMessage);
      return;
    }
    scheduleBootstrapRetries(std::move(bootstrap));
  }
}

bool AppDelegate::executableLocationIsTransient(const std::string& executablePath) {
  // launchd would keep a program path that vanishes at eject or restart, and
  // retry the missing program forever.
  if (executablePath.find(kTranslocationFolder) != std::string::npos) {
    logMessage(kTranslocatedMessage);
    return true;
  }
  // A volume that cannot be examined may be on its way out: no agent.
  switch (platform_.system.volumeKind(executablePath)) {
    case System::VolumeKind::fixed:
      return false;
    case System::VolumeKind::readOnly:
      logMessage(kReadOnlyVolumeMessage);
      return true;
    case System::VolumeKind::removable:
      logMessage(kRemovableVolumeMessage);
      return true;
    case System::VolumeKind::network:
      logMessage(kNetworkVolumeMessage);
      return true;
    case System::VolumeKind::unknown:
      break;
  }
  logMessage(kUnknownVolumeMessage);
  return true;
}

void AppDelegate::scheduleBootstrapRetries(std::vector<std::string> bootstrapArguments) {
  stopTimer(bootstrapRetryTimer_);
  bootstrapArguments_ = std::move(bootstrapArguments);
  bootstrapRetriesMade_ = 0;
  // A repeating timer in the common modes keeps its half-second grid while
  // the first-launch alert runs; a delayed call would wait for the alert.
  bootstrapRetryTimer_ =
      makeRepeatingTimer(kBootstrapRetryInterval, &AppDelegate::handleBootstrapRetryTimer);
}

void AppDelegate::handleBootstrapRetryTimer() {
  ++bootstrapRetriesMade_;
  const int status = runLaunchctlWithArguments(bootstrapArguments_);
  if (status > 0 && bootstrapRetriesMade_ < kBootstrapRetries) {
    return;
  }
  stopTimer(bootstrapRetryTimer_);
  if (status > 0) {
    logMessage("Watcher agent not loaded: launchctl bootstrap still exits with status " +
               std::to_string(status) + " after " + std::to_string(kBootstrapRetries) +
               " retries.");
  }
}

std::string AppDelegate::xmlEscapedString(const std::string& text) const {
  return xmlEscaped(text);
}

int AppDelegate::runLaunchctlWithArguments(const std::vector<std::string>& arguments,
                                           std::string* errorOutput, bool* timedOut) {
  System::TaskResult result;
  try {
    result =
        platform_.system.runTask(std::string(kLaunchctlPath), arguments, kLaunchctlTimeoutSeconds);
  } catch (...) {
    // A launchctl that cannot start is no reason to stop launching.
    return -1;
  }
  if (timedOut != nullptr) {
    *timedOut = result.timedOut;
  }
  if (result.timedOut) {
    logMessage("launchctl " + (arguments.empty() ? std::string() : arguments.front()) +
               " did not finish within 10 seconds and was ended.");
    return -1;
  }
  if (errorOutput != nullptr) {
    *errorOutput = std::move(result.errorOutput);
  }
  return result.status;
}

}  // namespace qm
