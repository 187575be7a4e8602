// Stands in for Apple's UserNotifications umbrella header in the Linux type-check of
// platform/macos. The declarations the sources use from it come from
// apple_shim.h, which the check forces into every file (with blocks on, for
// the files that use this framework).
#pragma once
