#pragma once
// What accessibility tools may be given of a tree: the provider an application
// registers and the factory that asks it.

#include <memory>
#include <vector>

#include "treeview/LazyTrees_Node.h"

namespace nuq {

// --- accessibility
// --------------------------------------------------------------------------------

class IAccessible {
public:
    virtual ~IAccessible() = default;
};
class ILTAccessibleProvider {
public:
    virtual ~ILTAccessibleProvider() = default;
    virtual std::shared_ptr<IAccessible> CreateIAccessible(TBaseLazyTree* tree) = 0;
};
bool BindAccessibilityLibrary();
void ReleaseAccessibilityLibrary();
class TLTAccessibilityFactory {
public:
    ~TLTAccessibilityFactory();
    std::shared_ptr<IAccessible> CreateAccessible(TBaseLazyTree* tree);
    std::vector<std::shared_ptr<ILTAccessibleProvider>> Providers;
};
TLTAccessibilityFactory* AccessibilityFactory();
int AccessibilityUseCount();  // the binding's use count
void FinalizeAccessibility(); // the binding unit's end

} // namespace nuq
