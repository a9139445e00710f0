#pragma once
// Page objects of the Windows browser reached by late binding: an
// AutomationObject over any object's IDispatch.

#include <oaidl.h>

#include "page/page_bridge.h"

namespace zandrel::win32 {

// An AutomationObject holding a reference of its own to `object`; nullptr
// for a null object. Use it on the thread (apartment) the pointer belongs to.
ObjectRef automationObject(IDispatch* object);

}  // namespace zandrel::win32
