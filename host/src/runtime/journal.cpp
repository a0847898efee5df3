#include <sstream>

#include "runtime.h"

namespace host {

namespace {

std::string Describe(const CValue& v) {
  std::string kind = ToUtf8(CString(v.GetTypeName()));
  if (v.IsEmpty()) return "<empty>";
  if (v.GetType() == CValue::siString) return "\"" + ToUtf8(v.GetAsText()) + "\":" + kind;
  return ToUtf8(v.GetAsText()) + ":" + kind;
}

std::size_t TextBytes(const XSI::CString& s) { return s.Wide().size() * sizeof(wchar_t); }

// What an entry holds in memory, near enough to keep the ring's size bounded
// whatever the commands carry.
std::size_t Footprint(const JournalEntry& e) {
  std::size_t bytes = sizeof(JournalEntry) + e.args.size() * sizeof(CValue);
  bytes += TextBytes(e.name) + TextBytes(e.object);
  for (const CValue& v : e.args)
    if (v.GetType() == CValue::siString) bytes += TextBytes(v.GetAsText());
  if (e.value.GetType() == CValue::siString) bytes += TextBytes(e.value.GetAsText());
  return bytes;
}

}  // namespace

std::uint64_t Journal::Add(JournalEntry entry) {
  const std::uint64_t sequence = dropped_ + entries_.size();
  bytes_ += Footprint(entry);
  entries_.push_back(std::move(entry));
  Trim();
  return sequence;
}

void Journal::SetCapacity(std::size_t capacity) {
  capacity_ = capacity;
  Trim();
}

void Journal::SetByteBudget(std::size_t bytes) {
  byteBudget_ = bytes;
  Trim();
}

void Journal::Trim() {
  while (!entries_.empty() && (entries_.size() > capacity_ || bytes_ > byteBudget_)) {
    bytes_ -= Footprint(entries_.front());
    entries_.pop_front();
    ++dropped_;
  }
}

void Journal::Clear() {
  entries_.clear();
  dropped_ = 0;
  bytes_ = 0;
}

void Journal::SetStatus(std::uint64_t sequence, XSI::CStatus status) {
  if (sequence < dropped_) return;
  const std::uint64_t index = sequence - dropped_;
  if (index < entries_.size()) entries_[index].status = status;
}

std::string Journal::Format() const {
  std::ostringstream out;
  if (dropped_ > 0) out << "... " << dropped_ << " earlier entries dropped\n";
  for (const JournalEntry& e : entries_) {
    switch (e.kind) {
      case JournalEntry::Command: {
        out << "cmd " << ToUtf8(e.name) << "(";
        for (std::size_t i = 0; i < e.args.size(); ++i) out << (i ? ", " : "") << Describe(e.args[i]);
        out << ")";
        if (!e.status.Succeeded()) out << " -> failed (" << e.status.GetCode() << ")";
        break;
      }
      case JournalEntry::ParamWrite:
        out << "set " << ToUtf8(e.object) << "." << ToUtf8(e.name) << " = " << Describe(e.value);
        break;
      case JournalEntry::Log:
        out << "log[" << e.severity << "] " << ToUtf8(e.name);
        break;
    }
    out << "\n";
  }
  return out.str();
}

}  // namespace host
