// The process-wide registry of the clipboard formats the tree classes render.

#include "treeview/LazyTrees.h"

#include <algorithm>
#include <strings.h>

namespace nuq {

const TClipboardFormatEntry ClipboardDescriptions[16] = {
    {CF_TEXT, "Plain text"},
    {2, "Windows bitmap"},
    {3, "Windows metafile"},
    {4, "Symbolic link"},
    {5, "Data interchange format"},
    {6, "Tiff image"},
    {7, "OEM text"},
    {8, "DIB image"},
    {9, "Palette data"},
    {10, "Pen data"},
    {11, "Riff audio data"},
    {12, "Wav audio data"},
    {CF_UNICODETEXT, "Unicode text"},
    {14, "Enhanced metafile image"},
    {15, "File name(s)"},
    {16, "Locale descriptor"},
};

namespace {

std::unique_ptr<TClipboardFormatList>& Registry() {
    static auto* list = new std::unique_ptr<TClipboardFormatList>; // outlives the unit's end
    return *list;
}

bool SameText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

TClipboardFormatList* InternalClipboardFormats() {
    return Registry().get();
}

void FreeClipboardFormatList() {
    Registry().reset();
}

void TClipboardFormatList::AddFormat(const std::string& description, const TTreeClass* treeClass,
                                     uint32_t priority, const TFormatEtc& formatEtc) {
    auto e = std::make_unique<TClipboardFormatListEntry>();
    e->Description = description;
    e->TreeClass = treeClass;
    e->Priority = priority;
    e->FormatEtc = formatEtc;
    FList.push_back(std::move(e));
    if (FList.size() > 1) Sort(0, int(FList.size()) - 1);
}

void TClipboardFormatList::Clear() {
    FList.clear();
}

void TClipboardFormatList::Sort(int low, int high) {
    // Ascending by priority over [low, high]; equal priorities keep the order
    // they were registered in.
    if (low >= high) return;
    std::stable_sort(FList.begin() + low, FList.begin() + high + 1,
                     [](const auto& a, const auto& b) { return a->Priority < b->Priority; });
}

void TClipboardFormatList::FormatsForClass(const TTreeClass* treeClass,
                                           std::vector<TFormatEtc>& formats,
                                           const std::vector<std::string>* allowed) const {
    formats.clear();
    formats.reserve(FList.size());
    for (const auto& e : FList) {
        if (!treeClass || !treeClass->InheritsFrom(e->TreeClass)) continue;
        if (allowed && std::none_of(allowed->begin(), allowed->end(), [&](const std::string& n) {
                return SameText(n, e->Description);
            }))
            continue;
        formats.push_back(e->FormatEtc);
    }
}

const TTreeClass* TClipboardFormatList::FindByName(const std::string& description,
                                                   WORD& format) const {
    for (auto it = FList.rbegin(); it != FList.rend(); ++it)
        if (SameText((*it)->Description, description)) {
            format = (*it)->FormatEtc.cfFormat;
            return (*it)->TreeClass;
        }
    return nullptr;
}

WORD RegisterTreeClipboardFormat(const std::string& description, const TTreeClass* treeClass,
                                 uint32_t priority, DWORD medium, void* targetDevice, DWORD aspect,
                                 int index) {
    if (!Registry()) Registry() = std::make_unique<TClipboardFormatList>();
    TFormatEtc f;
    f.cfFormat = RegisterClipboardFormat(description);
    f.ptd = targetDevice;
    f.dwAspect = aspect;
    f.lindex = index;
    f.tymed = medium;
    Registry()->AddFormat(description, treeClass, priority, f);
    return f.cfFormat;
}

void RegisterTreeClipboardFormat(WORD format, const TTreeClass* treeClass, uint32_t priority) {
    if (!Registry()) Registry() = std::make_unique<TClipboardFormatList>();
    std::string description;
    if (format < 17) {
        for (const auto& d : ClipboardDescriptions)
            if (d.ID == format) description = d.Description;
    } else {
        description = GetClipboardFormatName(format).substr(0, 2048);
    }
    if (description.empty()) return;
    TFormatEtc f;
    f.cfFormat = format;
    Registry()->AddFormat(description, treeClass, priority, f);
}

} // namespace nuq
