// The column collection: positions and lefts, hit tests, navigation in
// screen order, auto-size and animated resize, the hot and pressed column,
// header clicks and the collection's stream record.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_HeaderStream.h"

#include "platform/EventLoop.h"

#include <algorithm>
#include <cmath>

namespace nuq {

using namespace headerstream;

namespace {

bool Visible(const TLazyTreeColumn& c) {
    return c.Options() & coVisible;
}

bool VisibleFixed(const TLazyTreeColumn& c) {
    return (c.Options() & (coVisible | coFixed)) == (coVisible | coFixed);
}

// Widths may be as large as an integer holds; sums of them stop at its ends.
int Sum(int64_t v) {
    return int(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

} // namespace

TLazyTreeColumns::TLazyTreeColumns(TLTHeader* header)
    : FHeader(header), FHeaderBitmap(std::make_unique<TBitmap>()) {
    FHeaderBitmap->PixelFormat = pf32bit;
}

TLazyTreeColumns::~TLazyTreeColumns() {
    FClearing = true;
    FItems.clear();
}

TBaseLazyTree* TLazyTreeColumns::Tree() const {
    return FHeader ? FHeader->Treeview() : nullptr;
}

TLazyTreeColumn* TLazyTreeColumns::Items(TColumnIndex index) const {
    return IsValidColumn(index) ? FItems[size_t(index)].get() : nullptr;
}

std::unique_ptr<TLazyTreeColumn> TLazyTreeColumns::NewColumn() {
    TBaseLazyTree* tree = Tree();
    return tree ? tree->GetColumnClass(this) : std::make_unique<TLazyTreeColumn>(this);
}

TLazyTreeColumn* TLazyTreeColumns::Add() {
    TLazyTreeColumn* c = Insert(NewColumn());
    c->SyncParentBiDiMode();
    c->SyncParentColor();
    return c;
}

TLazyTreeColumn* TLazyTreeColumns::Insert(std::unique_ptr<TLazyTreeColumn> column) {
    FItems.push_back(std::move(column));
    TLazyTreeColumn* c = FItems.back().get();
    c->FOwner = this;
    c->FIndexHint = Count() - 1;
    c->FPosition = TColumnPosition(Count() - 1);
    Notify(*c, cnAdded);
    Changed(nullptr);
    SetItemName(*c);
    return c;
}

void TLazyTreeColumns::Notify(TLazyTreeColumn& item, TColumnNotification action) {
    if (action == cnAdded)
        Added(item);
    else if (action == cnDeleting)
        Deleting(item);
}

void TLazyTreeColumns::AdjustIndex(TColumnIndex& value, TColumnIndex removed) const {
    if (value == removed)
        value = NoColumn;
    else if (value > removed)
        --value;
}

std::unique_ptr<TLazyTreeColumn> TLazyTreeColumns::Extract(TColumnIndex index) {
    if (!IsValidColumn(index))
        throw EListError("Индекс списка вне диапазона (" + std::to_string(index) + ")");
    if (!FClearing) {
        RemoveIndexFromPositions(index);
        for (TColumnIndex* v : {&HoverIndex, &DownIndex, &TrackedIndex, &ClickIndex})
            AdjustIndex(*v, index);
        AdjustIndex(FHeader->FAutoSizeIndex, index);
        AdjustIndex(FHeader->SortColumn, index);
        // The main column keeps naming the same column; when it goes, the first one takes over.
        TColumnIndex& main = FHeader->FMainColumn;
        if (main == index)
            main = Count() > 1 ? 0 : NoColumn;
        else if (main > index)
            --main;
    }
    std::unique_ptr<TLazyTreeColumn> column = std::move(FItems[size_t(index)]);
    FItems.erase(FItems.begin() + index);
    column->FOwner = nullptr;
    return column;
}

void TLazyTreeColumns::Delete(TColumnIndex index) {
    if (IsValidColumn(index)) Notify(*FItems[size_t(index)], cnDeleting);
    Extract(index).reset();
    Changed(nullptr);
}

void TLazyTreeColumns::Clear() {
    FClearing = true;
    HoverIndex = DownIndex = TrackedIndex = ClickIndex = NoColumn;
    if (!(FHeader->FStates & hsLoading)) {
        FHeader->FAutoSizeIndex = NoColumn;
        FHeader->FMainColumn = NoColumn;
        FHeader->SortColumn = NoColumn;
    }
    BeginUpdate();
    FItems.clear();
    EndUpdate();
    FClearing = false;
}

void TLazyTreeColumns::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0) Update(nullptr);
}

void TLazyTreeColumns::Changed(TLazyTreeColumn* item) {
    if (FUpdateCount == 0) Update(item);
}

void TLazyTreeColumns::Update(TLazyTreeColumn* item) {
    SyncPositionArray();
    TBaseLazyTree* tree = Tree();
    bool loading = tree && (tree->ComponentState & csLoading);
    if (loading)
        FPositionsNeedFix = true;
    else
        RecalculatePositions(false);
    if (Count() > 0 && FHeader->FMainColumn < 0) FHeader->FMainColumn = 0;
    if (loading || (FHeader->FStates & hsLoading)) return;
    if (FHeader->Options() & hoAutoResize) ApplyAutoSize(InvalidColumn, false);
    if (item)
        FHeader->Invalidate(item);
    else if (tree && tree->HandleAllocated()) {
        tree->UpdateHorizontalScrollBar(false);
        FHeader->Invalidate(nullptr);
        tree->Invalidate();
    }
}

void TLazyTreeColumns::Assign(const TLazyTreeColumns& source) {
    BeginUpdate();
    FClearing = true;
    FItems.clear();
    FClearing = false;
    for (auto& c : source.FItems) {
        FItems.push_back(NewColumn());
        FItems.back()->Assign(*c);
    }
    FPositionToIndex = source.FPositionToIndex;
    FPositionsNeedFix = false;
    --FUpdateCount;
    RecalculatePositions(true);
    Update(nullptr);
}

bool TLazyTreeColumns::SameAs(const TLazyTreeColumns& other) const {
    if (Count() != other.Count() || FPositionToIndex != other.FPositionToIndex) return false;
    for (int i = 0; i < Count(); ++i)
        if (!FItems[size_t(i)]->SameAs(*other.FItems[size_t(i)])) return false;
    return true;
}

// --- positions -----------------------------------------------------------------------------------

void TLazyTreeColumns::SyncPositionArray() {
    size_t count = FItems.size();
    if (FPositionToIndex.size() == count) return;
    size_t old = FPositionToIndex.size();
    FPositionToIndex.resize(count);
    for (size_t p = old; p < count; ++p) FPositionToIndex[p] = TColumnIndex(p);
    if (count < old)
        for (TColumnIndex& e : FPositionToIndex)
            while (e >= TColumnIndex(count) && e > 0) --e;
}

void TLazyTreeColumns::MovePositionEntry(TColumnIndex column, TColumnPosition newPosition) {
    // The slot the column really holds, not a cached position that an update may not have
    // refreshed.
    auto at = std::find(FPositionToIndex.begin(), FPositionToIndex.end(), column);
    if (at == FPositionToIndex.end() || newPosition >= FPositionToIndex.size()) return;
    size_t old = size_t(at - FPositionToIndex.begin());
    if (old < newPosition)
        std::rotate(FPositionToIndex.begin() + old, FPositionToIndex.begin() + old + 1,
                    FPositionToIndex.begin() + newPosition + 1);
    else if (old > newPosition)
        std::rotate(FPositionToIndex.begin() + newPosition, FPositionToIndex.begin() + old,
                    FPositionToIndex.begin() + old + 1);
}

void TLazyTreeColumns::RemoveIndexFromPositions(TColumnIndex oldIndex) {
    std::vector<TColumnIndex> kept;
    kept.reserve(FPositionToIndex.size());
    for (TColumnIndex e : FPositionToIndex)
        if (e != oldIndex) kept.push_back(e > oldIndex ? e - 1 : e);
    if (kept.size() == FPositionToIndex.size() && !kept.empty()) kept.pop_back();
    FPositionToIndex = std::move(kept);
}

void TLazyTreeColumns::RebuildPositionArray() {
    // Cached positions from a damaged form may be out of range or doubled:
    // each column takes its slot when free, the rest fill the gaps in index order.
    size_t count = FItems.size();
    FPositionToIndex.assign(count, NoColumn);
    std::vector<TColumnIndex> homeless;
    for (size_t i = 0; i < count; ++i) {
        TColumnPosition p = FItems[i]->FPosition;
        if (p < count && FPositionToIndex[p] == NoColumn)
            FPositionToIndex[p] = TColumnIndex(i);
        else
            homeless.push_back(TColumnIndex(i));
    }
    size_t next = 0;
    for (TColumnIndex& e : FPositionToIndex)
        if (e == NoColumn) e = homeless[next++];
    FPositionsNeedFix = false;
    RecalculatePositions(true);
}

void TLazyTreeColumns::ResetPositionOrder(bool rightToLeft) {
    int count = Count();
    FPositionToIndex.resize(size_t(count));
    for (int p = 0; p < count; ++p) FPositionToIndex[size_t(p)] = rightToLeft ? count - 1 - p : p;
    RecalculatePositions(false);
}

void TLazyTreeColumns::RecalculatePositions(bool force) {
    if (FPositionsNeedFix || (!force && FUpdateCount > 0)) return;
    int left = 0;
    for (size_t p = 0; p < FPositionToIndex.size(); ++p) {
        TColumnIndex i = FPositionToIndex[p];
        if (!IsValidColumn(i)) continue;
        TLazyTreeColumn& c = *FItems[size_t(i)];
        c.FPosition = TColumnPosition(p);
        c.FLeft = left;
        if (Visible(c)) left = Sum(int64_t(left) + c.FWidth);
    }
}

// --- hit tests -----------------------------------------------------------------------------------

TColumnIndex TLazyTreeColumns::ColumnAtPoint(TPoint p, bool relative) {
    TBaseLazyTree* tree = Tree();
    if (p.X < 0 || p.Y < 0 || (tree && p.Y > tree->Height())) return InvalidColumn;
    int left, right;
    TColumnIndex c = ColumnAndBoundsAt(p, left, right, relative);
    return c;
}

TColumnIndex TLazyTreeColumns::ColumnAndBoundsAt(TPoint p, int& left, int& right, bool relative) {
    TBaseLazyTree* tree = Tree();
    int edge = (relative && p.X > VisibleFixedWidth() && tree) ? -tree->EffectiveOffsetX() : 0;
    if (tree && tree->UseRightToLeftAlignment()) edge += tree->RTLColumnShift();
    left = edge;
    right = edge;
    for (TColumnIndex i : FPositionToIndex) {
        if (!IsValidColumn(i)) continue;
        const TLazyTreeColumn& c = *FItems[size_t(i)];
        if (!Visible(c)) continue;
        int next = Sum(int64_t(edge) + c.FWidth);
        if (next > p.X) {
            left = edge;
            right = next;
            return i;
        }
        edge = next;
        left = edge;
    }
    return InvalidColumn;
}

TColumnIndex TLazyTreeColumns::ColumnAtPosition(TColumnPosition positionIndex) const {
    return positionIndex < FPositionToIndex.size() ? FPositionToIndex[positionIndex] : NoColumn;
}

void TLazyTreeColumns::GetColumnBounds(TColumnIndex column, int& left, int& right) {
    TBaseLazyTree* tree = Tree();
    if (column < 0 || !IsValidColumn(column)) {
        left = 0;
        right = tree ? tree->ClientRect().Width() : 0;
        return;
    }
    TLazyTreeColumn& c = *FItems[size_t(column)];
    left = c.ScrolledLeft();
    right = left + c.FWidth;
    if (tree && tree->UseRightToLeftAlignment()) {
        int shift = tree->RTLColumnShift();
        left += shift;
        right += shift;
    }
}

bool TLazyTreeColumns::CanResizeAtSplitter(TPoint p, TColumnIndex column) {
    bool result = IsValidColumn(column) && (FItems[size_t(column)]->FOptions &
                                            (coResizable | coVisible)) == (coResizable | coVisible);
    TBaseLazyTree* tree = Tree();
    if (tree && tree->OnCanSplitterResizeColumn)
        tree->OnCanSplitterResizeColumn(*FHeader, p, column, result);
    return result;
}

// --- navigation
// ------------------------------------------------------------------------------------

namespace {

bool Qualifies(const TLazyTreeColumn& c, bool considerAllowFocus) {
    return Visible(c) && (!considerAllowFocus || (c.Options() & coAllowFocus));
}

} // namespace

TColumnIndex TLazyTreeColumns::FirstVisibleColumn(bool considerAllowFocus) const {
    for (TColumnIndex i : FPositionToIndex)
        if (IsValidColumn(i) && Qualifies(*FItems[size_t(i)], considerAllowFocus)) return i;
    return InvalidColumn;
}

TColumnIndex TLazyTreeColumns::LastVisibleColumn(bool considerAllowFocus) const {
    for (auto it = FPositionToIndex.rbegin(); it != FPositionToIndex.rend(); ++it)
        if (IsValidColumn(*it) && Qualifies(*FItems[size_t(*it)], considerAllowFocus)) return *it;
    return InvalidColumn;
}

TColumnIndex TLazyTreeColumns::NextColumn(TColumnIndex column) const {
    if (!IsValidColumn(column)) return InvalidColumn;
    TColumnPosition p = FItems[size_t(column)]->FPosition;
    return p + 1 < FPositionToIndex.size() ? FPositionToIndex[p + 1] : InvalidColumn;
}

TColumnIndex TLazyTreeColumns::PreviousColumn(TColumnIndex column) const {
    if (!IsValidColumn(column)) return InvalidColumn;
    TColumnPosition p = FItems[size_t(column)]->FPosition;
    return p > 0 && p <= FPositionToIndex.size() ? FPositionToIndex[p - 1] : InvalidColumn;
}

TColumnIndex TLazyTreeColumns::NextVisibleColumn(TColumnIndex column,
                                                 bool considerAllowFocus) const {
    do column = NextColumn(column);
    while (column != InvalidColumn && !Qualifies(*FItems[size_t(column)], considerAllowFocus));
    return column;
}

TColumnIndex TLazyTreeColumns::PreviousVisibleColumn(TColumnIndex column,
                                                     bool considerAllowFocus) const {
    do column = PreviousColumn(column);
    while (column != InvalidColumn && !Qualifies(*FItems[size_t(column)], considerAllowFocus));
    return column;
}

std::vector<TLazyTreeColumn*> TLazyTreeColumns::VisibleColumns() const {
    std::vector<TLazyTreeColumn*> result;
    for (auto& c : FItems)
        if (Visible(*c)) result.push_back(c.get());
    return result;
}

// --- widths
// ---------------------------------------------------------------------------------------

int TLazyTreeColumns::VisibleFixedWidth() const {
    int w = 0;
    for (auto& c : FItems)
        if (VisibleFixed(*c)) w = Sum(int64_t(w) + c->FWidth);
    return w;
}

int TLazyTreeColumns::TotalWidth() const {
    for (auto it = FPositionToIndex.rbegin(); it != FPositionToIndex.rend(); ++it)
        if (IsValidColumn(*it) && Visible(*FItems[size_t(*it)])) {
            const TLazyTreeColumn& c = *FItems[size_t(*it)];
            return Sum(int64_t(c.FLeft) + c.FWidth);
        }
    return 0;
}

int TLazyTreeColumns::AverageScrollWidth() const {
    int count = 0;
    int64_t sum = 0;
    for (auto& c : FItems)
        if (Visible(*c) && !(c->FOptions & coFixed)) {
            ++count;
            sum += c->FWidth;
        }
    if (count == 0) return Tree() ? int(Tree()->Indent()) : 0;
    return int(std::nearbyint(double(sum) / count)); // halves to even
}

void TLazyTreeColumns::ApplyAutoSize(TColumnIndex, bool force) {
    if (Count() == 0) return;
    TColumnIndex index = FHeader->AutoSizeIndex();
    if (index < 0 || index >= Count()) index = Count() - 1;
    TBaseLazyTree* tree = Tree();
    int available =
        tree ? (tree->HandleAllocated() ? tree->ClientRect().Width() : tree->Width()) : 0;
    for (int i = 0; i < Count(); ++i)
        if (i != index && Visible(*FItems[size_t(i)]))
            available = Sum(int64_t(available) - FItems[size_t(i)]->FWidth);
    TLazyTreeColumn& c = *FItems[size_t(index)];
    available = std::min(std::max(available, c.FMinWidth), c.FMaxWidth);
    if (!force && available == c.FWidth) return;
    c.FWidth = available;
    RecalculatePositions(false);
    if (tree) tree->DoColumnResize(index);
}

namespace {

// Moves the pixels of R on the window image by Dx, as a window scroll does.
void ScrollImageBand(HDC dc, const TRect& r, int dx) {
    if (r.IsEmpty() || dx == 0) return;
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP copy = CreateBitmap(r.Width(), r.Height(), 32);
    HGDIOBJ old = SelectObject(mem, copy);
    BitBlt(mem, 0, 0, r.Width(), r.Height(), dc, r.Left, r.Top, SRCCOPY);
    int save = SaveDC(dc);
    IntersectClipRect(dc, r.Left, r.Top, r.Right, r.Bottom);
    BitBlt(dc, r.Left + dx, r.Top, r.Width(), r.Height(), mem, 0, 0, SRCCOPY);
    RestoreDC(dc, save);
    SelectObject(mem, old);
    DeleteObject(copy);
    DeleteDC(mem);
}

} // namespace

void TLazyTreeColumns::AnimatedResize(TColumnIndex column, int newWidth) {
    if (!IsValidColumn(column)) return;
    TLazyTreeColumn& c = *FItems[size_t(column)];
    newWidth = std::min(std::max(newWidth, c.FMinWidth), c.FMaxWidth);
    if (newWidth == c.FWidth) return;
    TBaseLazyTree* tree = Tree();
    bool animate = tree && tree->HandleAllocated() &&
                   !(FHeader->Options() & hoDisableAnimatedResize) &&
                   !(c.FOptions & coDisableAnimatedResize);
    if (animate) {
        HDC dc = GetWindowDC(tree->WindowHandle());
        if (dc) {
            int oldWidth = c.FWidth;
            int step = (newWidth - oldWidth) / 32;
            TRect header = tree->HeaderRect();
            TPoint origin = ClientOrigin(tree->WindowHandle());
            TRect client = tree->ClientRect().Offset(origin.X, origin.Y);
            int right = header.Left + c.ScrolledLeft() + oldWidth;
            TRect upper{right, header.Top, client.Right, header.Bottom};
            TRect lower{right, client.Top, client.Right, client.Bottom};
            if (step > 0) {
                HBRUSH b = CreateSolidBrush(ColorToRGB(tree->Color));
                FillRect(dc, {lower.Left, lower.Top, lower.Left + step, lower.Bottom}, b);
                DeleteObject(b);
            } else {
                upper.Left -= step;
                lower.Left -= step;
            }
            for (int i = 0; i < 32 && step != 0; ++i) {
                ScrollImageBand(dc, upper, step);
                ScrollImageBand(dc, lower, step);
                upper.Left += step;
                lower.Left += step;
                SleepMs(1);
            }
            ReleaseDC(tree->WindowHandle(), dc);
        }
    }
    c.SetWidth(newWidth);
}

// --- mouse state
// ------------------------------------------------------------------------------------

bool TLazyTreeColumns::UpdateHoverColumn(TPoint p) {
    TColumnIndex c = ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
    if (c == HoverIndex) return false;
    if (IsValidColumn(HoverIndex)) FHeader->Invalidate(FItems[size_t(HoverIndex)].get());
    if (IsValidColumn(c)) FHeader->Invalidate(FItems[size_t(c)].get());
    HoverIndex = c;
    return true;
}

TColumnIndex TLazyTreeColumns::UpdateDownColumn(TPoint p) {
    TColumnIndex c = ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
    if (c >= 0 && c != DownIndex &&
        (FItems[size_t(c)]->FOptions & (coAllowClick | coEnabled)) == (coAllowClick | coEnabled)) {
        if (IsValidColumn(DownIndex)) FHeader->Invalidate(FItems[size_t(DownIndex)].get());
        DownIndex = c;
        FHeader->Invalidate(FItems[size_t(c)].get());
    }
    return c;
}

void TLazyTreeColumns::HandleHeaderClick(TPoint p, TMouseButton button, bool force, bool dblClick) {
    TLTHeaderHitInfo info;
    info.X = p.X;
    info.Y = p.Y;
    info.Button = button;
    info.Shift = FHeader->ShiftOf(FHeader->FLastKeys) | (dblClick ? ssDouble : 0);
    TColumnIndex c = ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
    TBaseLazyTree* tree = Tree();
    if (c >= 0 && (FItems[size_t(c)]->FOptions & coAllowClick) && (c == DownIndex || force)) {
        TLazyTreeColumn& col = *FItems[size_t(c)];
        ClickIndex = c;
        info.Column = c;
        info.HitPosition = hpOnColumn;
        // The glyph rectangle was painted in window coordinates.
        TPoint w = p;
        if (tree && tree->HandleAllocated()) {
            TPoint origin = ClientOrigin(tree->WindowHandle());
            w = {p.X + origin.X, p.Y + origin.Y};
        }
        if (col.FGlyphDrawn && col.FGlyphRect.Contains(w)) {
            info.HitPosition |= hpOnIcon;
            if (col.FCheckBox) {
                if (tree) tree->UpdateColumnCheckState(&col);
                info.HitPosition |= hpOnCheckBox;
            }
        }
    } else {
        ClickIndex = NoColumn;
        info.Column = NoColumn;
        info.HitPosition = hpNowhere;
    }
    if (tree) {
        if (dblClick)
            tree->DoHeaderDblClick(info);
        else
            tree->DoHeaderClick(info);
    }
    if (info.HitPosition != hpNowhere) FHeader->Invalidate(FItems[size_t(c)].get());
}

// --- stream record
// -----------------------------------------------------------------------------------

void TLazyTreeColumns::SaveToStream(std::ostream& s) const {
    int n = Count();
    WriteInt(s, n);
    if (n > 0) {
        for (auto& c : FItems) c->SaveToStream(s);
        for (int p = 0; p < n; ++p)
            WriteInt(s, p < int(FPositionToIndex.size()) ? FPositionToIndex[size_t(p)] : p);
    }
    WriteInt(s, DefaultWidth);
}

void TLazyTreeColumns::LoadFromStream(std::istream& s, int version) {
    Clear();
    // A count below one reads no columns. The smallest column record is fourteen integers.
    int n = ReadInt(s);
    if (n > 0) {
        CheckRoom(s, n, 14 * 4);
        BeginUpdate();
        try {
            for (int i = 0; i < n; ++i) Add()->LoadFromStream(s, version);
            std::vector<TColumnIndex> map(static_cast<size_t>(n));
            std::vector<bool> seen(size_t(n), false);
            for (TColumnIndex& e : map) {
                e = ReadInt(s);
                if (e < 0 || e >= n || seen[size_t(e)])
                    throw EColumnStreamError("Ошибка чтения потока: неверный порядок колонок");
                seen[size_t(e)] = true;
            }
            FPositionToIndex = std::move(map);
        } catch (...) {
            SyncPositionArray();
            EndUpdate();
            throw;
        }
        --FUpdateCount;
        RecalculatePositions(true);
        Update(nullptr);
    }
    if (version >= 5) DefaultWidth = ReadInt(s);
}

} // namespace nuq
