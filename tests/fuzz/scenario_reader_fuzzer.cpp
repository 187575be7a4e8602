// Property checks of the scenario reader on arbitrary bytes: a refused text
// gets a short, printable reason; an accepted one keeps its bounds, and
// every command re-reads, from its own text at its own time, to the same
// command.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scenario.h"

namespace {

using qm::scenario::Command;
using qm::scenario::Op;
using qm::scenario::ParseError;
using qm::scenario::Scenario;

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Nothing a terminal would act on: no C0 control but the line break, no DEL.
bool printable(std::string_view text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n') || byte == 0x7F) {
      return false;
    }
  }
  return true;
}

bool sameCommand(const Command& a, const Command& b) {
  return a.op == b.op && (a.op != Op::expect || a.check == b.check) && a.words == b.words &&
         a.count == b.count && a.seconds == b.seconds && a.flag == b.flag && a.value == b.value &&
         a.time == b.time && a.text == b.text;
}

void checkRereads(const Command& command) {
  // A run line carries its own time; every other line takes it from "at".
  const std::string line = command.op == Op::run
                               ? command.text
                               : "at " + qm::scenario::timeText(command.time) + " " + command.text;
  // The prefix may push a line that was just short enough over the limit.
  if (line.size() > qm::scenario::kMaxLineBytes) {
    return;
  }
  Scenario again;
  ParseError error;
  require(qm::scenario::parse(line, &again, &error));
  require(again.commands.size() == 1);
  Command reread = again.commands[0];
  reread.line = command.line;
  require(sameCommand(reread, command));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Scenario scenario;
  ParseError error;
  if (!qm::scenario::parse(text, &scenario, &error)) {
    require(error.line >= 0 && !error.reason.empty());
    require(printable(error.reason) && error.reason.find('\n') == std::string::npos);
    // Quoted input is cut, so a reason never grows with the input.
    require(error.reason.size() < 400);
    return 0;
  }
  double previous = 0;
  for (const Command& command : scenario.commands) {
    require(std::isfinite(command.time) && command.time >= previous);
    require(command.time <= qm::scenario::kMaxEndSeconds);
    require(printable(command.text) && command.text.find('\n') == std::string::npos);
    previous = command.time;
    checkRereads(command);
  }
  require(scenario.endTime == previous);
  return 0;
}
