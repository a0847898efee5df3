// The journal: every command run, parameter write and log line, in order.
// Tests and --trace read it to see what a plug-in asked of the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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

// A ring of the most recent entries: once `Capacity()` entries are held, or
// their estimated size passes `ByteBudget()`, each new one drops the oldest,
// and `Dropped()` counts what went. So a host that runs for hours holds a
// bounded record whatever its commands carry; tests and --trace see whole
// small runs. Capacity 0 records nothing (every entry counts as dropped).
class Journal {
 public:
  static constexpr std::size_t kDefaultCapacity = 4096;
  static constexpr std::size_t kDefaultByteBudget = std::size_t(1) << 20;
  using EntryList = std::deque<JournalEntry>;

  // Appends and returns the entry's sequence number: entries are numbered
  // from 0 in the order added, dropped ones included.
  std::uint64_t Add(JournalEntry entry);
  const EntryList& Entries() const { return entries_; }
  std::uint64_t Dropped() const { return dropped_; }
  std::size_t Capacity() const { return capacity_; }
  // Drops the oldest entries beyond the new limits at once.
  void SetCapacity(std::size_t capacity);
  std::size_t ByteBudget() const { return byteBudget_; }
  void SetByteBudget(std::size_t bytes);
  // Estimated memory of the entries held.
  std::size_t Bytes() const { return bytes_; }
  // Forgets every entry and the dropped count.
  void Clear();
  // Sets the status of a command entry by its sequence number; an entry
  // already dropped is left alone.
  void SetStatus(std::uint64_t sequence, XSI::CStatus status);
  // One line per entry, e.g.  cmd Duplicate("a":text)  /  set a.posx = 1.5:float
  //  /  log[16] text; after a first line "... N earlier entries dropped" when
  // the ring has dropped any.
  std::string Format() const;

 private:
  void Trim();

  EntryList entries_;
  std::uint64_t dropped_ = 0;
  std::size_t capacity_ = kDefaultCapacity;
  std::size_t byteBudget_ = kDefaultByteBudget;
  std::size_t bytes_ = 0;
};

}  // namespace host
