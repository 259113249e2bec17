// The hint window of the trees, the tree's animation loop it runs in, and
// the string tree's hint texts.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"

#include <cmath>
#include <thread>

namespace nuq {

bool HintWindowGone = false;

namespace {

HDC DC(std::unique_ptr<TBitmap>& bitmap) {
    return bitmap->Canvas().Handle();
}

// A context for measuring text in a font, freed on every way out.
struct TMeasuringDC {
    HDC Handle;
    explicit TMeasuringDC(TFont& font) : Handle(CreateCompatibleDC(nullptr)) {
        SelectObject(Handle, font.Handle());
    }
    ~TMeasuringDC() { DeleteDC(Handle); }
    TMeasuringDC(const TMeasuringDC&) = delete;
    TMeasuringDC& operator=(const TMeasuringDC&) = delete;
};

bool RightToLeft(TBiDiMode mode) {
    return mode != bdLeftToRight;
}

} // namespace

// --- the tree's side ------------------------------------------------------------------------

void TBaseLazyTree::Animate(uint32_t steps, uint32_t duration, const TLTAnimationCallback& callback,
                            void* data) {
    if (HasState(tsInAnimation) || duration == 0) return;
    DoStateChange(TS(tsInAnimation));
    uint32_t stepSize = uint32_t(std::lround(std::max(1.0, double(steps) / duration)));
    steps /= stepSize;
    uint32_t remaining = duration;
    int step = 0;
    while (steps > 0 && remaining > 0) {
        uint32_t start = GetTickCount();
        if (!callback(step, int(stepSize), data)) break;
        step += int(stepSize);
        uint32_t wait = remaining / steps;
        // A sleep of a millisecond or two oversleeps on a busy machine, and the
        // time lost would merge the steps that follow: the real clock is
        // watched instead; the virtual one is moved exactly.
        uint32_t used = GetTickCount() - start;
        while (used < wait) {
            if (VirtualClockInUse())
                SleepMs(wait - used);
            else
                std::this_thread::yield();
            used = GetTickCount() - start;
        }
        if (used > remaining) {
            remaining = 0;
            steps = 0;
        } else {
            remaining -= used;
            --steps;
        }
        while (steps > 0 && remaining / steps == 0) {
            ++stepSize;
            steps = remaining / stepSize;
        }
    }
    callback(step, 0, data);
    DoStateChange(0, TS(tsInAnimation));
}

void TBaseLazyTree::GetTextInfo(PLazyNode, TColumnIndex, const TFont& font, TRect&,
                                std::u16string& text) {
    Canvas().Font.Assign(font);
    text.clear();
}

void TCustomLazyStringTree::DoPaintText(PLazyNode node, TCanvas& canvas, TColumnIndex column,
                                        TLTSTextType textType) {
    if (OnPaintText) OnPaintText(*this, canvas, node, column, textType);
}

void TCustomLazyStringTree::GetTextInfo(PLazyNode node, TColumnIndex column, const TFont& font,
                                        TRect& r, std::u16string& text) {
    Canvas().Font.Assign(font);
    r = GetDisplayRect(node, column, true);
    DoPaintText(node, Canvas(), column, ttNormal);
    text = DoGetText(node, column);
}

std::u16string TCustomLazyStringTree::DoGetNodeHint(PLazyNode node, TColumnIndex column,
                                                    TLTTooltipLineBreakStyle& style) {
    // The control's hint unless the owner gives one.
    std::u16string text = TBaseLazyTree::DoGetNodeHint(node, column, style);
    if (OnGetHint) OnGetHint(*this, node, column, style, text);
    return text;
}

std::u16string TCustomLazyStringTree::DoGetNodeTooltip(PLazyNode node, TColumnIndex column,
                                                       TLTTooltipLineBreakStyle& style) {
    if (OnGetHint) return DoGetNodeHint(node, column, style);
    return DoGetText(node, column);
}

// --- the hint window --------------------------------------------------------------------------

TLazyTreeHintWindow::TLazyTreeHintWindow(TComponent* owner)
    : THintWindow(owner), ScreenCopy(std::make_unique<TBitmap>()),
      HintImage(std::make_unique<TBitmap>()), BlendImage(std::make_unique<TBitmap>()) {
    HintWindowGone = false;
}

TLazyTreeHintWindow::~TLazyTreeHintWindow() {
    HintWindowGone = true;
    FLife.reset();
    ScreenCopy.reset();
    HintImage.reset();
    BlendImage.reset();
    Destroying();
    DestroyHandle(); // while this class still answers its messages
}

void TLazyTreeHintWindow::CreateParams(TCreateParams& params) {
    THintWindow::CreateParams(params);
    params.Style = WS_POPUP | (params.Style & WS_VISIBLE);
    params.ExStyle &= ~DWORD(WS_EX_CLIENTEDGE);
}

void TLazyTreeHintWindow::Dispatch(TMessage& msg) {
    switch (msg.Msg) {
    case WM_ERASEBKGND:
        msg.Result = 1;
        return; // the hint covers it all
    case WM_NCPAINT:
        msg.Result = 0;
        return;
    case WM_SHOWWINDOW:
        if (!msg.WParam) {
            FHintData = {};
            HintWindowGone = false;
        }
        break;
    default:
        break;
    }
    THintWindow::Dispatch(msg);
}

void TLazyTreeHintWindow::CancelHint() {
    if (TBaseLazyTree* tree = FHintData.Tree)
        tree->CancelNodeHint();
    else
        THintWindow::CancelHint();
}

bool TLazyTreeHintWindow::IsHintMsg(const TMsg& msg) {
    bool result = THintWindow::IsHintMsg(msg);
    bool visible = HandleAllocated() && IsWindowVisible(WindowHandle());
    bool key = msg.Message >= WM_KEYFIRST && msg.Message <= WM_KEYLAST;
    // Keys and moves over frames must not take a hint away.
    if (visible && (key || msg.Message == WM_NCMOUSEMOVE)) result = false;
    // While the hint animates, the keys reach their window at once.
    if (!result && key && visible && FHintData.Tree && FHintData.Tree->HasState(tsInAnimation))
        DispatchMessage(msg);
    return result;
}

TRect TLazyTreeHintWindow::CalcHintRect(int maxWidth, const std::u16string&, void* data) {
    if (!data) return {};
    BiDiMode = bdLeftToRight;
    FHintData = *static_cast<TLTHintData*>(data);
    TBaseLazyTree* tree = FHintData.Tree;
    if (!tree) return {};
    TakeReadingOrder(*tree);

    bool tooltip = FHintData.Node && tree->HintMode == hmTooltip;
    if (!tooltip)
        Canvas().Font.Assign(Screen().HintFont);
    else {
        Canvas().Font.Assign(tree->Font);
        if (auto* strings = dynamic_cast<TCustomLazyStringTree*>(tree))
            strings->DoPaintText(FHintData.Node, Canvas(), FHintData.Column, ttNormal);
    }
    TMeasuringDC dc(Canvas().Font);
    TTextMetric tm;
    GetTextMetrics(dc.Handle, tm);
    LineHeight = tm.Height;
    FHintData.LineBreakStyle = hlbDefault;

    if (!FHintData.GivenHint.empty())
        FHintData.HintText = FHintData.GivenHint;
    else if (tree->HintMode == hmTooltip)
        FHintData.HintText =
            tree->DoGetNodeTooltip(FHintData.Node, FHintData.Column, FHintData.LineBreakStyle);
    else
        FHintData.HintText =
            tree->DoGetNodeHint(FHintData.Node, FHintData.Column, FHintData.LineBreakStyle);
    const std::u16string& text = FHintData.HintText;
    if (text.empty()) return {};

    TRect result;
    if (!tooltip) {
        result = {0, 0, maxWidth, LineHeight};
        DrawTextW(dc.Handle, text.c_str(), int(text.size()), result, DT_CALCRECT | DT_NOPREFIX);
        result.Bottom += 6;
        result.Right += 2 * tree->TextMargin() + 2;
    } else {
        if (FHintData.LineBreakStyle == hlbDefault)
            FHintData.LineBreakStyle =
                (FHintData.Node->States & vsMultiline) ? hlbForceMultiLine : hlbForceSingleLine;
        if (FHintData.LineBreakStyle == hlbForceSingleLine)
            result = SingleLineTooltipRect(*tree, dc.Handle, maxWidth);
        else if (!MultiLineTooltipRect(*tree, dc.Handle, result))
            return {};
    }
    // One pixel of frame on every side; the caller places the rectangle.
    return {-1, -1, result.Width() + 1, result.Height() + 1};
}

void TLazyTreeHintWindow::TakeReadingOrder(TBaseLazyTree& tree) {
    // The column's reading order and alignment, without one the tree's.
    FHintData.BidiMode = tree.BiDiMode;
    FHintData.Alignment = tree.Alignment();
    if (FHintData.Column >= 0 && tree.Header().Columns().IsValidColumn(FHintData.Column)) {
        const TLazyTreeColumn& column = tree.Header().Columns()[FHintData.Column];
        FHintData.BidiMode = column.BiDiMode();
        FHintData.Alignment = column.Alignment();
    }
    if (RightToLeft(FHintData.BidiMode)) {
        if (FHintData.Alignment == taLeftJustify)
            FHintData.Alignment = taRightJustify;
        else if (FHintData.Alignment == taRightJustify)
            FHintData.Alignment = taLeftJustify;
    }
}

TRect TLazyTreeHintWindow::SingleLineTooltipRect(TBaseLazyTree& tree, HDC dc, int maxWidth) {
    // The cell's height, but as wide as the whole text (the cell shows it cut off),
    // held to the screen; right-to-left it grows leftwards from the cell's right edge.
    const std::u16string& text = FHintData.HintText;
    TRect result = tree.LastHintRect;
    if (tree.TreeOptions().PaintOptions() & toShowHorzGridLines) --result.Bottom;
    TRect measured{0, 0, maxWidth, LineHeight};
    DrawTextW(dc, text.c_str(), int(text.size()), measured,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    const int width = std::min(measured.Width() + 2 * tree.TextMargin() + 1, maxWidth);
    if (RightToLeft(FHintData.BidiMode))
        result.Left = result.Right - width;
    else
        result.Right = result.Left + width;
    return result;
}

bool TLazyTreeHintWindow::MultiLineTooltipRect(TBaseLazyTree& tree, HDC dc, TRect& result) {
    const std::u16string& text = FHintData.HintText;
    std::u16string cellText;
    tree.GetTextInfo(FHintData.Node, FHintData.Column, Canvas().Font, result, cellText);
    TRect measured = result;
    DrawTextW(dc, text.c_str(), int(text.size()), measured,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    if (RightToLeft(FHintData.BidiMode))
        result.Left = measured.Left - tree.TextMargin() + 1;
    else
        result.Right = tree.TextMargin() + measured.Right;
    result.Bottom = measured.Bottom;
    ++result.Right;
    TRect client = tree.ClientRect();
    // The cell's column bounds what shows; the whole row while the tree has no columns.
    TLazyTreeColumns& columns = tree.Header().Columns();
    const int columnWidth = tree.Header().UseColumns() && columns.IsValidColumn(FHintData.Column)
                                ? columns[FHintData.Column].Width()
                                : client.Width();
    // False when the cell shows the whole text already.
    return !(int(FHintData.Node->NodeHeight) + 2 >= result.Height() &&
             columnWidth + 2 >= result.Width() && result.Left >= 0 && result.Top >= 0 &&
             result.Right <= client.Width() + 3 && result.Bottom <= client.Height() + 3);
}

void TLazyTreeHintWindow::ActivateHint(TRect rect, const std::u16string& hint) {
    if (rect.IsEmpty()) {
        Application().CancelHint();
        return;
    }
    TBaseLazyTree* tree = FHintData.Tree;
    if (!tree) {
        THintWindow::ActivateHint(rect, hint);
        return;
    }
    Caption = hint;
    bool wasAnimating = tree->HasState(tsInAnimation);
    if (wasAnimating) tree->DoStateChange(0, TS(tsInAnimation));

    // Placed while hidden, then kept on the desktop.
    TRect desktop = GetDesktopWorkArea();
    if (rect.Bottom > desktop.Bottom) rect = rect.Offset(0, desktop.Bottom - rect.Bottom);
    if (rect.Right > desktop.Right) rect = rect.Offset(desktop.Right - rect.Right, 0);
    if (rect.Top < desktop.Top) rect = rect.Offset(0, desktop.Top - rect.Top);
    if (rect.Left < desktop.Left) rect = rect.Offset(desktop.Left - rect.Left, 0);
    HandleNeeded();
    SetBounds(rect.Left, rect.Top, rect.Width(), rect.Height());

    int width = rect.Width(), height = rect.Height();
    ScreenCopy->SetSize(width, height);
    HintImage->SetSize(width, height);
    BlendImage->SetSize(width, height);
    if (tree->HandleAllocated()) tree->Update();
    HDC screen = GetDC(0);
    BitBlt(DC(ScreenCopy), 0, 0, width, height, screen, rect.Left, rect.Top, SRCCOPY);
    ReleaseDC(0, screen);

    SetVisible(true);
    THintAnimationType animation = tree->DoGetAnimationType();
    // The window may go inside a step's message pass; the steps after it must not reach it.
    std::weak_ptr<char> life = FLife;
    auto step = [this, tree, life](int s, int size, void*) {
        return !life.expired() && AnimationStep(tree, s, size);
    };
    switch (animation) {
    case hatFade:
        ValidateRect(WindowHandle(), nullptr);
        FFading = true;
        tree->Animate(255, 2 * tree->AnimationDuration(), step, nullptr);
        if (life.expired()) break; // the window went during the animation
        FFading = false;
        // The last step leaves the hint just short of opaque; finish it.
        if (HandleAllocated() && IsWindowVisible(WindowHandle())) RenderHint(-1, 0);
        break;
    case hatSlide:
        ValidateRect(WindowHandle(), nullptr);
        tree->Animate(uint32_t(height), tree->AnimationDuration(), step, nullptr);
        break;
    default:
        Invalidate();
        break;
    }
    if (wasAnimating && !life.expired()) tree->DoStateChange(TS(tsInAnimation));
}

bool TLazyTreeHintWindow::AnimationStep(TBaseLazyTree* tree, int step, int stepSize) {
    // The window, or its tree's, may have gone or been hidden while messages were handled.
    if (HintWindowGone || !HandleAllocated() || !IsWindowVisible(WindowHandle()) ||
        tree->HasState(tsCancelHintAnimation))
        return false;
    RenderHint(step, stepSize);
    ProcessMessages();
    return true;
}

void TLazyTreeHintWindow::Paint() {
    RenderHint(0, 0);
}

void TLazyTreeHintWindow::ShowImage(TBitmap& image, int top, int height, int sourceTop) {
    if (!HandleAllocated() || height <= 0) return;
    HDC dc = GetDC(WindowHandle());
    BitBlt(dc, 0, top, Width(), height, image.Canvas().Handle(), 0, sourceTop, SRCCOPY);
    ReleaseDC(WindowHandle(), dc);
}

void TLazyTreeHintWindow::RenderHint(int step, int stepSize) {
    TBaseLazyTree* tree = FHintData.Tree;
    int width = Width(), height = Height();
    if (step == 0 && tree) {
        bool tooltip = FHintData.Node && tree->HintMode == hmTooltip;
        TCanvas& canvas = HintImage->Canvas();
        int textTop = 2;
        if (!tooltip)
            canvas.Font.Assign(Screen().HintFont);
        else {
            TRect cell;
            std::u16string cellText;
            tree->GetTextInfo(FHintData.Node, FHintData.Column, tree->Canvas().Font, cell,
                              cellText);
            canvas.Font.Assign(tree->Canvas().Font);
            if (FHintData.LineBreakStyle == hlbForceMultiLine)
                textTop = 1;
            else
                textTop = (height - canvas.TextHeight(FHintData.HintText)) / 2;
        }
        canvas.Pen.Color = clBlack;
        canvas.Pen.Style = psSolid;
        canvas.Brush.Color = clInfoBk;
        canvas.Brush.Style = bsSolid;
        canvas.Rectangle(0, 0, width, height);
        HDC dc = canvas.Handle();
        SetTextColor(dc, ColorToRGB(clInfoText));
        SetBkMode(dc, TRANSPARENT);
        TRect r{1, 1, width - 1, height - 1};
        UINT format = DT_NOPREFIX;
        if (RightToLeft(FHintData.BidiMode)) {
            format |= DT_RIGHT | DT_RTLREADING;
            r.Right -= tree->TextMargin() - 1;
        } else {
            r.Left += tree->TextMargin();
        }
        r.Top = textTop;
        if (tooltip && FHintData.LineBreakStyle == hlbForceMultiLine) format |= DT_WORDBREAK;
        DrawTextW(dc, FHintData.HintText.c_str(), int(FHintData.HintText.size()), r, format);
    }

    THintAnimationType animation = tree ? tree->DoGetAnimationType() : hatNone;
    if (stepSize < 1) {
        // A plain paint; during a fade the steps draw the window.
        if (!(animation == hatFade && FFading)) ShowImage(*HintImage, 0, height, 0);
    } else if (animation == hatSlide) {
        ShowImage(*HintImage, 0, step, height - step);
        ShowImage(*ScreenCopy, step, height - step, step);
    } else if (animation == hatFade) {
        BitBlt(DC(BlendImage), 0, 0, width, height, DC(ScreenCopy), 0, 0, SRCCOPY);
        BlendRectangle(DC(HintImage), DC(BlendImage), {0, 0, width, height}, {0, 0}, 0,
                       MulDiv(step, 256, 255), 0);
        ShowImage(*BlendImage, 0, height, 0);
    }
}

} // namespace nuq
