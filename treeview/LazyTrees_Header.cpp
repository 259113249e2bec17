// The header: its properties, automatic column sizing, fixed-area limits,
// invalidation in the frame, its stream record, and the tree's side of the
// header (its rectangle in the non-client area, column bands, content widths).

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"
#include "treeview/LazyTrees_HeaderStream.h"

#include "platform/ScopeGuard.h"

#include <algorithm>
#include <cmath>

namespace nuq {

using namespace headerstream;

// --- fixed-area constraints
// ------------------------------------------------------------------------

void TLTFixedAreaConstraints::SetMaxHeightPercent(uint8_t v) {
    if (v == FMaxHeightPercent) return;
    FMaxHeightPercent = v;
    if (v > 0 && v < FMinHeightPercent) FMinHeightPercent = v;
    Change();
}

void TLTFixedAreaConstraints::SetMaxWidthPercent(uint8_t v) {
    if (v == FMaxWidthPercent) return;
    FMaxWidthPercent = v;
    if (v > 0 && v < FMinWidthPercent) FMinWidthPercent = v;
    Change();
}

void TLTFixedAreaConstraints::SetMinHeightPercent(uint8_t v) {
    if (v == FMinHeightPercent) return;
    FMinHeightPercent = v;
    if (FMaxHeightPercent > 0 && FMaxHeightPercent < v) FMaxHeightPercent = v;
    Change();
}

void TLTFixedAreaConstraints::SetMinWidthPercent(uint8_t v) {
    if (v == FMinWidthPercent) return;
    FMinWidthPercent = v;
    if (FMaxWidthPercent > 0 && FMaxWidthPercent < v) FMaxWidthPercent = v;
    Change();
}

void TLTFixedAreaConstraints::Assign(const TLTFixedAreaConstraints& source) {
    FMaxHeightPercent = source.FMaxHeightPercent;
    FMaxWidthPercent = source.FMaxWidthPercent;
    FMinHeightPercent = source.FMinHeightPercent;
    FMinWidthPercent = source.FMinWidthPercent;
    Change();
}

// --- construction
// ------------------------------------------------------------------------------------

TLTHeader::TLTHeader(TBaseLazyTree* owner) : FOwner(owner) {
    FFixedAreaConstraints = std::make_unique<TLTFixedAreaConstraints>(this);
    FFixedAreaConstraints->OnChange = [this] {
        FStates |= hsNeedScaling;
        if (FOwner && FOwner->HandleAllocated()) RescaleHeader();
    };
    FDragImage = std::make_unique<TLTDragImage>(owner);
    FDragImage->Transparency = 140;
    FDragImage->PrepareBias = int8_t(206 - 256);
    FDragImage->BlendBias = 0;
    FDragImage->Fade = false;
    FImageChangeLink.OnChange = [this](TChangeLink&) { Invalidate(nullptr); };
    FFont.OnChange = [this](TFont&) { Invalidate(nullptr); }; // however it is written
}

std::unique_ptr<TLazyTreeColumns> TLTHeader::GetColumnsClass() {
    return std::make_unique<TLazyTreeColumns>(this);
}

TLTHeader::~TLTHeader() {
    FDragImage.reset();
    FFixedAreaConstraints.reset();
    if (TLazyTreeColumns* columns = FColumns.Made()) columns->FClearing = true;
    FColumns.reset();
}

bool TLTHeader::TreeLoading() const {
    return FOwner && (FOwner->ComponentState & csLoading);
}

bool TLTHeader::AllowFocus(TColumnIndex c) const {
    return IsValidColumn(c) && ((*FColumns)[c].Options() & coAllowFocus);
}

// --- setters
// -------------------------------------------------------------------------------------------

namespace {

// Header heights, however stored, stay where the header rectangle and the
// shares of the tree's height cannot overflow.
constexpr int HeaderHeightLimit = 32767;

int BoundHeight(int value) {
    return std::clamp(value, 0, HeaderHeightLimit);
}

} // namespace

void TLTHeader::SetHeight(int value) {
    value = BoundHeight(value);
    if (FOwner && FOwner->HandleAllocated()) {
        TLTFixedAreaConstraints& fac = *FFixedAreaConstraints;
        const int64_t h = int64_t(FOwner->ClientRect().Height()) + Height;
        auto share = [h](int percent) {
            return BoundHeight(int(std::min<int64_t>(h * percent / 100, HeaderHeightLimit)));
        };
        int lower = FMinHeight, upper = FMaxHeight;
        if (fac.MaxHeightPercent() > 0) lower = std::min(lower, share(fac.MaxHeightPercent()));
        if (fac.MinHeightPercent() > 0) upper = std::max(upper, share(fac.MinHeightPercent()));
        value = std::min(std::max(value, lower), upper);
        if (fac.MinHeightPercent() > 0) value = std::max(value, share(fac.MinHeightPercent()));
        if (fac.MaxHeightPercent() > 0) value = std::min(value, share(fac.MaxHeightPercent()));
        if (value == Height) return;
        Height = value;
        if (!TreeLoading() && !(FStates & hsScaling)) RecalculateHeader();
        FOwner->Invalidate();
        UpdateWindow(FOwner->WindowHandle());
    } else {
        Height = value;
        FStates |= hsNeedScaling;
    }
}

void TLTHeader::SetDefaultHeight(int value) {
    value = std::min(std::max(value, FMinHeight), FMaxHeight);
    int old = FDefaultHeight;
    FDefaultHeight = value;
    if (Height == old) SetHeight(value);
}

void TLTHeader::SetMinHeight(int value) {
    FMinHeight = std::min(BoundHeight(value), FMaxHeight);
    SetHeight(Height);
}

void TLTHeader::SetMaxHeight(int value) {
    FMaxHeight = std::max(BoundHeight(value), FMinHeight);
    SetHeight(Height);
}

void TLTHeader::SetMainColumn(TColumnIndex value) {
    if (TreeLoading()) {
        FMainColumn = value;
        return;
    }
    int count = ColumnCount();
    value = count == 0 ? NoColumn : std::min(std::max(value, 0), count - 1);
    if (value == FMainColumn) return;
    FMainColumn = value;
    FOwner->MainColumnChanged();
    if (!(FOwner->TreeOptions().SelectionOptions() & toExtendedFocus))
        FOwner->SetFocusedColumn(value);
    if (FOwner->HandleAllocated()) FOwner->Invalidate();
}

void TLTHeader::SetOptions(TLTHeaderOptions value) {
    TLTHeaderOptions changed = value ^ FOptions;
    FOptions = value;
    if ((changed & hoAutoResize) && ColumnCount() > 0) {
        FColumns->ApplyAutoSize(InvalidColumn, false);
        if (FOwner->HandleAllocated()) {
            FOwner->UpdateHorizontalScrollBar(false);
            if (value & hoAutoResize) FOwner->Invalidate();
        }
    }
    if (!TreeLoading() && FOwner->HandleAllocated()) {
        if (changed & hoVisible) RecalculateHeader();
        Invalidate(nullptr);
        FOwner->Invalidate();
    }
}

void TLTHeader::SetSortColumn(TColumnIndex value) {
    if (TreeLoading())
        SortColumn = value;
    else
        DoSetSortColumn(value);
}

void TLTHeader::DoSetSortColumn(TColumnIndex value) {
    value = std::min(std::max(value, NoColumn), ColumnCount() - 1);
    if (value == SortColumn) return;
    if (IsValidColumn(SortColumn)) Invalidate(&(*FColumns)[SortColumn]);
    SortColumn = value;
    if (IsValidColumn(SortColumn)) Invalidate(&(*FColumns)[SortColumn]);
    if ((FOwner->TreeOptions().AutoOptions() & toAutoSort) && FOwner->UpdateCount() == 0)
        FOwner->SortTree(SortColumn, SortDirection, true);
}

void TLTHeader::SetSortDirection(TSortDirection value) {
    if (value == SortDirection) return;
    SortDirection = value;
    Invalidate(nullptr);
    if ((FOwner->TreeOptions().AutoOptions() & toAutoSort) && FOwner->UpdateCount() == 0)
        FOwner->SortTree(SortColumn, SortDirection, true);
}

void TLTHeader::SetStyle(TLTHeaderStyle value) {
    if (value == FStyle) return;
    FStyle = value;
    if (!TreeLoading()) Invalidate(nullptr);
}

void TLTHeader::SetBackground(TColor value) {
    if (value == FBackground) return;
    FBackground = value;
    Invalidate(nullptr);
}

void TLTHeader::SetImages(TCustomImageList* value) {
    if (value == FImages) return;
    // The tree hears of the list's end and clears it here.
    TCustomImageList* old = FImages;
    FImages = value;
    if (old) old->UnRegisterChanges(&FImageChangeLink);
    if (value) value->RegisterChanges(&FImageChangeLink);
    if (old && old != FOwner->Images() && old != FOwner->StateImages() &&
        old != FOwner->CustomCheckImages())
        old->RemoveFreeNotification(FOwner);
    if (FImages) FImages->FreeNotification(FOwner);
    if (!TreeLoading()) Invalidate(nullptr);
}

void TLTHeader::SetAutoSizeIndex(TColumnIndex value) {
    FAutoSizeIndex = value;
    if (FOptions & hoAutoResize) FColumns->ApplyAutoSize(InvalidColumn, false);
}

void TLTHeader::SetFont(const TFont& value) {
    FFont.Assign(value);
    FParentFont = false;
}

void TLTHeader::SetParentFont(bool value) {
    if (value == FParentFont) return;
    FParentFont = value;
    if (value) ParentFontChanged();
}

void TLTHeader::ParentFontChanged() {
    if (!FParentFont) return;
    FFont.Assign(FOwner->Font);
}

void TLTHeader::ChangeScale(int m, int d) {
    if (d == 0) return;
    FFont.Height = int(std::lround(double(FFont.Height) * m / d));
}

// --- layout
// ------------------------------------------------------------------------------------------

void TLTHeader::RecalculateHeader() {
    if (!FOwner->HandleAllocated()) return;
    FOwner->UpdateHeaderRect();
    SetWindowPos(FOwner->WindowHandle(), 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
}

void TLTHeader::RescaleHeader() {
    unsigned busy = csLoading | csReading | csWriting | csDestroying;
    if ((FOwner->ComponentState & busy) || (FStates & hsLoading) || !FOwner->HandleAllocated())
        return;
    FStates |= hsScaling;
    SetHeight(Height);
    RecalculateHeader();
    TLTFixedAreaConstraints& fac = *FFixedAreaConstraints;
    // The fixed columns answer to the width limits; a height limit alone leaves them be.
    if (fac.MinWidthPercent() > 0 || fac.MaxWidthPercent() > 0) {
        for (int i = 0; i < ColumnCount(); ++i) {
            TLazyTreeColumn& c = (*FColumns)[i];
            if ((c.Options() & (coVisible | coFixed)) == (coVisible | coFixed) &&
                c.Width() < c.MinWidth())
                c.FWidth = c.MinWidth();
        }
        int fixedWidth = FColumns->VisibleFixedWidth();
        int clientWidth = FOwner->ClientRect().Width();
        if (fac.MaxWidthPercent() > 0 && fixedWidth > clientWidth * fac.MaxWidthPercent() / 100)
            ResizeColumns(clientWidth * fac.MaxWidthPercent() / 100 - fixedWidth, 0,
                          ColumnCount() - 1, coVisible | coFixed);
        else if (fac.MinWidthPercent() > 0 &&
                 fixedWidth < clientWidth * fac.MinWidthPercent() / 100)
            ResizeColumns(clientWidth * fac.MinWidthPercent() / 100 - fixedWidth, 0,
                          ColumnCount() - 1, coVisible | coFixed);
    }
    FColumns->RecalculatePositions(false);
    FStates &= ~(hsScaling | hsNeedScaling);
}

namespace {

// A width change shared out among a range of columns: each matching column
// takes what its limit leaves room for, the odd pixels going round one each.
class TWidthShare {
public:
    TWidthShare(TLazyTreeColumns& columns, int start, int end, bool grow, TLTColumnOptions options)
        : FColumns(columns), FStart(start), FGrow(grow), FCount(size_t(end - start + 1)),
          FWidths(FCount), FLimits(FCount), FMatches(FCount) {
        for (size_t k = 0; k < FCount; ++k) {
            TLazyTreeColumn& c = Column(k);
            FWidths[k] = c.Width();
            FLimits[k] = grow ? c.MaxWidth() : c.MinWidth();
            FMatches[k] = (c.Options() & options) == options;
        }
    }

    // How many columns have room left, and how much room they have together.
    void Measure(int& count, int& total) const {
        count = total = 0;
        for (size_t k = 0; k < FCount; ++k)
            if (Open(k)) {
                ++count;
                total += Room(k);
            }
    }

    // The widest column's minimum gives way a tenth; False when it cannot.
    bool LowerWidestMinimum() {
        size_t widest = FCount;
        for (size_t k = 0; k < FCount; ++k)
            if (FMatches[k] && (widest == FCount || FWidths[k] > FWidths[widest])) widest = k;
        if (widest == FCount || FLimits[widest] <= 10) return false;
        FLimits[widest] -= FLimits[widest] / 10;
        return true;
    }

    // Every column with room takes up to Share of Remaining.
    void GiveEach(int share, int& remaining) {
        for (size_t k = 0; k < FCount; ++k)
            if (Open(k)) {
                int take = std::min(share, Room(k));
                FWidths[k] += take * Sign();
                remaining -= take;
            }
    }

    // The odd pixels go round the columns, one each, so repeated calls share them out.
    void GiveOddPixels(int& remaining, int count) {
        for (int pass = 0; pass < 2 && remaining > 0 && remaining < count; ++pass) {
            bool any = false;
            for (size_t step = 0; step < FCount && remaining > 0; ++step) {
                size_t k = FGrow ? step : FCount - 1 - step;
                TLazyTreeColumn& c = Column(k);
                if (Open(k) && c.ExtraPixel != FGrow) {
                    FWidths[k] += Sign();
                    c.ExtraPixel = FGrow;
                    --remaining;
                    any = true;
                }
            }
            if (remaining > 0 && !any)
                for (size_t k = 0; k < FCount; ++k)
                    if (FMatches[k]) Column(k).ExtraPixel = !FGrow;
        }
    }

    // The new widths to the columns; the change they took.
    int Apply() {
        int applied = 0;
        for (size_t k = 0; k < FCount; ++k)
            if (FMatches[k]) {
                TLazyTreeColumn& c = Column(k);
                int old = c.Width();
                c.SetWidth(FWidths[k]);
                applied += c.Width() - old;
            }
        return applied;
    }

private:
    TLazyTreeColumn& Column(size_t k) { return FColumns[FStart + int(k)]; }
    int Sign() const { return FGrow ? 1 : -1; }
    int Room(size_t k) const { return FGrow ? FLimits[k] - FWidths[k] : FWidths[k] - FLimits[k]; }
    bool Open(size_t k) const { return FMatches[k] && Room(k) > 0; }

    TLazyTreeColumns& FColumns;
    int FStart;
    bool FGrow;
    size_t FCount;
    std::vector<int> FWidths, FLimits;
    std::vector<bool> FMatches;
};

} // namespace

int TLTHeader::ResizeColumns(int changeBy, TColumnIndex rangeStartCol, TColumnIndex rangeEndCol,
                             TLTColumnOptions options) {
    if (changeBy == 0 || ColumnCount() == 0) return 0;
    int start = std::max(rangeStartCol, 0), end = std::min(rangeEndCol, ColumnCount() - 1);
    if (rangeEndCol < 0) end = ColumnCount() - 1;
    if (end < start) return 0;
    const bool grow = changeBy > 0;
    TWidthShare widths(*FColumns, start, end, grow, options);
    int remaining = std::abs(changeBy);
    while (remaining >= 1) {
        int count = 0, total = 0;
        widths.Measure(count, total);
        // While rescaling, the widest column's minimum gives way a tenth at a time.
        if (total < std::abs(changeBy) && (FStates & hsScaling) && !grow &&
            widths.LowerWidestMinimum())
            continue;
        if (count == 0) break;
        remaining = std::min(remaining, total);
        int share = remaining / count;
        widths.GiveEach(share, remaining);
        widths.GiveOddPixels(remaining, count);
        if (share == 0 && remaining >= count) break; // cannot happen; keeps the loop finite
    }
    FStates |= hsResizing;
    int applied = widths.Apply();
    FStates &= ~hsResizing;
    return applied;
}

void TLTHeader::AutoFitColumns(bool animated, TSmartAutoFitType smartAutoFitType, int rangeStartCol,
                               int rangeEndCol) {
    int count = ColumnCount();
    int start = std::max(0, rangeStartCol);
    int end = rangeEndCol <= NoColumn ? count - 1 : std::min(rangeEndCol, count - 1);
    if (end < start) return;
    FOwner->BeginOperation();
    if (FOwner->OnBeforeAutoFitColumns) FOwner->OnBeforeAutoFitColumns(*this, smartAutoFitType);
    for (int p = start; p <= end; ++p) {
        TColumnIndex index = FColumns->ColumnAtPosition(TColumnPosition(p));
        if (!IsValidColumn(index)) continue;
        TLazyTreeColumn& c = (*FColumns)[index];
        if ((c.Options() & (coResizable | coVisible)) != (coResizable | coVisible)) continue;
        if (!DoBeforeAutoFitColumn(index, smartAutoFitType) || FOwner->OperationCanceled())
            continue;
        bool smart = smartAutoFitType == smaAllColumns ||
                     (smartAutoFitType == smaUseColumnOption && (c.Options() & coSmartResize));
        int width = FOwner->GetMaxColumnWidth(index, smart);
        if (animated)
            FColumns->AnimatedResize(index, width);
        else
            c.SetWidth(width);
        DoAfterAutoFitColumn(index);
    }
    if (FOwner->OnAfterAutoFitColumns) FOwner->OnAfterAutoFitColumns(*this);
    FOwner->EndOperation();
}

void TLTHeader::RestoreColumns() {
    for (int p = ColumnCount() - 1; p >= 0; --p) {
        TColumnIndex index = FColumns->ColumnAtPosition(TColumnPosition(p));
        if (!IsValidColumn(index)) continue;
        TLazyTreeColumn& c = (*FColumns)[index];
        if ((c.Options() & (coResizable | coVisible)) == (coResizable | coVisible))
            c.RestoreLastWidth();
    }
}

void TLTHeader::AdjustAutoSpring() {
    int width = FOwner->ClientRect().Width();
    if ((FOptions & hoAutoSpring) && FLastWidth != 0) {
        int delta = width - FLastWidth;
        if (delta != 0) {
            int sign = delta > 0 ? 1 : -1;
            std::vector<TLazyTreeColumn*> springs;
            for (int i = 0; i < ColumnCount(); ++i)
                if (((*FColumns)[i].Options() & (coVisible | coAutoSpring)) ==
                    (coVisible | coAutoSpring))
                    springs.push_back(&(*FColumns)[i]);
            if (!springs.empty()) {
                float left = float(std::abs(delta)), share = left / float(springs.size());
                for (TLazyTreeColumn* c : springs) {
                    if (left - share < -0.0001f) break;
                    float sum = c->SpringRemainder + share;
                    if (sum >= 1.0f) c->SetWidth(c->Width() + int(sum) * sign);
                    c->SpringRemainder = sum - std::floor(sum);
                    left -= share;
                }
            }
        }
    }
    FLastWidth = width;
}

void TLTHeader::FixupMainColumn() {
    if (ColumnCount() == 0) return;
    if (FMainColumn < 0) FMainColumn = 0;
    if (FMainColumn >= ColumnCount()) FMainColumn = ColumnCount() - 1;
}

void TLTHeader::Invalidate(TLazyTreeColumn* column, bool expandToBorder) {
    if (!(FOptions & hoVisible) || !FOwner->HandleAllocated()) return;
    TRect header = FOwner->HeaderRect();
    TRect r = header;
    if (column) {
        r = column->GetHeaderRect();
        if (!(column->Options() & coFixed)) r = r.Offset(-FOwner->EffectiveOffsetX(), 0);
        if (FOwner->UseRightToLeftAlignment()) r = r.Offset(FOwner->RTLColumnShift(), 0);
        if (expandToBorder) {
            if (FOptions & hoFullRepaintOnResize) {
                r.Left = header.Left;
                r.Right = header.Right;
            } else if (FOwner->UseRightToLeftAlignment())
                r.Left = header.Left;
            else
                r.Right = header.Right;
        }
    }
    // The header lives in the frame: a frame redraw repaints it at once.
    TPoint origin = ClientOrigin(FOwner->WindowHandle());
    TRect client = r.Offset(-origin.X, -origin.Y);
    RedrawWindow(FOwner->WindowHandle(), &client, RDW_FRAME | RDW_NOCHILDREN);
}

// --- events
// --------------------------------------------------------------------------------------------

void TLTHeader::DoAfterAutoFitColumn(TColumnIndex column) {
    if (FOwner->OnAfterAutoFitColumn) FOwner->OnAfterAutoFitColumn(*this, column);
}

void TLTHeader::DoAfterColumnWidthTracking(TColumnIndex column) {
    if (FOwner->OnAfterColumnWidthTracking) FOwner->OnAfterColumnWidthTracking(*this, column);
}

void TLTHeader::DoAfterHeaderHeightTracking() {
    if (FOwner->OnAfterHeaderHeightTracking) FOwner->OnAfterHeaderHeightTracking(*this);
}

bool TLTHeader::DoBeforeAutoFitColumn(TColumnIndex column, TSmartAutoFitType smartAutoFitType) {
    bool allowed = true;
    if (FOwner->OnBeforeAutoFitColumn)
        FOwner->OnBeforeAutoFitColumn(*this, column, smartAutoFitType, allowed);
    return allowed;
}

void TLTHeader::DoBeforeColumnWidthTracking(TColumnIndex column, TShiftState shift) {
    if (FOwner->OnBeforeColumnWidthTracking)
        FOwner->OnBeforeColumnWidthTracking(*this, column, shift);
}

void TLTHeader::DoBeforeHeaderHeightTracking(TShiftState shift) {
    if (FOwner->OnBeforeHeaderHeightTracking) FOwner->OnBeforeHeaderHeightTracking(*this, shift);
}

bool TLTHeader::DoColumnWidthDblClickResize(TColumnIndex column, TPoint p, TShiftState shift) {
    bool allowed = true;
    if (FOwner->OnColumnWidthDblClickResize)
        FOwner->OnColumnWidthDblClickResize(*this, column, shift, p, allowed);
    return allowed;
}

bool TLTHeader::DoColumnWidthTracking(TColumnIndex column, TShiftState shift, TPoint& trackPoint,
                                      TPoint p) {
    bool allowed = true;
    if (FOwner->OnColumnWidthTracking)
        FOwner->OnColumnWidthTracking(*this, column, shift, trackPoint, p, allowed);
    return allowed;
}

TPopupMenu* TLTHeader::DoGetPopupMenu(TColumnIndex column, TPoint position) {
    TPopupMenu* menu = nullptr;
    if (FOwner->OnGetHeaderPopupMenu) FOwner->OnGetHeaderPopupMenu(*this, column, position, menu);
    return menu;
}

bool TLTHeader::DoHeaderHeightTracking(TPoint& p, TShiftState shift) {
    bool allowed = true;
    if (FOwner->OnHeaderHeightTracking) FOwner->OnHeaderHeightTracking(*this, p, shift, allowed);
    return allowed;
}

bool TLTHeader::DoHeaderHeightDblClickResize(TPoint& p, TShiftState shift) {
    bool allowed = true;
    if (FOwner->OnHeaderHeightDblClickResize)
        FOwner->OnHeaderHeightDblClickResize(*this, p, shift, allowed);
    return allowed;
}

// --- stream record
// ---------------------------------------------------------------------------------------

void TLTHeader::SaveToStream(std::ostream& s) const {
    WriteInt(s, -1);
    WriteInt(s, 6);
    FColumns->SaveToStream(s);
    WriteInt(s, FAutoSizeIndex);
    WriteInt(s, FBackground);
    WriteInt(s, Height);
    WriteInt(s, FOptions);
    WriteInt(s, FStyle);
    WriteInt(s, FFont.Color);
    WriteInt(s, FFont.Height);
    WriteInt(s, int32_t(FFont.Name().size()));
    s.write(FFont.Name().data(), std::streamsize(FFont.Name().size()));
    WriteInt(s, 0); // pitch: default
    WriteInt(s, int32_t(FFont.Style & 0xFF));
    WriteInt(s, FMainColumn);
    WriteInt(s, SortColumn);
    WriteInt(s, SortDirection);
    WriteInt(s, FParentFont ? 1 : 0);
    WriteInt(s, FMaxHeight);
    WriteInt(s, FMinHeight);
    WriteInt(s, FDefaultHeight);
    const TLTFixedAreaConstraints& fac = *FFixedAreaConstraints;
    WriteInt(s, fac.MaxHeightPercent());
    WriteInt(s, fac.MaxWidthPercent());
    WriteInt(s, fac.MinHeightPercent());
    WriteInt(s, fac.MinWidthPercent());
}

void TLTHeader::LoadFromStream(std::istream& s) {
    FStates |= hsLoading;
    TLTHeaderOptions saved = FOptions;
    bool optionsRead = false;
    FOptions = 0;
    TScopeExit finish([&] {
        // A stream that breaks off before the options must not leave the header without them.
        if (!optionsRead) FOptions = saved;
        FStates &= ~hsLoading;
        FOwner->DoColumnResize(NoColumn);
    });
    int version = ReadInt(s);
    if (version >= 0) {
        // No marker: the oldest layout, which starts with the column count.
        s.seekg(-4, std::ios::cur);
        version = -1;
    } else {
        version = ReadInt(s);
    }
    FColumns->LoadFromStream(s, version);
    SetAutoSizeIndex(ReadInt(s));
    SetBackground(ReadInt(s));
    SetHeight(ReadInt(s));
    int options = ReadInt(s);
    FOptions = saved;
    optionsRead = true;
    SetOptions(TLTHeaderOptions(options & 0xFFFF));
    SetStyle(TLTHeaderStyle(std::min(int(uint8_t(ReadInt(s))), int(hsXPStyle))));
    TFont font;
    font.Color = ReadInt(s);
    font.Height = ReadInt(s);
    font.Name = ReadBytes(s, size_t(ReadCount(s, 1)));
    ReadInt(s); // pitch
    font.Style = unsigned(ReadInt(s)) & 0xFF;
    SetFont(font);
    if (version > 0) {
        SetMainColumn(ReadInt(s));
        SetSortColumn(ReadInt(s));
        SetSortDirection(ReadInt(s) ? sdDescending : sdAscending);
    }
    if (version > 4) {
        SetParentFont(ReadInt(s) != 0);
        FMaxHeight = BoundHeight(ReadInt(s));
        FMinHeight = std::min(BoundHeight(ReadInt(s)), FMaxHeight);
        FDefaultHeight = std::clamp(ReadInt(s), FMinHeight, FMaxHeight);
        TLTFixedAreaConstraints& fac = *FFixedAreaConstraints;
        auto percent = [&] { return uint8_t(std::min(ReadInt(s) & 0xFF, 100)); };
        fac.FMaxHeightPercent = percent();
        fac.FMaxWidthPercent = percent();
        fac.FMinHeightPercent = percent();
        fac.FMinWidthPercent = percent();
    }
}

void TLTHeader::Assign(const TLTHeader& source) {
    SetAutoSizeIndex(source.FAutoSizeIndex);
    SetBackground(source.FBackground);
    FColumns->Assign(*source.FColumns);
    SetFont(source.FFont);
    FFixedAreaConstraints->Assign(*source.FFixedAreaConstraints);
    SetHeight(source.Height);
    SetImages(source.FImages);
    SetMainColumn(source.FMainColumn);
    SetOptions(source.FOptions);
    SetParentFont(source.FParentFont);
    PopupMenu = source.PopupMenu;
    SetSortColumn(source.SortColumn);
    SetSortDirection(source.SortDirection);
    SetStyle(source.FStyle);
    RescaleHeader();
}

// --- the tree's side
// -----------------------------------------------------------------------------------------

void TBaseLazyTree::UpdateHeaderRect() {
    TRect r{0, 0, Width(), Height()};
    if (HandleAllocated()) {
        TRect window;
        GetWindowRect(WindowHandle(), window);
        r = {0, 0, window.Width(), window.Height()};
        // Inside the platform's frame, then the bevel and border band.
        const TPoint frame = GetBorderDimensions();
        const TRect inset = BevelInsets();
        r = {-frame.X + inset.Left, -frame.Y + inset.Top, r.Right + frame.X - inset.Right,
             r.Bottom + frame.Y - inset.Bottom};
    }
    int height = (FHeader->Options() & hoVisible) ? FHeader->Height : 0;
    r.Bottom = std::min(r.Top + height, std::max(r.Top, r.Bottom));
    FHeaderRect = r;
}

void TBaseLazyTree::HeaderNonClient(TMessage& m) {
    auto* r = m.Msg == WM_NCCALCSIZE ? reinterpret_cast<TRect*>(m.LParam) : nullptr;
    // The rectangle comes in the parent's coordinates; band and header are kept in the window's.
    const TPoint origin = r ? TPoint{r->Left, r->Top} : TPoint{0, 0};
    const int fullRight = r ? r->Right - origin.X : 0;
    TCustomControl::Dispatch(m);
    if (r) {
        // Bevel and border band lie inside the platform's frame and bars, around header
        // and client.
        TRect c = r->Offset(-origin.X, -origin.Y);
        FBorderBandRect = c;
        const TRect inset = BevelInsets();
        const int frame = c.Left;
        c = {c.Left + inset.Left, c.Top + inset.Top, c.Right - inset.Right,
             c.Bottom - inset.Bottom};
        // The header spans the window inside its borders, over the vertical scroll bar too.
        int height = (FHeader->Options() & hoVisible) ? FHeader->Height : 0;
        FHeaderRect = {c.Left, c.Top, fullRight - frame - inset.Right,
                       std::min(c.Top + height, std::max(c.Bottom, c.Top))};
        c.Top = FHeaderRect.Bottom;
        *r = c.Offset(origin.X, origin.Y);
    } else if (m.Msg == WM_NCPAINT) {
        HDC dc = GetWindowDC(WindowHandle());
        if (dc) {
            PaintNonClientBorder(dc);
            if ((FHeader->Options() & hoVisible) && !FHeaderRect.IsEmpty())
                FHeader->Columns().PaintHeader(dc, FHeaderRect, -FEffectiveOffsetX);
            ReleaseDC(WindowHandle(), dc);
        }
    }
}

int TBaseLazyTree::ComputeRTLOffset(bool excludeScrollBar) {
    const TScrollStyle bars = FScrollBarOptions->ScrollBars();
    const bool barShown =
        ClientRect().Height() < RangeY() && (bars == ssVertical || bars == ssBoth);
    const int bar = barShown ? GetSystemMetrics(SM_CXVSCROLL) : 0;
    const int header = FHeaderRect.Width(), tree = RangeX();
    int result = header < tree + bar ? bar : header - tree;
    if (excludeScrollBar) result -= bar;
    return result;
}

int TBaseLazyTree::RTLColumnShift() {
    if (!UseRightToLeftAlignment()) return 0;
    return std::max(0, ComputeRTLOffset(true));
}

int TBaseLazyTree::ContentHeight() const {
    return int(FRoot ? FRoot->TotalHeight - FRoot->NodeHeight : 0) + int(FBottomSpace);
}

int TBaseLazyTree::GetMaxColumnWidth(TColumnIndex column, bool useSmartColumnWidth) {
    // The rows one can scroll to, or with smart width only the rows in view: nodes
    // inside collapsed groups are not shown, so they neither count nor cost.
    bool showRoot = FOptions->PaintOptions() & toShowRoot;
    bool main = column == FHeader->MainColumn() || !FHeader->UseColumns();
    // One canvas with the tree's font for every row, not a font set up per row.
    TBitmap measure(1, 1);
    measure.Canvas().Font.Assign(Font);
    const int bottom = ClientRect().Height();
    int top = 0;
    PLazyNode n = useSmartColumnWidth ? GetNodeAt(0, 0, true, top) : GetFirstVisible();
    int result = 0;
    for (; n && !OperationCanceled(); n = GetNextVisible(n)) {
        if (useSmartColumnWidth) {
            if (top >= bottom) break;
            top += int(GetNodeHeight(n));
        }
        int width = DoGetNodeWidth(n, column, &measure.Canvas()) + FMargin;
        if (main)
            width += int(FIndent) * int(GetNodeLevel(n) + (showRoot ? 1 : 0)) +
                     ContentIndentWidth(n, column);
        result = std::max(result, width);
    }
    return result;
}

void TBaseLazyTree::InvalidateColumn(TColumnIndex column) {
    if (!HandleAllocated() || FUpdateCount > 0) return;
    if (!FHeader->Columns().IsValidColumn(column)) return;
    int left, right;
    FHeader->Columns().GetColumnBounds(column, left, right);
    TRect r{left, 0, right, ClientRect().Height()};
    InvalidateRect(WindowHandle(), &r, false);
}

} // namespace nuq
