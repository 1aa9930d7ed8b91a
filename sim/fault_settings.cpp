#include "sim/fault_settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace varnel {

const char kFaultSettingsHelp[] =
    "  no-answer 0|1          the status byte always reads 0: commands are not\n"
    "                         carried out (a camera that stops answering)\n"
    "  stuck-busy 0|1         commands never finish; the status shows busy\n"
    "  other-direction-only 0|1  the status shows only the other direction's\n"
    "                         done bit\n"
    "  busy-polls N           status reads that show busy before a command\n"
    "                         finishes\n"
    "  late-answer-ms N       a command finishes only N ms after it was written\n"
    "  slow-transfer-ms N     every transfer of the volume takes N ms\n"
    "  fail-after-transfers N after N more transfers every transfer fails\n"
    "                         (-1: never)\n"
    "  refused-registers A,B  commands on these register addresses are refused\n"
    "                         (- for none)\n"
    "  short-frames N         the next N frame reads deliver half the frame\n"
    "  failed-frames N        the next N frame reads fail\n"
    "  removed 0|1            1: the camera is pulled out, every transfer fails;\n"
    "                         0 after 1: a camera is plugged in again (a new\n"
    "                         head, with its registers as after power-on)\n";

namespace {

bool ParseInteger(const std::string& text, int64_t minimum, int64_t maximum, int64_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long parsed = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

bool ParseRegisters(const std::string& text, std::set<uint32_t>* registers) {
  registers->clear();
  if (text == "-") return true;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) {
    int64_t address = 0;
    if (!ParseInteger(item, 0, 0xFFFF, &address)) return false;
    registers->insert(static_cast<uint32_t>(address));
  }
  return !registers->empty();
}

}  // namespace

std::string FormatFaultSettings(const HeadFaults& faults, bool removed) {
  std::ostringstream out;
  out << "no-answer " << (faults.statusZero ? 1 : 0) << "\n"
      << "stuck-busy " << (faults.statusStuckBusy ? 1 : 0) << "\n"
      << "other-direction-only " << (faults.otherDirectionOnly ? 1 : 0) << "\n"
      << "busy-polls " << faults.busyPolls << "\n"
      << "late-answer-ms " << faults.answerDelayMs << "\n"
      << "slow-transfer-ms " << faults.transferDelayMs << "\n"
      << "fail-after-transfers " << faults.failAfterTransfers << "\n"
      << "refused-registers ";
  if (faults.refusedRegisters.empty()) {
    out << "-";
  } else {
    bool first = true;
    for (uint32_t address : faults.refusedRegisters) {
      out << (first ? "" : ",") << "0x" << std::hex << address << std::dec;
      first = false;
    }
  }
  out << "\n"
      << "short-frames " << faults.shortFrameReads << "\n"
      << "failed-frames " << faults.failedFrameReads << "\n"
      << "removed " << (removed ? 1 : 0) << "\n";
  return out.str();
}

bool ParseFaultSettings(const std::string& text, HeadFaults* faults, int* removed,
                        std::string* error) {
  HeadFaults next = *faults;
  int nextRemoved = *removed;
  std::stringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::stringstream words(line);
    std::string name, value, extra;
    words >> name >> value >> extra;
    if (name.empty() || name[0] == '#') continue;
    auto wrong = [&](const char* why) {
      if (error != nullptr) *error = "line " + std::to_string(number) + " '" + line + "': " + why;
      return false;
    };
    if (value.empty()) return wrong("no value");
    if (!extra.empty()) return wrong("more than NAME VALUE");
    int64_t v = 0;
    const bool isSwitch = name == "no-answer" || name == "stuck-busy" ||
                          name == "other-direction-only" || name == "removed";
    if (isSwitch) {
      if (!ParseInteger(value, 0, 1, &v)) return wrong("wants 0 or 1");
      if (name == "no-answer") next.statusZero = v != 0;
      if (name == "stuck-busy") next.statusStuckBusy = v != 0;
      if (name == "other-direction-only") next.otherDirectionOnly = v != 0;
      if (name == "removed") nextRemoved = static_cast<int>(v);
    } else if (name == "refused-registers") {
      if (!ParseRegisters(value, &next.refusedRegisters)) {
        return wrong("wants register addresses separated by commas, or -");
      }
    } else if (name == "fail-after-transfers") {
      if (!ParseInteger(value, -1, INT32_MAX, &v)) return wrong("wants -1 or a count");
      next.failAfterTransfers = v;
    } else {
      uint32_t* field = name == "busy-polls"         ? &next.busyPolls
                        : name == "late-answer-ms"   ? &next.answerDelayMs
                        : name == "slow-transfer-ms" ? &next.transferDelayMs
                        : name == "short-frames"     ? &next.shortFrameReads
                        : name == "failed-frames"    ? &next.failedFrameReads
                                                     : nullptr;
      if (field == nullptr) return wrong("unknown fault");
      if (!ParseInteger(value, 0, 600000, &v)) return wrong("wants a number from 0 to 600000");
      *field = static_cast<uint32_t>(v);
    }
  }
  *faults = next;
  *removed = nextRemoved;
  return true;
}

}  // namespace varnel
