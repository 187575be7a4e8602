// The running Quillmark's menu as the timeline and the expectations see it.
#include "session.h"

namespace qm::simtool {

const sim::SimStatusItem* Session::statusItem() const {
  const sim::Process* process = runningQuillmark();
  return process ? process->statusItem().get() : nullptr;
}

const sim::SimMenuItem* Session::menuRow(MenuRow row) const {
  const sim::SimStatusItem* item = statusItem();
  if (item == nullptr || !item->menu() || item->menu()->items().size() != kMenuRowCount) {
    return nullptr;
  }
  return item->menu()->items()[rowIndex(row)].get();
}

}  // namespace qm::simtool
