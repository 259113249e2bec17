#pragma once
// The hint window in which trees show hints and tool tips, and what a tree
// hands it for one hint.

#include <memory>
#include <string>

#include "platform/gui/Controls.h"
#include "treeview/LazyTrees_Types.h"

namespace nuq {

// --- hint window --------------------------------------------------------------------------------

enum TLTSTextType { ttNormal, ttStatic };

// What a tree hands its hint window for one hint.
struct TLTHintData {
    TBaseLazyTree* Tree = nullptr;
    PLazyNode Node = nullptr; // nil for header and control hints
    TColumnIndex Column = NoColumn;
    TRect HintRect;           // used by draw trees only
    std::u16string GivenHint; // a text the caller supplies, may be empty
    std::u16string HintText;  // the text finally shown
    TBiDiMode BidiMode = bdLeftToRight;
    TAlignment Alignment = taLeftJustify;
    TLTTooltipLineBreakStyle LineBreakStyle = hlbDefault;
};

// Set while no hint window exists (from its destructor on) and cleared when
// one is made or hidden; a running hint animation stops when it is set.
extern bool HintWindowGone;

// The pop-up in which trees show hints and tool tips. It measures the hint
// (empty when the cell shows the whole text already), keeps itself on the
// desktop, captures the screen under it and fades or slides in.
class TLazyTreeHintWindow : public THintWindow {
public:
    explicit TLazyTreeHintWindow(TComponent* owner = nullptr);
    ~TLazyTreeHintWindow() override;

    // Data points to a TLTHintData; an empty result means no hint.
    TRect CalcHintRect(int maxWidth, const std::u16string& hint, void* data) override;
    void ActivateHint(TRect rect, const std::u16string& hint) override;
    bool IsHintMsg(const TMsg& msg) override;
    void CancelHint() override; // the tree that shows the hint forgets it too
    void Dispatch(TMessage& msg) override;
    const TLTHintData& HintData() const { return FHintData; }

    // The screen under the window, the rendered hint and the fade's work area.
    std::unique_ptr<TBitmap> ScreenCopy, HintImage, BlendImage;
    int LineHeight = 0;

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;

private:
    TLTHintData FHintData;
    bool FFading = false; // a fade runs: plain paints must not show the finished hint early
    // Lives as long as the window: an animation step still due when it goes is dropped.
    std::shared_ptr<char> FLife = std::make_shared<char>();
    bool AnimationStep(TBaseLazyTree* tree, int step, int stepSize);
    void RenderHint(int step, int stepSize);
    void ShowImage(TBitmap& image, int top, int height, int sourceTop);
    // Steps of CalcHintRect: the reading order and alignment the hint takes, and
    // a tooltip's rectangle on one line or wrapped (False: the cell shows it all).
    void TakeReadingOrder(TBaseLazyTree& tree);
    TRect SingleLineTooltipRect(TBaseLazyTree& tree, HDC dc, int maxWidth);
    bool MultiLineTooltipRect(TBaseLazyTree& tree, HDC dc, TRect& result);
};

} // namespace nuq
