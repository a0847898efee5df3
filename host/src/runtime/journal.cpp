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

}  // namespace

std::string Journal::Format() const {
  std::ostringstream out;
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
