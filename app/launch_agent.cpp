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
  runLaunchctlWithArguments({"bootout", domain, plistPath});
  std::vector<std::string> bootstrap = {"bootstrap", domain, plistPath};
  // Only a launchctl that ran and failed is worth another try.
  if (runLaunchctlWithArguments(bootstrap) > 0) {
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
  if (platform_.system.isVolumeReadOnly(executablePath)) {
    logMessage(kReadOnlyVolumeMessage);
    return true;
  }
  return false;
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

int AppDelegate::runLaunchctlWithArguments(const std::vector<std::string>& arguments) {
  try {
    return platform_.system.runTaskAndWait(std::string(kLaunchctlPath), arguments);
  } catch (...) {
    // A launchctl that cannot start is no reason to stop launching.
    return -1;
  }
}

}  // namespace qm
