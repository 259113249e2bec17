// Any bytes as a form's ini file, read into the form's placement, its stored
// properties and its stored values, saved and read again: nothing raises, the
// form stays within the work area, and what the first save wrote is what the
// second one writes.

#include "foundation/gui/fhPlacemnt.h"

#include "FuzzCheck.h"
#include "platform/EventLoop.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

using namespace nuq;

namespace {

class TItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    int Width = 50;
};

// A component with a property of each kind a form keeps.
class TKept : public TWinControl {
public:
    using TWinControl::TWinControl;
    int Int = 0, Enum = 0;
    int64_t Set = 0;
    double Dbl = 0;
    std::string Str;
    TStringList Lines;
    TCollection Items{[](TCollection* c) { return std::make_unique<TItem>(c); }};
};

void RegisterKept() {
    RegisterClass<TItem>("TItem", TPublisher<TItem>().Integer(
                                      "Width", [](TItem& c) { return c.Width; },
                                      [](TItem& c, int64_t v) { c.Width = int(v); }));
    RegisterClass<TKept>(
        "TKept",
        TPublisher<TKept>()
            .Integer(
                "Width", [](TKept& k) { return k.Width(); },
                [](TKept& k, int64_t v) { k.SetWidth(int(v)); })
            .Integer(
                "Int", [](TKept& k) { return k.Int; }, [](TKept& k, int64_t v) { k.Int = int(v); })
            .Ordinal(
                "Enum", tkEnumeration, [](TKept& k) { return k.Enum; },
                [](TKept& k, int64_t v) { k.Enum = int(v); }, {"alLeft", "alRight", "alClient"})
            .Ordinal(
                "Set", tkSet, [](TKept& k) { return k.Set; },
                [](TKept& k, int64_t v) { k.Set = v; }, {"a", "b", "c"})
            .Float(
                "Dbl", ftDouble, [](TKept& k) { return k.Dbl; },
                [](TKept& k, double v) { k.Dbl = v; })
            .String(
                "Str", [](TKept& k) { return k.Str; },
                [](TKept& k, const std::string& v) { k.Str = v; })
            .Object("Lines", [](TKept& k) -> TPersistent* { return &k.Lines; })
            .Object("Items", [](TKept& k) -> TPersistent* { return &k.Items; }));
}

// A sizeable form keeping its placement, the properties of one component and
// two named values, one of them keyed, in section "F".
class TfrmKept : public TForm {
public:
    explicit TfrmKept(const std::string& iniFile) {
        Name = "frmKept";
        SetBounds(40, 30, 160, 120);
        kept = std::make_unique<TKept>(this);
        kept->Name = "kept";
        kept->SetParent(this);
        storage = std::make_unique<TFormStorage>(this);
        storage->Name = "storage";
        storage->UseRegistry = false;
        storage->IniFileName = iniFile;
        storage->IniSection = "F";
        storage->Options = fpState | fpPosition | fpActiveControl;
        TStoredList props;
        for (const char* p : {"Width", "Int", "Enum", "Set", "Dbl", "Str", "Lines", "Items"})
            props.push_back({std::string("kept.") + p, nullptr});
        storage->SetStoredProps(props);
        TStoredValue* plain = storage->StoredValues().Add();
        plain->SetName("Phone");
        TStoredValue* keyed = storage->StoredValues().Add();
        keyed->SetName("Password");
        keyed->KeyString = "k3y";
    }
    std::unique_ptr<TKept> kept;
    std::unique_ptr<TFormStorage> storage; // last: goes first
};

std::string iniPath;

// The file's lines, blank ones aside: where an erased section leaves its
// blank line is no part of what is stored.
std::string FileText() {
    std::ifstream in(iniPath, std::ios::binary);
    std::string text;
    for (std::string line; std::getline(in, line);)
        if (line.find_first_not_of(" \t\r") != std::string::npos) text += line + "\n";
    return text;
}

// Restores a new form from the file and saves it again; the file's text after.
std::string RestoreAndSave() {
    auto form = CreateForm<TfrmKept>(iniPath);
    try {
        form->storage->RestoreState();
    } catch (...) {
        FUZZ_CHECK(!"bad text never raises");
    }
    TRect r;
    FUZZ_CHECK(GetWindowRect(form->Handle(), r));
    const TRect area = GetDesktopWorkArea();
    FUZZ_CHECK(r.Left >= area.Left && r.Top >= area.Top);
    FUZZ_CHECK(r.Right <= area.Right && r.Bottom <= area.Bottom);
    HBITMAP image = GetWindowImage(form->Handle());
    FUZZ_CHECK(image->Width <= area.Width() && image->Height <= area.Height());
    form->storage->SaveState();
    return FileText();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetMainThread();
    RegisterKept();
    // A small screen: every window image is painted white when made.
    SetScreenSize(320, 240);
    // Every value written rewrites the file: memory, where there is some, is quicker.
    char shm[] = "/dev/shm/nuq_fuzz_form_XXXXXX", tmp[] = "/tmp/nuq_fuzz_form_XXXXXX";
    const char* dir = mkdtemp(shm);
    if (!dir && !(dir = mkdtemp(tmp))) std::abort();
    iniPath = std::string(dir) + "/form.INI";
    std::atexit([] { std::filesystem::remove_all(std::filesystem::path(iniPath).parent_path()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ofstream(iniPath, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    const std::string first = RestoreAndSave();
    const std::string second = RestoreAndSave();
    if (second != first) {
        const std::string report = "first save:\n" + first + "\nsecond save:\n" + second + "\n";
        std::fwrite(report.data(), 1, report.size(), stderr);
    }
    FUZZ_CHECK(second == first);
    return 0;
}
