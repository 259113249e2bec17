// Accessibility: the layer's library is absent unless a program registered a
// provider with it; without one trees get no accessible object. The binding
// counts its uses either way.

#include "treeview/LazyTrees.h"

#include "platform/Cp1251.h"
#include "platform/gui/OleAcc.h"

#include <algorithm>
#include <cstring>

namespace nuq {

namespace {

struct TBinding {
    std::mutex Lock;
    int UseCount = 0;
    bool Library = false;
    // The entry points stay null while the library is absent; the layer's
    // library has no window, standard-object or proxy ones.
    LRESULT (*LresultFromObject)(const std::shared_ptr<void>&) = nullptr;
    std::shared_ptr<void> (*ObjectFromLresult)(LRESULT) = nullptr;
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
    if (!b.Library && AccessibilityLibraryPresent()) {
        b.Library = true;
        b.LresultFromObject = &nuq::LresultFromObject;
        b.ObjectFromLresult = &nuq::ObjectFromLresult;
    }
    return b.Library;
}

void ReleaseAccessibilityLibrary() {
    auto& b = Binding();
    std::lock_guard<std::mutex> guard(b.Lock);
    if (b.UseCount > 0) --b.UseCount;
    if (b.UseCount == 0 && b.Library) {
        b.Library = false;
        b.LresultFromObject = nullptr;
        b.ObjectFromLresult = nullptr;
        b.AccessibleObjectFromWindow = b.CreateStdAccessibleObject = nullptr;
        b.CreateStdAccessibleProxyA = nullptr;
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
    if (tree->AccessibleItem()) return tree->AccessibleItem();
    for (size_t i = Providers.size() - 1; i >= 1; --i)
        if (auto a = Providers[i]->CreateIAccessible(tree)) return a;
    return Providers.front()->CreateIAccessible(tree);
}

void FinalizeAccessibility() {
    factory.reset();
    accessibilityAvailable = false;
    while (AccessibilityUseCount() > 0) ReleaseAccessibilityLibrary();
}

namespace {

// The library's reference to Object; 0 without the library or an object.
LRESULT AccessibleReference(const std::shared_ptr<IAccessible>& object) {
    auto& b = Binding();
    std::lock_guard<std::mutex> guard(b.Lock);
    return b.LresultFromObject ? b.LresultFromObject(object) : 0;
}

} // namespace

bool TBaseLazyTree::AnswerObjectQuery(TMessage& m) {
    if (TLTAccessibilityFactory* factory = AccessibilityFactory()) {
        if (!FAccessible) FAccessible = factory->CreateAccessible(this);
        if (!FAccessibleItem) FAccessibleItem = factory->CreateAccessible(this);
    }
    if (int32_t(m.LParam) != OBJID_CLIENT) return false; // the default handling
    m.Result = AccessibleReference(FAccessible);
    return true;
}

LRESULT TBaseLazyTree::ItemQuery(const TMessage& m) {
    switch (m.Msg) {
    case TVM_GETITEM:
        return QueryItem(reinterpret_cast<TTVItem*>(m.LParam));
    case TVM_GETITEMRECT:
        return QueryItemRect(reinterpret_cast<TRect*>(m.LParam), m.WParam != 0);
    case TVM_GETNEXTITEM:
        return LRESULT(QueryNextItem(m.WParam, reinterpret_cast<PLazyNode>(m.LParam)));
    }
    return 0;
}

LRESULT TBaseLazyTree::QueryItem(TTVItem* item) {
    if (!item || !(item->Mask & TVIF_HANDLE) || !item->Item) return 0;
    auto node = static_cast<PLazyNode>(item->Item);
    if (item->Mask & TVIF_CHILDREN) item->Children = int(node->ChildCount);
    if (item->Mask & TVIF_IMAGE) item->Image = ItemImage(node, ikNormal);
    if (item->Mask & TVIF_SELECTEDIMAGE) item->SelectedImage = ItemImage(node, ikSelected);
    if (item->Mask & TVIF_STATE) {
        item->StateMask = 0xFF2F;
        item->State = ItemState(node);
    }
    if ((item->Mask & TVIF_TEXT) && item->Text && item->TextMax > 0) {
        std::string text;
        if (auto* strings = dynamic_cast<TCustomLazyStringTree*>(this))
            text = Utf8ToCp1251(Utf16ToUtf8(strings->DoGetText(node, NoColumn)));
        size_t n = std::min(text.size(), size_t(item->TextMax - 1));
        std::copy_n(text.data(), n, item->Text);
        item->Text[n] = 0;
    }
    return 1;
}

int TBaseLazyTree::ItemImage(PLazyNode node, TLTImageKind kind) {
    bool ghosted = false;
    int index = -1;
    DoGetImageIndex(node, kind, NoColumn, ghosted, index);
    return index;
}

UINT TBaseLazyTree::ItemState(PLazyNode node) {
    UINT state = 0;
    if (node == FFocusedNode) state |= TVIS_FOCUSED;
    if (node->States & vsSelected) state |= TVIS_SELECTED;
    if (node->States & vsCutOrCopy) state |= TVIS_CUT;
    if (node == FDropTargetNode) state |= TVIS_DROPHILITED;
    if (node->States & vsExpanded) state |= TVIS_EXPANDED;
    state |= UINT(ItemImage(node, ikState) + 1) << 12 & 0xF000;
    state |= UINT(ItemImage(node, ikOverlay) + 1) << 8 & 0x0F00;
    return state;
}

LRESULT TBaseLazyTree::QueryItemRect(TRect* rect, bool textOnly) {
    // The node comes in the rectangle's place, the rectangle goes back there.
    if (!rect) return 0;
    PLazyNode node = nullptr;
    std::memcpy(&node, static_cast<const void*>(rect), sizeof node);
    if (!node || !FullyVisible(node)) return 0;
    *rect = GetDisplayRect(node, NoColumn, textOnly);
    return 1;
}

PLazyNode TBaseLazyTree::QueryNextItem(WPARAM relation, PLazyNode node) {
    switch (relation) {
    case 0:
        return GetFirst();
    case 1:
        return node ? node->NextSibling : nullptr;
    case 2:
        return node ? node->PrevSibling : nullptr;
    case 3:
        return node && node != FRoot && node->Parent != FRoot ? node->Parent : nullptr;
    case 4:
        if (!node) return nullptr;
        InitChildren(node);
        return node->FirstChild;
    case 5:
        return GetFirstVisible();
    case 6:
        return node ? GetNextVisible(node) : nullptr;
    case 7:
        return node ? GetPreviousVisible(node) : nullptr;
    case 8:
        return FDropTargetNode;
    case 9:
        return FFocusedNode;
    case 10:
        return GetLastVisible();
    }
    return nullptr;
}

} // namespace nuq
