// One header column: its properties, width limits, position changes and its
// binary stream record.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"
#include "treeview/LazyTrees_HeaderStream.h"

#include <algorithm>

namespace nuq {

using namespace headerstream;

namespace {

bool Loading(const TBaseLazyTree* tree) {
    return tree && (tree->ComponentState & csLoading);
}

// Streams before version 2 knew no parent colour: bits 4 to 6 were the three
// options that follow it now.
TLTColumnOptions ConvertStreamedOptions(uint32_t value, int version) {
    if (version >= 3) return TLTColumnOptions(value & 0xFFFF);
    if (version == 2) return TLTColumnOptions(value & 0xFF);
    return TLTColumnOptions((value & 0x0F) | ((value & 0x70) << 1));
}

} // namespace

TLazyTreeColumn::TLazyTreeColumn(TLazyTreeColumns* collection)
    : TCollectionItem(collection), FOwner(collection),
      FPosition(collection ? TColumnPosition(collection->Count()) : 0) {
    // The default width comes from stored data too; a new column still keeps its own limits.
    FWidth = std::min(std::max(collection ? collection->DefaultWidth : 50, FMinWidth), FMaxWidth);
    FLastWidth = FWidth;
}

TLazyTreeColumn::~TLazyTreeColumn() {
    // A collection clearing itself resets the indices that name its columns at once.
    TLazyTreeColumns* owner = Owner();
    if (owner && !owner->FClearing && Index() >= 0) owner->ForgetIndex(Index());
}

TBaseLazyTree* TLazyTreeColumn::Tree() const {
    TLazyTreeColumns* owner = Owner();
    return owner ? owner->Tree() : nullptr;
}

TLTHeader* TLazyTreeColumn::Header() const {
    TLazyTreeColumns* owner = Owner();
    return owner ? owner->Header() : nullptr;
}

// --- setters -------------------------------------------------------------------------------------

void TLazyTreeColumn::SetAlignment(TAlignment value) {
    if (FAlignment == value) return;
    FAlignment = value;
    Changed(false);
    if (TBaseLazyTree* t = Tree(); t && t->HandleAllocated()) t->Invalidate();
}

void TLazyTreeColumn::SetBiDiMode(TBiDiMode value) {
    if (FBiDiMode == value) return;
    FBiDiMode = value;
    FOptions &= ~coParentBidiMode;
    Changed(false);
    if (TBaseLazyTree* t = Tree(); t && t->HandleAllocated()) t->Invalidate();
}

TAlignment TLazyTreeColumn::CaptionAlignment() const {
    return (FOptions & coUseCaptionAlignment) ? FCaptionAlignment : FAlignment;
}

void TLazyTreeColumn::SetCaptionAlignment(TAlignment value) {
    if ((FOptions & coUseCaptionAlignment) && FCaptionAlignment == value) return;
    FCaptionAlignment = value;
    FOptions |= coUseCaptionAlignment;
    if (TLTHeader* h = Header()) h->Invalidate(this);
}

void TLazyTreeColumn::SetCheckType(TCheckType value) {
    if (FCheckType == value) return;
    FCheckType = value;
    Changed(false);
}

void TLazyTreeColumn::SetCheckState(TCheckState value) {
    if (FCheckState == value) return;
    FCheckState = value;
    Changed(false);
}

void TLazyTreeColumn::SetCheckBox(bool value) {
    if (FCheckBox == value) return;
    FCheckBox = value;
    Changed(false);
}

void TLazyTreeColumn::SetColor(TColor value) {
    if (FColor == value) return;
    FColor = value;
    FOptions &= ~coParentColor;
    Changed(false);
    if (TBaseLazyTree* t = Tree(); t && t->HandleAllocated()) t->Invalidate();
}

void TLazyTreeColumn::SetImageIndex(int value) {
    if (FImageIndex == value) return;
    FImageIndex = value;
    Changed(false);
}

void TLazyTreeColumn::SetLayout(TLTHeaderColumnLayout value) {
    if (FLayout == value) return;
    FLayout = value;
    Changed(false);
}

void TLazyTreeColumn::SetMargin(int value) {
    if (value < 0) value = 4;
    if (FMargin == value) return;
    FMargin = value;
    Changed(false);
}

void TLazyTreeColumn::SetMaxWidth(int value) {
    if (value < FMinWidth) value = FMinWidth;
    FMaxWidth = value;
    SetWidth(FWidth);
}

void TLazyTreeColumn::SetMinWidth(int value) {
    if (value < 0) value = 0;
    if (value > FMaxWidth) value = FMaxWidth;
    FMinWidth = value;
    SetWidth(FWidth);
}

void TLazyTreeColumn::SetSpacing(int value) {
    if (FSpacing == value) return;
    FSpacing = value;
    Changed(false);
}

void TLazyTreeColumn::SetStyle(TLazyTreeColumnStyle value) {
    if (FStyle == value) return;
    FStyle = value;
    Changed(false);
}

void TLazyTreeColumn::SetText(const std::u16string& value) {
    if (FText == value) return;
    FText = value;
    FCaptionText.clear();
    Changed(false);
}

void TLazyTreeColumn::SetWidth(int value) {
    TLazyTreeColumns* owner = Owner();
    TLTHeader* h = Header();
    TBaseLazyTree* tree = Tree();
    TLTHeaderStates states = h ? h->States() : 0;
    if (states & hsScaling) {
        // taken as it is
    } else if (owner && tree && (FOptions & (coVisible | coFixed)) == (coVisible | coFixed)) {
        int64_t totalMax = 0, totalMin = 0;
        for (int i = 0; i < owner->Count(); ++i)
            if (const TLazyTreeColumn& c = (*owner)[i];
                (c.FOptions & (coVisible | coFixed)) == (coVisible | coFixed)) {
                totalMax += c.FMaxWidth;
                totalMin += c.FMinWidth;
            }
        int64_t clientWidth = tree->ClientRect().Width();
        TLTFixedAreaConstraints& fac = h->FixedAreaConstraints();
        if (fac.MaxWidthPercent() > 0)
            totalMin = std::min(totalMin, clientWidth * fac.MaxWidthPercent() / 100);
        if (fac.MinWidthPercent() > 0)
            totalMax = std::max(totalMax, clientWidth * fac.MinWidthPercent() / 100);
        int64_t fixedWidth = owner->VisibleFixedWidth();
        int64_t others = fixedWidth - FWidth;
        int64_t v = value;
        v = std::min(std::max(v, std::max(totalMin - others, int64_t(FMinWidth))),
                     std::min(totalMax - others, int64_t(FMaxWidth)));
        if (fac.MinWidthPercent() > 0)
            v = std::max(clientWidth * fac.MinWidthPercent() / 100 - fixedWidth + FWidth, v);
        if (fac.MaxWidthPercent() > 0)
            v = std::min(clientWidth * fac.MaxWidthPercent() / 100 - fixedWidth + FWidth, v);
        value = int(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    } else {
        value = std::min(std::max(value, FMinWidth), FMaxWidth);
    }
    if (value == FWidth) return;
    FLastWidth = FWidth;
    if (!(states & hsResizing)) ExtraPixel = false;
    TColumnIndex index = Index();
    bool autoSized = h && (h->Options() & hoAutoResize) && index == h->AutoSizeIndex();
    if (!autoSized) {
        FWidth = value;
        if (owner) owner->RecalculatePositions(false);
    }
    if (tree && !Loading(tree) && owner && owner->UpdateCount() == 0) {
        if (h->Options() & hoAutoResize) owner->ApplyAutoSize(index, false);
        tree->DoColumnResize(index);
    }
}

void TLazyTreeColumn::SetOptions(TLTColumnOptions value) {
    TLTColumnOptions old = FOptions;
    TLTColumnOptions added = value & ~old, removed = old & ~value;
    FOptions = value;
    if (added & coParentBidiMode) SyncParentBiDiMode();
    if (added & coParentColor) SyncParentColor();
    if (added & coAutoSpring) SpringRemainder = 0;
    if (((added | removed) & coFixed) && (value & coVisible))
        if (TLTHeader* h = Header()) h->RescaleHeader();
    Changed(false);
    TBaseLazyTree* tree = Tree();
    if (!tree || Loading(tree)) return;
    bool visibilityChanged = (added | removed) & coVisible;
    if ((visibilityChanged || (added & coParentColor)) && tree->UpdateCount() == 0 &&
        tree->HandleAllocated()) {
        tree->Invalidate();
        if (visibilityChanged) tree->UpdateHorizontalScrollBar(false);
    }
}

void TLazyTreeColumn::SetPosition(TColumnPosition value) {
    TLazyTreeColumns* owner = Owner();
    TBaseLazyTree* tree = Tree();
    if (Loading(tree) || !owner) {
        FPosition = value;
        if (owner) owner->FPositionsNeedFix = true;
        return;
    }
    if (value >= TColumnPosition(owner->Count())) value = TColumnPosition(owner->Count() - 1);
    if (value != FPosition) {
        owner->SyncPositionArray();
        if (tree && tree->HandleAllocated() &&
            (tree->HasState(tsEditing) || tree->HasState(tsEditPending)))
            tree->DoCancelEdit();
        owner->MovePositionEntry(Index(), value);
        Changed(false);
        if (owner->UpdateCount() == 0 && tree && tree->HandleAllocated()) {
            Header()->Invalidate(this);
            tree->Invalidate();
        }
    }
    // A column moved next to fixed columns joins the fixed area; one moved out leaves it.
    TColumnIndex neighbour = ((FOptions & coFixed) && FPosition > 0)
                                 ? owner->ColumnAtPosition(FPosition - 1)
                                 : owner->ColumnAtPosition(FPosition + 1);
    if (owner->IsValidColumn(neighbour)) {
        bool fixed = (*owner)[neighbour].FOptions & coFixed;
        if (fixed && !(FOptions & coFixed))
            SetOptions(FOptions | coFixed);
        else if (!fixed && (FOptions & coFixed))
            SetOptions(FOptions & ~coFixed);
    }
}

// --- queries -------------------------------------------------------------------------------------

TRect TLazyTreeColumn::GetHeaderRect() const {
    TBaseLazyTree* tree = Tree();
    TRect r = tree ? tree->HeaderRect() : TRect{};
    r.Left += FLeft;
    r.Right = r.Left + FWidth;
    return r;
}

void TLazyTreeColumn::GetAbsoluteBounds(int& left, int& right) const {
    left = FLeft;
    right = FLeft + FWidth;
}

int TLazyTreeColumn::ScrolledLeft() const {
    if ((FOptions & (coVisible | coFixed)) == (coVisible | coFixed)) return FLeft;
    TBaseLazyTree* tree = Tree();
    return FLeft - (tree ? tree->EffectiveOffsetX() : 0);
}

std::string TLazyTreeColumn::GetDisplayName() const {
    for (char16_t c : FText)
        if (c >= 256) return "Column " + std::to_string(Index());
    return Utf16ToUtf8(FText);
}

void TLazyTreeColumn::SyncParentBiDiMode() {
    TBaseLazyTree* tree = Tree();
    if (!(FOptions & coParentBidiMode) || !tree || FBiDiMode == tree->BiDiMode) return;
    FBiDiMode = tree->BiDiMode;
    Changed(false);
}

void TLazyTreeColumn::SyncParentColor() {
    TBaseLazyTree* tree = Tree();
    if (!(FOptions & coParentColor) || !tree || FColor == tree->Color) return;
    FColor = tree->Color;
    Changed(false);
}

void TLazyTreeColumn::RestoreLastWidth() {
    TLazyTreeColumns* owner = Owner();
    if (owner) owner->AnimatedResize(Index(), FLastWidth);
}

void TLazyTreeColumn::Assign(const TCollectionItem& item) {
    const auto* column = dynamic_cast<const TLazyTreeColumn*>(&item);
    if (!column) return TCollectionItem::Assign(item);
    const TLazyTreeColumn& source = *column;
    TLTColumnOptions saved = FOptions;
    FOptions = 0;
    SetBiDiMode(source.FBiDiMode);
    SetImageIndex(source.FImageIndex);
    SetLayout(source.FLayout);
    SetMargin(source.FMargin);
    SetMaxWidth(source.FMaxWidth);
    SetMinWidth(source.FMinWidth);
    SetPosition(source.FPosition);
    SetSpacing(source.FSpacing);
    SetStyle(source.FStyle);
    SetText(source.FText);
    Hint = source.Hint;
    SetWidth(source.FWidth);
    SetAlignment(source.FAlignment);
    SetCaptionAlignment(source.CaptionAlignment());
    SetColor(source.FColor);
    Tag = source.Tag;
    FOptions = saved;
    SetOptions(source.FOptions);
    Changed(false);
}

bool TLazyTreeColumn::SameAs(const TLazyTreeColumn& o) const {
    return FBiDiMode == o.FBiDiMode && FImageIndex == o.FImageIndex && FLayout == o.FLayout &&
           FMargin == o.FMargin && FMaxWidth == o.FMaxWidth && FMinWidth == o.FMinWidth &&
           FPosition == o.FPosition && FSpacing == o.FSpacing && FStyle == o.FStyle &&
           FText == o.FText && Hint == o.Hint && FWidth == o.FWidth && FAlignment == o.FAlignment &&
           CaptionAlignment() == o.CaptionAlignment() && FColor == o.FColor && Tag == o.Tag &&
           FOptions == o.FOptions;
}

// --- stream record
// ---------------------------------------------------------------------------------

void TLazyTreeColumn::SaveToStream(std::ostream& s) const {
    WriteWide(s, FText);
    WriteWide(s, Hint);
    WriteInt(s, FWidth);
    WriteInt(s, FMinWidth);
    WriteInt(s, FMaxWidth);
    WriteInt(s, FStyle);
    WriteInt(s, FImageIndex);
    WriteInt(s, FLayout);
    WriteInt(s, FMargin);
    WriteInt(s, FSpacing);
    WriteInt(s, FBiDiMode);
    WriteInt(s, FOptions);
    WriteInt(s, Tag);
    WriteInt(s, FAlignment);
    WriteInt(s, FColor);
    if (FOptions & coUseCaptionAlignment) WriteInt(s, FCaptionAlignment);
}

void TLazyTreeColumn::LoadFromStream(std::istream& s, int version) {
    // Ordinals outside their enumerations are brought into range rather than trusted.
    auto ordinal = [](int32_t v, int last) { return std::min(int(uint8_t(v)), last); };
    SetText(ReadWide(s));
    Hint = ReadWide(s);
    int width = ReadInt(s), minWidth = ReadInt(s), maxWidth = ReadInt(s);
    // The limits go first so the width is not clamped by the ones it had.
    SetMaxWidth(std::max(maxWidth, FMinWidth));
    SetMinWidth(minWidth);
    SetMaxWidth(maxWidth);
    SetWidth(width);
    SetStyle(TLazyTreeColumnStyle(ordinal(ReadInt(s), vsOwnerDraw)));
    SetImageIndex(ReadInt(s));
    SetLayout(TLTHeaderColumnLayout(ordinal(ReadInt(s), blGlyphBottom)));
    SetMargin(ReadInt(s));
    SetSpacing(ReadInt(s));
    SetBiDiMode(TBiDiMode(ordinal(ReadInt(s), bdRightToLeftReadingOnly)));
    SetOptions(ConvertStreamedOptions(uint32_t(ReadInt(s)), version));
    if (version >= 1) {
        Tag = ReadInt(s);
        SetAlignment(TAlignment(ordinal(ReadInt(s), taCenter)));
    }
    if (version >= 2) {
        // A column that follows the tree's colour was saved with it and keeps
        // following; any other colour is the column's own (the setter says so).
        SetColor(ReadInt(s));
    }
    if (version >= 6 && (FOptions & coUseCaptionAlignment))
        SetCaptionAlignment(TAlignment(ordinal(ReadInt(s), taCenter)));
}

} // namespace nuq
