// PluginRegistrar: what XSILoadPlugin fills in. Its name (SIObject::PutName)
// is the plug-in's name.
#pragma once

#include "xsi_api.h"

#include "xsi_siobject.h"

namespace XSI {

class PluginItem : public SIObject {
 public:
  using SIObject::SIObject;
};

class XSI_API PluginRegistrar : public SIObject {
 public:
  using SIObject::SIObject;
  CStatus PutAuthor(const CString& author);
  CStatus PutEmail(const CString& email);
  CStatus PutURL(const CString& url);
  CStatus PutVersion(long major, long minor);
  // Registers a command; the host then looks up the exports
  // <name>_Init and <name>_Execute in the plug-in.
  PluginItem RegisterCommand(const CString& name, const CString& scriptName);
};

}  // namespace XSI
