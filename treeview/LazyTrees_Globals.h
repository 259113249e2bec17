#pragma once
// Private to the tree's own files: the unit's global state (platform flags,
// check image lists, the global lock), its bitmap and cursor resources, the
// drawing and text helpers the tree's files share, and the growable text
// buffers of the exports.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "treeview/LazyTrees.h"

namespace nuq {

// --- shared structures ----------------------------------------------------------------------

class TCriticalSection {
public:
    void Enter() { FLock.lock(); }
    void Leave() { FLock.unlock(); }

private:
    std::recursive_mutex FLock;
};

extern bool GlobalsInitialised;
extern bool OleInitialised;
extern bool ProcessorHasMMX;

extern TCustomImageList* LightCheckImages;
extern TCustomImageList* DarkCheckImages;
extern TCustomImageList* LightTickImages;
extern TCustomImageList* DarkTickImages;
extern TCustomImageList* FlatImages;
extern TCustomImageList* XPImages;
extern TCustomImageList* UtilityImages;
extern TCustomImageList* PlatformCheckImages;
extern TCustomImageList* PlatformFlatCheckImages;
extern TCriticalSection* TreeGlobalLock;

// The bitmap resources of the unit by name ("LT_CHECK_LIGHT", ...); null for
// an unknown name. ColourMapped applies the system colour map.
std::unique_ptr<TBitmap> LoadTreeBitmapResource(const std::string& name, bool colourMapped);
void LoadCheckImageStrip(TCustomImageList& imageList, const std::string& resourceName,
                         bool colourMapped);
void BuildPlatformCheckImages(std::unique_ptr<TCustomImageList>& imageList, UINT flags, bool flat);
// Loads the colour-mapped check strips again, so that they follow new system colours.
void ReloadCheckImageStrips();
// The unit's cursor pictures by name ("LT_HEADERSPLIT", "LT_VERTSPLIT", the
// panning "LT_MOVE..." ones); null for an unknown name.
std::unique_ptr<TCursorObject> LoadTreeCursorResource(const std::string& name);
// The panning cursor of that name, made once and kept by the unit.
HCURSOR TreeCursor(const std::string& name);

void BlendRectangle(HDC source, HDC destination, const TRect& r, TPoint target, int mode,
                    int constantAlpha, int bias);
void ComputeDragRects(int width, int height, int deltaX, int deltaY, TRect& clip, TRect& scroll,
                      TRect& sampleA, TRect& sampleB, TRect& draw, TRect& erase);
std::u16string ShortenWithEllipsis(HDC dc, const std::u16string& text, int width,
                                   int ellipsisWidth = 0);
std::u16string WrapWideText(HDC dc, const std::u16string& text, const TRect& bounds,
                            bool rightToLeft, UINT drawFormat);
void MeasureWideText(HDC dc, const std::u16string& text, TRect& bounds, UINT drawFormat);
void DrawWideTextSubstitute(HDC dc, const char16_t* text, int count, TRect& bounds, UINT format,
                            bool adjustRight);
TRect NormalizeRect(const TRect& r);
TBaseLazyTree* TreeOfNode(PLazyNode node);
[[noreturn]] void RaiseTreeError(const std::u16string& message, int helpContext);
uint32_t ColorToImageListColor(TColor color);
void SortNodeAddresses(std::vector<PLazyNode>& nodes, int low, int high);
TShiftState KeyShiftState();
// The ANSI code page of the current keyboard layout, and one character code of
// it as a wide character (U+FFFD for a code the page leaves unassigned).
int GetKeyboardCodePage();
char16_t KeyUnicode(unsigned char code);

// --- text builders -----------------------------------------------------------------------------

// Text the export appends piece by piece. Its room grows in whole blocks of
// 4096 units, at least the piece's length, so many small appends reserve rarely;
// a line end wants NewLineRoom units left before it goes in.
template <class Char, size_t NewLineRoom> class TBufferedText {
public:
    void Add(std::basic_string_view<Char> s);
    void AddNewLine();
    std::basic_string<Char> AsString() const { return FText; }
    size_t Capacity() const { return FCapacity; } // in units

private:
    std::basic_string<Char> FText;
    size_t FCapacity = 0; // reserved for FText
};

class TBufferedAnsiString : public TBufferedText<char, 3> {};
class TWideBufferedString : public TBufferedText<char16_t, 5> {};

} // namespace nuq
