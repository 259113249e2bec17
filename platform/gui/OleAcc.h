#pragma once
// The accessibility library of the layer. No system one exists here: it is
// present only while a program has registered a provider of accessible
// objects. A client is given an object by reference, a non-zero number that
// resolves back to the object while its owner keeps it.

#include <memory>

#include "platform/gui/WinTypes.h"

namespace nuq {

// The object identifier of a window's client area in an object query.
inline constexpr int32_t OBJID_CLIENT = -4;

void RegisterAccessibilityProvider();
void UnregisterAccessibilityProvider();
bool AccessibilityLibraryPresent();

// The reference to Object for a client; 0 for none. An object gets the same
// reference as long as it lives, and no other object gets that one.
LRESULT LresultFromObject(const std::shared_ptr<void>& object);
// The object Reference stands for; null for an unknown reference or one whose
// object is gone.
std::shared_ptr<void> ObjectFromLresult(LRESULT reference);

} // namespace nuq
