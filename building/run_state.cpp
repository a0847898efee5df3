#include "run_state.h"

#include <algorithm>

namespace raisetower {

// Definition order is construction order; keep it as declared.
XSI::CString unitsLibraryPath;
XSI::X3DObject angleUnit;
XSI::X3DObject angleRoofUnit;
XSI::X3DObject floorUnit;
XSI::X3DObject floorCloseUnit;
XSI::X3DObject groundUnit;
XSI::X3DObject groundCloseUnit;
XSI::X3DObject groundDoorUnit;
XSI::X3DObject roofUnit;

namespace {

std::vector<XSI::X3DObject>& createdObjects() {
  static std::vector<XSI::X3DObject> created;
  return created;
}

void forgetDeleted(std::vector<XSI::X3DObject>& objects) {
  objects.erase(std::remove_if(objects.begin(), objects.end(),
                               [](const XSI::X3DObject& o) { return !o.IsValid(); }),
                objects.end());
}

}  // namespace

std::vector<XSI::X3DObject*> templateSlots() {
  return {&angleUnit,  &angleRoofUnit,   &floorUnit,      &floorCloseUnit,
          &groundUnit, &groundCloseUnit, &groundDoorUnit, &roofUnit};
}

void noteCreated(const XSI::X3DObject& created) {
  std::vector<XSI::X3DObject>& objects = createdObjects();
  forgetDeleted(objects);
  if (created.IsValid()) objects.push_back(created);
}

std::vector<XSI::X3DObject> liveCreatedObjects() {
  std::vector<XSI::X3DObject>& objects = createdObjects();
  forgetDeleted(objects);
  return objects;
}

void clearRunState() {
  for (XSI::X3DObject* slot : templateSlots()) *slot = XSI::X3DObject();
  createdObjects().clear();
}

}  // namespace raisetower
