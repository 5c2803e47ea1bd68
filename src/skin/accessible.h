// What assistive technology reads of the drawn controls: the client object a control's window
// hands out for WM_GETOBJECT, and the events that tell a screen reader something changed.
//
// The object reads the control behind the window on every call (role, name, value, states,
// default action; see TControl's Accessible* members), so it never shows stale texts; once the
// window is gone it answers that it is no longer connected.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include "system/handles.h"

namespace Skin {

// A new accessible object of the control behind hwnd: what WM_GETOBJECT hands out.
Sys::TComPtr<IAccessible> NewAccessibleObject(HWND hwnd);

// The answer to WM_GETOBJECT with OBJID_CLIENT: a new accessible object of the control behind
// hwnd, handed over by LresultFromObject.
LRESULT AccessibleObjectResult(HWND hwnd, WPARAM wParam);

// Raises a WinEvent (EVENT_OBJECT_NAMECHANGE, ...) for the client object of hwnd.
void NotifyAccessibleEvent(DWORD event, HWND hwnd);

}  // namespace Skin
