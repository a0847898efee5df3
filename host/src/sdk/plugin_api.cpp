// Context, Command, ArgumentArray and PluginRegistrar: the handles a plug-in
// sees during registration, definition and runs. Every call runs under the
// SDK guard (sdk_guard.h).
#include "runtime.h"
#include "sdk_guard.h"
#include "xsi_command.h"
#include "xsi_context.h"
#include "xsi_pluginregistrar.h"

namespace XSI {

namespace {

host::ContextRecord* ContextOf(const CRef& ref) {
  if (ref.GetKind() != siRefKind::Context) return nullptr;
  return host::Runtime::Get().FindContext(ref.GetId());
}

host::CommandDef* CommandOf(const CRef& ref) {
  if (ref.GetKind() != siRefKind::Command) return nullptr;
  return host::Runtime::Get().CommandById(ref.GetId());
}

host::RegistrarRecord* RegistrarOf(const CRef& ref) {
  if (ref.GetKind() != siRefKind::Registrar) return nullptr;
  return host::Runtime::Get().FindRegistrar(ref.GetId());
}

// Changes the record behind a handle with `edit`; a handle to nothing (stale
// or of another kind) is refused as an invalid argument.
template <typename Record, typename Edit>
CStatus EditRecord(Record* record, Edit&& edit) noexcept {
  return sdk::Guarded([&]() -> CStatus {
    if (!record) return CStatus::InvalidArgument;
    edit(*record);
    return CStatus::OK;
  });
}

}  // namespace

CRef Context::GetSource() const {
  host::ContextRecord* ctx = ContextOf(ref_);
  return ctx ? ctx->source : CRef();
}

CValue Context::GetAttribute(const CString& name) const {
  return sdk::GuardedValue<CValue>([&] {
    host::ContextRecord* ctx = ContextOf(ref_);
    if (!ctx) return CValue();
    auto it = ctx->attributes.find(name);
    return it == ctx->attributes.end() ? CValue() : it->second;
  });
}

CStatus Context::PutAttribute(const CString& name, const CValue& value) {
  return EditRecord(ContextOf(ref_), [&](host::ContextRecord& c) { c.attributes[name] = value; });
}

Argument ArgumentArray::Add(const CString& name, const CValue& defaultValue) {
  return sdk::GuardedValue<Argument>([&] {
    host::CommandDef* def = CommandOf(command_);
    if (!def) return Argument();
    def->arguments.push_back(host::ArgumentDef{name, defaultValue});
    return Argument(command_, static_cast<long>(def->arguments.size()) - 1);
  });
}

long ArgumentArray::GetCount() const {
  host::CommandDef* def = CommandOf(command_);
  return def ? static_cast<long>(def->arguments.size()) : 0;
}

CStatus Command::PutDescription(const CString& text) {
  return EditRecord(CommandOf(ref_), [&](host::CommandDef& d) { d.description = text; });
}

CString Command::GetDescription() const {
  return sdk::GuardedValue<CString>([&] {
    host::CommandDef* def = CommandOf(ref_);
    return def ? def->description : CString();
  });
}

CStatus Command::EnableReturnValue(bool enable) {
  return EditRecord(CommandOf(ref_), [&](host::CommandDef& d) { d.returnsValue = enable; });
}

CStatus PluginRegistrar::PutAuthor(const CString& author) {
  return EditRecord(RegistrarOf(ref_), [&](host::RegistrarRecord& r) { r.author = author; });
}

CStatus PluginRegistrar::PutEmail(const CString& email) {
  return EditRecord(RegistrarOf(ref_), [&](host::RegistrarRecord& r) { r.email = email; });
}

CStatus PluginRegistrar::PutURL(const CString& url) {
  return EditRecord(RegistrarOf(ref_), [&](host::RegistrarRecord& r) { r.url = url; });
}

CStatus PluginRegistrar::PutVersion(long major, long minor) {
  return EditRecord(RegistrarOf(ref_), [&](host::RegistrarRecord& r) {
    r.versionMajor = major;
    r.versionMinor = minor;
  });
}

PluginItem PluginRegistrar::RegisterCommand(const CString& name, const CString& scriptName) {
  return sdk::GuardedValue<PluginItem>([&] {
    auto* reg = RegistrarOf(ref_);
    if (!reg || name.IsEmpty()) return PluginItem();
    reg->commands.emplace_back(name, scriptName);
    return PluginItem(ref_);
  });
}

}  // namespace XSI
