// Recognizes the application's save command among the key events posted on
// the simulated desktop, for the tool's `expect saves` and the tests.
#pragma once

#include <vector>

#include "sim_world.h"

namespace qm::simtool {

// Complete runs of the save command's key strokes posted to `pid` that type
// Command-S in the layout of their moment, each event flagged with exactly
// the Command mask and no other modifier held by the user. Any other event to that pid
// breaks a run; a Command down that breaks one starts the next.
int completedSaveSequences(const std::vector<sim::PostedKeyEvent>& events, int pid);

}  // namespace qm::simtool
