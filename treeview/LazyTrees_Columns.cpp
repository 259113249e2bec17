// The column collection: positions and lefts, hit tests, navigation in
// screen order, auto-size and animated resize, the hot and pressed column,
// header clicks and the collection's stream record.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_HeaderStream.h"

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"

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
    : TCollection([this](TCollection*) -> std::unique_ptr<TCollectionItem> {
          // Of the tree's column class.
          TBaseLazyTree* tree = Tree();
          return tree ? tree->GetColumnClass(this) : std::make_unique<TLazyTreeColumn>(this);
      }),
      FHeader(header), FHeaderBitmap(std::make_unique<TBitmap>()) {
    FHeaderBitmap->PixelFormat = pf32bit;
}

TLazyTreeColumns::~TLazyTreeColumns() {
    FClearing = true;
    FreeItems();
}

TBaseLazyTree* TLazyTreeColumns::Tree() const {
    return FHeader ? FHeader->Treeview() : nullptr;
}

TLazyTreeColumn* TLazyTreeColumns::Items(TColumnIndex index) const {
    return IsValidColumn(index) ? &(*this)[index] : nullptr;
}

TLazyTreeColumn* TLazyTreeColumns::Add() {
    auto* c = static_cast<TLazyTreeColumn*>(TCollection::Add());
    c->SyncParentBiDiMode();
    c->SyncParentColor();
    return c;
}

void TLazyTreeColumns::Notify(TCollectionItem& item, TCollectionNotification action) {
    TCollection::Notify(item, action);
    auto* column = dynamic_cast<TLazyTreeColumn*>(&item);
    if (action == cnAdded && column) column->FOwner = this;
    if (action != cnExtracting) return;
    if (!FClearing) ForgetIndex(item.Index());
    // A column moved into another kind of collection has no column collection.
    if (column) column->FOwner = nullptr;
}

void TLazyTreeColumns::AdjustIndex(TColumnIndex& value, TColumnIndex removed) const {
    if (value == removed)
        value = NoColumn;
    else if (value > removed)
        --value;
}

void TLazyTreeColumns::ForgetIndex(TColumnIndex index) {
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

void TLazyTreeColumns::Clear() {
    FClearing = true;
    HoverIndex = DownIndex = TrackedIndex = ClickIndex = NoColumn;
    if (!(FHeader->FStates & hsLoading)) {
        FHeader->FAutoSizeIndex = NoColumn;
        FHeader->FMainColumn = NoColumn;
        FHeader->SortColumn = NoColumn;
    }
    BeginUpdate();
    TCollection::Clear();
    EndUpdate();
    FClearing = false;
}

void TLazyTreeColumns::Update(TCollectionItem* changed) {
    auto* item = static_cast<TLazyTreeColumn*>(changed);
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

void TLazyTreeColumns::Assign(const TCollection& source) {
    BeginUpdate();
    // Columns replaced wholesale leave the indices that named them as they are.
    FClearing = true;
    TCollection::Clear();
    FClearing = false;
    TCollection::Assign(source);
    if (const auto* columns = dynamic_cast<const TLazyTreeColumns*>(&source)) {
        FPositionToIndex = columns->FPositionToIndex;
        FPositionsNeedFix = false;
        RecalculatePositions(true);
    }
    EndUpdate();
}

bool TLazyTreeColumns::SameAs(const TLazyTreeColumns& other) const {
    if (Count() != other.Count() || FPositionToIndex != other.FPositionToIndex) return false;
    for (int i = 0; i < Count(); ++i)
        if (!(*this)[i].SameAs(other[i])) return false;
    return true;
}

// --- positions -----------------------------------------------------------------------------------

void TLazyTreeColumns::SyncPositionArray() {
    size_t count = size_t(Count());
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
    size_t count = size_t(Count());
    FPositionToIndex.assign(count, NoColumn);
    std::vector<TColumnIndex> homeless;
    for (size_t i = 0; i < count; ++i) {
        TColumnPosition p = (*this)[TColumnIndex(i)].FPosition;
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
    if (FPositionsNeedFix || (!force && UpdateCount() > 0)) return;
    int left = 0;
    for (size_t p = 0; p < FPositionToIndex.size(); ++p) {
        TColumnIndex i = FPositionToIndex[p];
        if (!IsValidColumn(i)) continue;
        TLazyTreeColumn& c = (*this)[i];
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
        const TLazyTreeColumn& c = (*this)[i];
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
    TLazyTreeColumn& c = (*this)[column];
    left = c.ScrolledLeft();
    right = left + c.FWidth;
    if (tree && tree->UseRightToLeftAlignment()) {
        int shift = tree->RTLColumnShift();
        left += shift;
        right += shift;
    }
}

bool TLazyTreeColumns::CanResizeAtSplitter(TPoint p, TColumnIndex column) {
    bool result = IsValidColumn(column) && ((*this)[column].FOptions & (coResizable | coVisible)) ==
                                               (coResizable | coVisible);
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
        if (IsValidColumn(i) && Qualifies((*this)[i], considerAllowFocus)) return i;
    return InvalidColumn;
}

TColumnIndex TLazyTreeColumns::LastVisibleColumn(bool considerAllowFocus) const {
    for (auto it = FPositionToIndex.rbegin(); it != FPositionToIndex.rend(); ++it)
        if (IsValidColumn(*it) && Qualifies((*this)[*it], considerAllowFocus)) return *it;
    return InvalidColumn;
}

TColumnIndex TLazyTreeColumns::NextColumn(TColumnIndex column) const {
    if (!IsValidColumn(column)) return InvalidColumn;
    TColumnPosition p = (*this)[column].FPosition;
    return p + 1 < FPositionToIndex.size() ? FPositionToIndex[p + 1] : InvalidColumn;
}

TColumnIndex TLazyTreeColumns::PreviousColumn(TColumnIndex column) const {
    if (!IsValidColumn(column)) return InvalidColumn;
    TColumnPosition p = (*this)[column].FPosition;
    return p > 0 && p <= FPositionToIndex.size() ? FPositionToIndex[p - 1] : InvalidColumn;
}

TColumnIndex TLazyTreeColumns::NextVisibleColumn(TColumnIndex column,
                                                 bool considerAllowFocus) const {
    do column = NextColumn(column);
    while (column != InvalidColumn && !Qualifies((*this)[column], considerAllowFocus));
    return column;
}

TColumnIndex TLazyTreeColumns::PreviousVisibleColumn(TColumnIndex column,
                                                     bool considerAllowFocus) const {
    do column = PreviousColumn(column);
    while (column != InvalidColumn && !Qualifies((*this)[column], considerAllowFocus));
    return column;
}

std::vector<TLazyTreeColumn*> TLazyTreeColumns::VisibleColumns() const {
    std::vector<TLazyTreeColumn*> result;
    for (int i = 0; i < Count(); ++i)
        if (Visible((*this)[i])) result.push_back(&(*this)[i]);
    return result;
}

// --- widths
// ---------------------------------------------------------------------------------------

int TLazyTreeColumns::VisibleFixedWidth() const {
    int w = 0;
    for (int i = 0; i < Count(); ++i)
        if (VisibleFixed((*this)[i])) w = Sum(int64_t(w) + (*this)[i].FWidth);
    return w;
}

int TLazyTreeColumns::TotalWidth() const {
    for (auto it = FPositionToIndex.rbegin(); it != FPositionToIndex.rend(); ++it)
        if (IsValidColumn(*it) && Visible((*this)[*it])) {
            const TLazyTreeColumn& c = (*this)[*it];
            return Sum(int64_t(c.FLeft) + c.FWidth);
        }
    return 0;
}

int TLazyTreeColumns::AverageScrollWidth() const {
    int count = 0;
    int64_t sum = 0;
    for (int i = 0; i < Count(); ++i)
        if (const TLazyTreeColumn& c = (*this)[i]; Visible(c) && !(c.FOptions & coFixed)) {
            ++count;
            sum += c.FWidth;
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
        if (i != index && Visible((*this)[i]))
            available = Sum(int64_t(available) - (*this)[i].FWidth);
    TLazyTreeColumn& c = (*this)[index];
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
    TLazyTreeColumn& c = (*this)[column];
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
    // The header repaints at once: the cells must see the new state.
    TColumnIndex old = HoverIndex;
    HoverIndex = c;
    if (IsValidColumn(old)) FHeader->Invalidate(&(*this)[old]);
    if (IsValidColumn(c)) FHeader->Invalidate(&(*this)[c]);
    return true;
}

TColumnIndex TLazyTreeColumns::UpdateDownColumn(TPoint p) {
    TColumnIndex c = ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
    if (c >= 0 && c != DownIndex &&
        ((*this)[c].FOptions & (coAllowClick | coEnabled)) == (coAllowClick | coEnabled)) {
        TColumnIndex old = DownIndex;
        DownIndex = c;
        if (IsValidColumn(old)) FHeader->Invalidate(&(*this)[old]);
        FHeader->Invalidate(&(*this)[c]);
    }
    return c;
}

void TLazyTreeColumns::HandleHeaderClick(TPoint p, TMouseButton button, bool force, bool dblClick) {
    TLTHeaderHitInfo info;
    info.X = p.X;
    info.Y = p.Y;
    info.Button = button;
    info.Shift = FHeader->GetShiftState() | (dblClick ? ssDouble : 0);
    TColumnIndex c = ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
    TBaseLazyTree* tree = Tree();
    if (c >= 0 && ((*this)[c].FOptions & coAllowClick) && (c == DownIndex || force)) {
        TLazyTreeColumn& col = (*this)[c];
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
    if (info.HitPosition != hpNowhere) FHeader->Invalidate(&(*this)[c]);
}

// --- stream record
// -----------------------------------------------------------------------------------

void TLazyTreeColumns::SaveToStream(std::ostream& s) const {
    int n = Count();
    WriteInt(s, n);
    if (n > 0) {
        for (int i = 0; i < n; ++i) (*this)[i].SaveToStream(s);
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
        TUpdateScope update(*this);
        {
            // A refused stream leaves a position for each column read so far.
            TScopeFail abandon([this] { SyncPositionArray(); });
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
        }
        RecalculatePositions(true);
    }
    if (version >= 5) DefaultWidth = ReadInt(s);
}

} // namespace nuq
