// Accessibility: the library binding is absent on this platform unless a
// provider is registered, so trees get no accessible object and send no
// notices; the binding still counts its uses as the design does.

#include "treeview/LazyTrees.h"

namespace nuq {

namespace {

struct TBinding {
    std::mutex Lock;
    int UseCount = 0;
    void* Library = nullptr;
    // The five entry points stay null while the library is absent.
    void* LresultFromObject = nullptr;
    void* ObjectFromLresult = nullptr;
    void* AccessibleObjectFromWindow = nullptr;
    void* CreateStdAccessibleObject = nullptr;
    void* CreateStdAccessibleProxyA = nullptr;
};

TBinding& Binding() {
    static auto* b = new TBinding; // outlives the unit's end
    return *b;
}

bool accessibilityAvailable = false;
std::unique_ptr<TLTAccessibilityFactory>& factory = *new std::unique_ptr<TLTAccessibilityFactory>;

} // namespace

bool BindAccessibilityLibrary() {
    auto& b = Binding();
    std::lock_guard<std::mutex> guard(b.Lock);
    ++b.UseCount;
    // No accessibility library exists here: nothing to load or bind.
    return b.Library != nullptr;
}

void ReleaseAccessibilityLibrary() {
    auto& b = Binding();
    std::lock_guard<std::mutex> guard(b.Lock);
    if (b.UseCount > 0) --b.UseCount;
    if (b.UseCount == 0 && b.Library) {
        b.Library = nullptr;
        b.LresultFromObject = b.ObjectFromLresult = b.AccessibleObjectFromWindow = nullptr;
        b.CreateStdAccessibleObject = b.CreateStdAccessibleProxyA = nullptr;
    }
}

int AccessibilityUseCount() {
    auto& b = Binding();
    std::lock_guard<std::mutex> guard(b.Lock);
    return b.UseCount;
}

TLTAccessibilityFactory* AccessibilityFactory() {
    if (!accessibilityAvailable) accessibilityAvailable = BindAccessibilityLibrary();
    if (!accessibilityAvailable) return nullptr;
    if (!factory) factory = std::make_unique<TLTAccessibilityFactory>();
    return factory.get();
}

TLTAccessibilityFactory::~TLTAccessibilityFactory() {
    Providers.clear();
    ReleaseAccessibilityLibrary();
}

std::shared_ptr<IAccessible> TLTAccessibilityFactory::CreateAccessible(TBaseLazyTree* tree) {
    if (!tree || Providers.empty()) return nullptr;
    if (!tree->Accessible()) return Providers.front()->CreateIAccessible(tree);
    for (size_t i = Providers.size() - 1; i >= 1; --i)
        if (auto a = Providers[i]->CreateIAccessible(tree)) return a;
    return Providers.front()->CreateIAccessible(tree);
}

void FinalizeAccessibility() {
    factory.reset();
    accessibilityAvailable = false;
    while (AccessibilityUseCount() > 0) ReleaseAccessibilityLibrary();
}

} // namespace nuq
