// Context, Command, ArgumentArray and PluginRegistrar: the handles a plug-in
// sees during registration, definition and runs.
#include "runtime.h"
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

}  // namespace

CRef Context::GetSource() const {
  host::ContextRecord* ctx = ContextOf(ref_);
  return ctx ? ctx->source : CRef();
}

CValue Context::GetAttribute(const CString& name) const {
  host::ContextRecord* ctx = ContextOf(ref_);
  if (!ctx) return CValue();
  auto it = ctx->attributes.find(name);
  return it == ctx->attributes.end() ? CValue() : it->second;
}

CStatus Context::PutAttribute(const CString& name, const CValue& value) {
  host::ContextRecord* ctx = ContextOf(ref_);
  if (!ctx) return CStatus::InvalidArgument;
  ctx->attributes[name] = value;
  return CStatus::OK;
}

Argument ArgumentArray::Add(const CString& name, const CValue& defaultValue) {
  host::CommandDef* def = CommandOf(command_);
  if (!def) return Argument();
  def->arguments.push_back(host::ArgumentDef{name, defaultValue});
  return Argument(command_, static_cast<long>(def->arguments.size()) - 1);
}

long ArgumentArray::GetCount() const {
  host::CommandDef* def = CommandOf(command_);
  return def ? static_cast<long>(def->arguments.size()) : 0;
}

CStatus Command::PutDescription(const CString& text) {
  host::CommandDef* def = CommandOf(ref_);
  if (!def) return CStatus::InvalidArgument;
  def->description = text;
  return CStatus::OK;
}

CString Command::GetDescription() const {
  host::CommandDef* def = CommandOf(ref_);
  return def ? def->description : CString();
}

CStatus Command::EnableReturnValue(bool enable) {
  host::CommandDef* def = CommandOf(ref_);
  if (!def) return CStatus::InvalidArgument;
  def->returnsValue = enable;
  return CStatus::OK;
}

CStatus PluginRegistrar::PutAuthor(const CString& author) {
  auto* reg = RegistrarOf(ref_);
  if (!reg) return CStatus::InvalidArgument;
  reg->author = author;
  return CStatus::OK;
}

CStatus PluginRegistrar::PutEmail(const CString& email) {
  auto* reg = RegistrarOf(ref_);
  if (!reg) return CStatus::InvalidArgument;
  reg->email = email;
  return CStatus::OK;
}

CStatus PluginRegistrar::PutURL(const CString& url) {
  auto* reg = RegistrarOf(ref_);
  if (!reg) return CStatus::InvalidArgument;
  reg->url = url;
  return CStatus::OK;
}

CStatus PluginRegistrar::PutVersion(long major, long minor) {
  auto* reg = RegistrarOf(ref_);
  if (!reg) return CStatus::InvalidArgument;
  reg->versionMajor = major;
  reg->versionMinor = minor;
  return CStatus::OK;
}

PluginItem PluginRegistrar::RegisterCommand(const CString& name, const CString& scriptName) {
  auto* reg = RegistrarOf(ref_);
  if (!reg || name.IsEmpty()) return PluginItem();
  reg->commands.emplace_back(name, scriptName);
  return PluginItem(ref_);
}

}  // namespace XSI
