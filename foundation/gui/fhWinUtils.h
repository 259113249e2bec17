#pragma once
// Drawing for controls without a window of their own that must look
// transparent: what the parent and the graphic siblings below would show,
// and bitmaps drawn (stretched) without the pixels of one colour.

#include <functional>
#include <string>

#include "platform/IniFiles.h"
#include "platform/gui/Forms.h"

namespace nuq {

// Paints into Dest what Control's parent and the windowless siblings below
// Control show under it. Nothing happens without a control or a parent.
void CopyParentImage(TControl* control, TCanvas& dest);

// A masked stretched copy: every source pixel of TransparentColor (a
// red-green-blue value) leaves the destination as it was.
void StretchBltTransparent(HDC dstDC, int dstX, int dstY, int dstW, int dstH, HDC srcDC, int srcX,
                           int srcY, int srcW, int srcH, HPALETTE palette,
                           COLORREF transparentColor);

// A destination size below 1 is the bitmap's size; a source size below 1
// selects the whole bitmap. TransparentColor clNone copies plainly with
// Dest's copy mode; clDefault takes the bitmap's bottom-left pixel; a
// monochrome bitmap is always transparent in white.
void DrawTransparentBitmapRect(TCanvas& dest, TBitmap& bitmap, TColor transparentColor, int dstX,
                               int dstY, int dstW, int dstH, int srcX, int srcY, int srcW,
                               int srcH);
void DrawTransparentBitmap(TCanvas& dest, int dstX, int dstY, int dstW, int dstH, const TRect& src,
                           TBitmap& bitmap, TColor transparentColor);

// The colour's red-green-blue value with the palette-relative flag.
COLORREF PaletteColor(TColor color);

// --- window placement in ini files and the registry store -------------------------------
//
// A form's placement lives in one section: "Flags", "ShowCmd",
// "PixelsPerInch", and "MinMaxPos" and "NormPos" each twice, under the key
// with the screen size appended ("NormPos(1024x768)") and under the plain
// key; reading tries the suffixed key first. The storage is an ini file or
// the registry store; any other storage is ignored.

// The section a component keeps its placement in: a form's class name; a
// control's form class (or parent) name followed by its own name; a
// component owned by a form "FormClass.Name"; else its name.
std::string DefaultPlacementSection(TComponent* component);
// The installed provider's answer, else the host program's name with ".INI".
std::string DefaultIniFileName();
extern std::function<std::string()> OnGetDefaultIniName;
// "Software\" and the host program's name (the application's title instead
// when RegistryKeyPrefersTitle is set and the title is not empty); the vendor
// prefix goes in front when set.
std::string DefaultRegistryKey();
extern std::string DefCompanyName;
extern bool RegistryKeyPrefersTitle;

// Ini files get values that begin and end with the same quote wrapped in an
// extra pair of double quotes, which their reader takes off again.
std::string StorageReadString(TCustomIniFile* storage, const std::string& section,
                              const std::string& ident, const std::string& def);
void StorageWriteString(TCustomIniFile* storage, const std::string& section,
                        const std::string& ident, const std::string& value);
int StorageReadInteger(TCustomIniFile* storage, const std::string& section,
                       const std::string& ident, int def);
void StorageWriteInteger(TCustomIniFile* storage, const std::string& section,
                         const std::string& ident, int value);

void SaveWindowPlacement(TForm* form, TCustomIniFile* storage, const std::string& section);
// A stored position is applied only when it was written at the screen's
// current pixels per inch; a form that is not sizeable keeps its size.
void LoadWindowPlacement(TForm* form, TCustomIniFile* storage, const std::string& section,
                         bool loadState, bool loadPosition);

// The form a control sits on; null when none.
TForm* GetParentForm(TControl* control);

} // namespace nuq
