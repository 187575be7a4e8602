// QuillmarkWatcher [<app-path> <executable-path>]
//
// Run by launchd as a per-user agent. Every 3 seconds: if Ableton Live runs and
// Quillmark does not, start Quillmark in the background. Never returns; only a
// signal ends it.
#include <stdio.h>
#include <unistd.h>

#include "watcher.h"

namespace {

const char* state_name(int state) {
  return state == 1 ? "running" : "not running";
}

}  // namespace

int main(int argc, char* argv[]) {
  char app_buffer[kPathCapacity];
  char executable_buffer[kPathCapacity];
  const char* app_path = nullptr;
  const char* executable_path = nullptr;
  const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "QuillmarkWatcher";

  if (!select_paths(argc, argv, app_buffer, sizeof app_buffer, executable_buffer,
                    sizeof executable_buffer, &app_path, &executable_path)) {
    fprintf(stderr, "usage: %s <app-path> <executable-path>\n", program);
    return kUsageExitStatus;
  }
  // Refuse at once rather than start a copy of the app at every pass, or write
  // forged lines to the log. Neither the path nor argv[0] (which may hold the
  // same bytes) is echoed: standard error goes to the log under launchd.
  const char* const names[2] = {"app path", "executable path"};
  const char* const paths[2] = {app_path, executable_path};
  for (int i = 0; i < 2; ++i) {
    size_t offset = 0;
    if (const char* reason = path_refusal(paths[i], &offset)) {
      fprintf(stderr, "QuillmarkWatcher: %s %s (byte %zu)\n", names[i], reason, offset + 1);
      return kUsageExitStatus;
    }
  }
  // Refuse at once rather than run cut commands at every pass.
  if (!commands_fit(app_path, executable_path)) {
    fprintf(stderr, "%s: app path or executable path too long: a command would exceed %zu bytes\n",
            program, kCommandCapacity);
    return kUsageExitStatus;
  }

  log_message("Watcher started. App: %s", app_path);
  log_message("Main executable: %s", executable_path);

  int previous_live = -1;
  int previous_app = -1;
  for (;;) {
    int live = ableton_running();
    int app = autosave_running(executable_path);

    if (live != previous_live) {
      log_message("Ableton state changed: %s", state_name(live));
      previous_live = live;
    }
    if (app != previous_app) {
      log_message("Quillmark state changed: %s", state_name(app));
      previous_app = app;
    }
    if (live == 1 && app == 0) {
      log_message("Ableton is running but Quillmark is not. Launching app...");
      if (launch_autosave(app_path)) {
        log_message("Launch command sent successfully.");
      } else {
        log_message("Launch command failed.");
      }
    }
    sleep(3);
  }
}
