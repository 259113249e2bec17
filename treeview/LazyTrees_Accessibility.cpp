// Accessibility: the library binding is absent on this platform unless a
// provider is registered, so trees get no accessible object and send no
// notices; the binding still counts its uses as the design does.

#include "treeview/LazyTrees.h"

#include "platform/Cp1251.h"

#include <algorithm>
#include <cstring>

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

LRESULT TBaseLazyTree::ItemQuery(const TMessage& m) {
    switch (m.Msg) {
    case TVM_GETITEM: {
        auto* item = reinterpret_cast<TTVItem*>(m.LParam);
        if (!item || !(item->Mask & TVIF_HANDLE) || !item->Item) return 0;
        auto node = static_cast<PLazyNode>(item->Item);
        auto image = [&](TLTImageKind kind) {
            bool ghosted = false;
            int index = -1;
            DoGetImageIndex(node, kind, NoColumn, ghosted, index);
            return index;
        };
        if (item->Mask & TVIF_CHILDREN) item->Children = int(node->ChildCount);
        if (item->Mask & TVIF_IMAGE) item->Image = image(ikNormal);
        if (item->Mask & TVIF_SELECTEDIMAGE) item->SelectedImage = image(ikSelected);
        if (item->Mask & TVIF_STATE) {
            item->StateMask = 0xFF2F;
            UINT state = 0;
            if (node == FFocusedNode) state |= TVIS_FOCUSED;
            if (node->States & vsSelected) state |= TVIS_SELECTED;
            if (node->States & vsCutOrCopy) state |= TVIS_CUT;
            if (node == FDropTargetNode) state |= TVIS_DROPHILITED;
            if (node->States & vsExpanded) state |= TVIS_EXPANDED;
            state |= UINT(image(ikState) + 1) << 12 & 0xF000;
            state |= UINT(image(ikOverlay) + 1) << 8 & 0x0F00;
            item->State = state;
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
    case TVM_GETITEMRECT: {
        // The node comes in the rectangle's place, the rectangle goes back there.
        auto* rect = reinterpret_cast<TRect*>(m.LParam);
        if (!rect) return 0;
        PLazyNode node = nullptr;
        std::memcpy(&node, static_cast<const void*>(rect), sizeof node);
        if (!node || !FullyVisible(node)) return 0;
        *rect = GetDisplayRect(node, NoColumn, m.WParam != 0);
        return 1;
    }
    case TVM_GETNEXTITEM: {
        auto node = reinterpret_cast<PLazyNode>(m.LParam);
        PLazyNode result = nullptr;
        switch (m.WParam) {
        case 0:
            result = GetFirst();
            break;
        case 1:
            result = node ? node->NextSibling : nullptr;
            break;
        case 2:
            result = node ? node->PrevSibling : nullptr;
            break;
        case 3:
            if (node && node != FRoot && node->Parent != FRoot) result = node->Parent;
            break;
        case 4:
            if (node) {
                InitChildren(node);
                result = node->FirstChild;
            }
            break;
        case 5:
            result = GetFirstVisible();
            break;
        case 6:
            result = node ? GetNextVisible(node) : nullptr;
            break;
        case 7:
            result = node ? GetPreviousVisible(node) : nullptr;
            break;
        case 8:
            result = FDropTargetNode;
            break;
        case 9:
            result = FFocusedNode;
            break;
        case 10:
            result = GetLastVisible();
            break;
        }
        return LRESULT(result);
    }
    }
    return 0;
}

} // namespace nuq
