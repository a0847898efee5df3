// The journal: every command run, parameter write and log line, in order.
// Tests and --trace read it to see what a plug-in asked of the host.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <xsi_application.h>
#include <xsi_status.h>
#include <xsi_string.h>
#include <xsi_value.h>

namespace host {

struct JournalEntry {
  enum Kind { Command, ParamWrite, Log } kind = Command;
  XSI::CString name;              // command name | parameter name | log text
  std::vector<XSI::CValue> args;  // command arguments, by position
  XSI::CString object;            // ParamWrite: object name before the write
  XSI::CValue value;              // ParamWrite: value written
  XSI::siSeverityType severity = XSI::siInfoMsg;  // Log
  XSI::CStatus status;            // Command: its result
};

class Journal {
 public:
  void Add(JournalEntry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<JournalEntry>& Entries() const { return entries_; }
  void Clear() { entries_.clear(); }
  void SetStatus(std::size_t index, XSI::CStatus status) {
    if (index < entries_.size()) entries_[index].status = status;
  }
  // One line per entry, e.g.  cmd Duplicate("a":text)  /  set a.posx = 1.5:float
  //  /  log[16] text
  std::string Format() const;

 private:
  std::vector<JournalEntry> entries_;
};

}  // namespace host
