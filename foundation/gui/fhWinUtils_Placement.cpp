// Window placement keys in ini files and the registry store.

#include "foundation/gui/fhWinUtils.h"

#include <algorithm>
#include <cstdint>

#include "foundation/fhStrUtils.h"
#include "platform/Host.h"
#include "platform/Registry.h"

namespace nuq {

std::function<std::string()> OnGetDefaultIniName;
std::string DefCompanyName;
bool RegistryKeyPrefersTitle = false;

namespace {

bool IsStorage(TCustomIniFile* storage) {
    return dynamic_cast<TIniFile*>(storage) || dynamic_cast<TRegIniFile*>(storage);
}

std::string ResolutionSuffix() {
    return "(" + std::to_string(Screen().Width) + "x" + std::to_string(Screen().Height) + ")";
}

// The suffixed key, else the plain one; empty when neither holds a value.
std::string ReadPosStr(TCustomIniFile* storage, const std::string& section,
                       const std::string& ident) {
    std::string s = StorageReadString(storage, section, ident + ResolutionSuffix(), "");
    if (s.empty()) s = StorageReadString(storage, section, ident, "");
    return s;
}

void WritePosStr(TCustomIniFile* storage, const std::string& section, const std::string& ident,
                 const std::string& value) {
    StorageWriteString(storage, section, ident + ResolutionSuffix(), value);
    StorageWriteString(storage, section, ident, value);
}

int PosWord(const std::string& s, int n, int def) {
    return StrToIntDef(ExtractWord(n, s, {' ', ','}), def);
}

std::string FourNumbers(int a, int b, int c, int d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
           std::to_string(d);
}

// A damaged file must neither put the form off the screen nor make it larger
// than the screen: the rectangle keeps its size up to the work area's and is
// moved into it.
TRect WithinWorkArea(int left, int top, int64_t width, int64_t height) {
    const TRect area = GetDesktopWorkArea();
    width = std::clamp<int64_t>(width, 0, area.Width());
    height = std::clamp<int64_t>(height, 0, area.Height());
    return Bounds(int(std::clamp<int64_t>(left, area.Left, area.Right - width)),
                  int(std::clamp<int64_t>(top, area.Top, area.Bottom - height)), int(width),
                  int(height));
}

std::string ExeNameWithout() {
    std::string name = HostExeName();
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

TForm* GetParentForm(TControl* control) {
    for (TControl* c = control; c; c = c->Parent())
        if (auto* f = dynamic_cast<TForm*>(c)) return f;
    return nullptr;
}

std::string DefaultPlacementSection(TComponent* component) {
    if (!component) return "";
    if (auto* form = dynamic_cast<TForm*>(component)) return form->ClassName();
    if (auto* control = dynamic_cast<TControl*>(component)) {
        if (TForm* form = GetParentForm(control)) return form->ClassName() + control->Name;
        return (control->Parent() ? control->Parent()->Name : std::string()) + control->Name;
    }
    if (auto* owner = dynamic_cast<TForm*>(component->Owner()))
        return owner->ClassName() + "." + component->Name;
    return component->Name;
}

std::string DefaultIniFileName() {
    if (OnGetDefaultIniName) return OnGetDefaultIniName();
    return ExeNameWithout() + ".INI";
}

std::string DefaultRegistryKey() {
    const std::string& title = Application().Title;
    std::string key =
        "Software\\" + (RegistryKeyPrefersTitle && !title.empty() ? title : ExeNameWithout());
    return DefCompanyName.empty() ? key : DefCompanyName + "\\" + key;
}

std::string StorageReadString(TCustomIniFile* storage, const std::string& section,
                              const std::string& ident, const std::string& def) {
    return IsStorage(storage) ? storage->ReadString(section, ident, def) : def;
}

void StorageWriteString(TCustomIniFile* storage, const std::string& section,
                        const std::string& ident, const std::string& value) {
    if (!IsStorage(storage)) return;
    std::string s = value;
    if (dynamic_cast<TIniFile*>(storage) && s.size() >= 2 &&
        (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        s = "\"" + s + "\"";
    storage->WriteString(section, ident, s);
}

int StorageReadInteger(TCustomIniFile* storage, const std::string& section,
                       const std::string& ident, int def) {
    return IsStorage(storage) ? storage->ReadInteger(section, ident, def) : def;
}

void StorageWriteInteger(TCustomIniFile* storage, const std::string& section,
                         const std::string& ident, int value) {
    if (IsStorage(storage)) storage->WriteInteger(section, ident, value);
}

void SaveWindowPlacement(TForm* form, TCustomIniFile* storage, const std::string& section) {
    if (!form || !IsStorage(storage)) return;
    TWindowPlacement wp;
    wp.Length = 44;
    GetWindowPlacement(form->Handle(), wp);
    // The main form's minimised state shows in its own record here: there is
    // no application window that would be minimised instead.
    if (form->FormStyle == fsMDIChild && form->WindowState() == wsMinimized)
        wp.Flags |= WPF_SETMINPOSITION;
    StorageWriteInteger(storage, section, "Flags", int(wp.Flags));
    StorageWriteInteger(storage, section, "ShowCmd", int(wp.ShowCmd));
    StorageWriteInteger(storage, section, "PixelsPerInch", Screen().PixelsPerInch);
    WritePosStr(
        storage, section, "MinMaxPos",
        FourNumbers(wp.MinPosition.X, wp.MinPosition.Y, wp.MaxPosition.X, wp.MaxPosition.Y));
    const TRect& n = wp.NormalPosition;
    WritePosStr(storage, section, "NormPos", FourNumbers(n.Left, n.Top, n.Right, n.Bottom));
}

void LoadWindowPlacement(TForm* form, TCustomIniFile* storage, const std::string& section,
                         bool loadState, bool loadPosition) {
    if (!form || !IsStorage(storage) || (!loadState && !loadPosition)) return;
    HWND h = form->Handle();
    TWindowPlacement wp;
    wp.Length = 44;
    GetWindowPlacement(h, wp);
    if (!IsWindowVisible(h)) wp.ShowCmd = SW_HIDE;
    if (loadPosition) {
        bool found = false;
        wp.Flags = UINT(StorageReadInteger(storage, section, "Flags", int(wp.Flags)));
        std::string s = ReadPosStr(storage, section, "MinMaxPos");
        if (!s.empty()) {
            wp.MinPosition = {PosWord(s, 1, 0), PosWord(s, 2, 0)};
            wp.MaxPosition = {PosWord(s, 3, 0), PosWord(s, 4, 0)};
            found = true;
        }
        s = ReadPosStr(storage, section, "NormPos");
        if (!s.empty()) {
            wp.NormalPosition = {PosWord(s, 1, form->Left()), PosWord(s, 2, form->Top()),
                                 PosWord(s, 3, form->Left() + form->Width()),
                                 PosWord(s, 4, form->Top() + form->Height())};
            found = true;
        }
        const int ppi =
            StorageReadInteger(storage, section, "PixelsPerInch", Screen().PixelsPerInch);
        if (found && ppi == Screen().PixelsPerInch) {
            TRect& r = wp.NormalPosition;
            int64_t width = int64_t(r.Right) - r.Left, height = int64_t(r.Bottom) - r.Top;
            if (form->BorderStyle != bsSizeable && form->BorderStyle != bsSizeToolWin) {
                width = form->Width();
                height = form->Height();
            }
            if (width > 0) { // the left is less than the right
                r = WithinWorkArea(r.Left, r.Top, width, height);
                if (!(form->ComponentState & csDesigning) &&
                    (form->Position == poScreenCenter || form->Position == poDesktopCenter)) {
                    form->ComponentState |= csDesigning;
                    form->Position = poDesigned;
                    form->ComponentState &= ~csDesigning;
                }
                SetWindowPlacement(h, wp);
            }
        }
    }
    if (loadState) {
        const bool mainOrNone = !MainForm() || MainForm() == form;
        TWindowState state = wsNormal;
        if (mainOrNone && (form->FormStyle == fsMDIForm ||
                           (form->FormStyle == fsNormal && form->Position == poDefault)))
            state = wsMaximized;
        switch (StorageReadInteger(storage, section, "ShowCmd", SW_HIDE)) {
        case SW_SHOWNORMAL:
        case SW_SHOW:
        case SW_RESTORE:
            state = wsNormal;
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            state = wsMinimized;
            break;
        case SW_SHOWMAXIMIZED:
            state = wsMaximized;
            break;
        }
        if (state == wsMinimized && mainOrNone) {
            form->SetWindowStateField(wsNormal);
            PostMessage(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return;
        }
        if (form->FormStyle == fsMDIChild || form->FormStyle == fsMDIForm)
            form->SetWindowStateField(state);
        else
            form->SetWindowState(state);
    }
    form->Update();
}

} // namespace nuq
