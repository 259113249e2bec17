#include "foundation/gui/fhPlacemnt.h"

#include "foundation/fhStrUtils.h"
#include "foundation/gui/fhWinUtils.h"
#include "foundation/uTrace.h"
#include "platform/Host.h"
#include "platform/Registry.h"
#include "platform/ScopeGuard.h"
#include "platform/gui/Filer.h"

#include <mutex>

namespace nuq {

namespace {

// The published properties that form resources keep of the placement and
// storage components.
void RegisterPlacementClasses() {
    TPublisher<TWinMinMaxInfo> m;
    const char* limits[] = {"MaxPosLeft",     "MaxPosTop",     "MaxSizeHeight",  "MaxSizeWidth",
                            "MaxTrackHeight", "MaxTrackWidth", "MinTrackHeight", "MinTrackWidth"};
    for (int f = 0; f < 8; ++f)
        m.Integer(
             limits[f], [f](auto& o) { return o.Value(TWinMinMaxInfo::TField(f)); },
             [f](auto& o, int64_t v) { o.SetValue(TWinMinMaxInfo::TField(f), int(v)); })
            .Default(0);
    RegisterClass<TWinMinMaxInfo>("TWinMinMaxInfo", m);

    TPublisher<TFormPlacement> p;
    auto boolean = [&p](std::string name, std::function<bool(TFormPlacement&)> get,
                        std::function<void(TFormPlacement&, bool)> set, bool def) {
        p.Ordinal(
             std::move(name), tkEnumeration, [get](auto& o) { return get(o); },
             [set](auto& o, int64_t v) { set(o, v != 0); }, {"False", "True"})
            .Default(def);
    };
    boolean(
        "Active", [](auto& o) { return o.Active; }, [](auto& o, bool v) { o.Active = v; }, true);
    p.String(
        "IniFileName", [](auto& o) { return o.IniFileName; },
        [](auto& o, const std::string& v) { o.IniFileName = v; });
    p.String(
        "IniSection", [](auto& o) { return o.IniSection; },
        [](auto& o, const std::string& v) { o.IniSection = v; });
    p.Object("MinMaxInfo", [](auto& o) { return &o.MinMaxInfo(); });
    p.Ordinal(
         "Options", tkSet, [](auto& o) { return o.Options; },
         [](auto& o, int64_t v) { o.Options = TPlacementOptions(v); },
         {"fpState", "fpPosition", "fpActiveControl"})
        .Default(fpState | fpPosition);
    boolean(
        "PreventResize", [](auto& o) { return o.PreventResize(); },
        [](auto& o, bool v) { o.SetPreventResize(v); }, false);
    p.Ordinal(
         "RegistryRoot", tkEnumeration, [](auto& o) { return o.RegistryRoot; },
         [](auto& o, int64_t v) { o.RegistryRoot = TPlacementRegRoot(v); },
         {"prCurrentUser", "prLocalMachine", "prCurrentConfig", "prClassesRoot", "prUsers",
          "prDynData"})
        .Default(prCurrentUser);
    boolean(
        "UseRegistry", [](auto& o) { return o.UseRegistry; },
        [](auto& o, bool v) { o.UseRegistry = v; }, true);
    p.Integer(
         "Version", [](auto& o) { return o.Version; },
         [](auto& o, int64_t v) { o.Version = int(v); })
        .Default(0);
    p.Method("OnSavePlacement").Method("OnRestorePlacement");
    RegisterClass<TFormPlacement>("TFormPlacement", p);
    RegisterClass<TFormStorage, TFormPlacement>("TFormStorage");

    TPublisher<TStoredValue> v;
    v.String(
        "Name", [](auto& o) { return o.Name(); },
        [](auto& o, const std::string& name) { o.SetName(name); });
    v.VariantProp(
        "Value", [](auto& o) { return o.Value; },
        [](auto& o, const Variant& value) { o.Value = value; });
    v.String(
        "KeyString", [](auto& o) { return o.KeyString; },
        [](auto& o, const std::string& key) { o.KeyString = key; });
    v.Method("OnSave").Method("OnRestore");
    RegisterClass<TStoredValue>("TStoredValue", v);
}

} // namespace

// --- size limits ----------------------------------------------------------------------------

void TWinMinMaxInfo::SetValue(TField f, int v) {
    if (F[f] == v) return;
    F[f] = v;
    if (FOwner) FOwner->MinMaxInfoModified();
}

void TWinMinMaxInfo::Assign(const TWinMinMaxInfo& other) {
    std::copy(std::begin(other.F), std::end(other.F), std::begin(F));
    if (FOwner) FOwner->MinMaxInfoModified();
}

bool TWinMinMaxInfo::DefaultMinMaxInfo() const {
    return std::all_of(std::begin(F), std::end(F), [](int v) { return v == 0; });
}

// --- placement ----------------------------------------------------------------------------------

TFormPlacement::TFormPlacement(TComponent* owner) : TComponent(owner) {
    static std::once_flag registered;
    std::call_once(registered, RegisterPlacementClasses);
    ComponentState |= csLoading;
    if (!dynamic_cast<TForm*>(owner)) Options = 0;
    FWinHook = std::make_unique<TWindowHook>();
    FWinHook->SetActive(false);
    FWinHook->AfterMessage = [this](TWindowHook&, TMessage& msg, bool&) { WndMessage(msg); };
}

TFormPlacement::~TFormPlacement() {
    ComponentState |= csDestroying;
    RestoreEvents();
    FWinHook.reset();
    Destroying();
}

TForm* TFormPlacement::Form() const {
    return dynamic_cast<TForm*>(Owner());
}

void TFormPlacement::Loaded() {
    TComponent::Loaded();
    TForm* form = Form();
    if (!form || (ComponentState & csDesigning) || FHooked) return;
    FSaveFormShow = std::move(form->OnShow);
    FSaveFormCloseQuery = std::move(form->OnCloseQuery);
    FSaveFormDestroy = std::move(form->OnDestroy);
    form->OnShow = [this](TComponent& s) { FormShow(s); };
    form->OnCloseQuery = [this](TComponent& s, bool& canClose) { FormCloseQuery(s, canClose); };
    form->OnDestroy = [this](TComponent& s) { FormDestroy(s); };
    FHooked = true;
    FDefMaximize = form->BorderIcons() & biMaximize;
    SetPreventResize(FPreventResize);
    CheckToggleHook();
}

void TFormPlacement::RestoreEvents() {
    if (!FHooked) return;
    FHooked = false;
    if (TForm* form = Form()) { // a form that went first has no events left to give back
        form->OnShow = std::move(FSaveFormShow);
        form->OnCloseQuery = std::move(FSaveFormCloseQuery);
        form->OnDestroy = std::move(FSaveFormDestroy);
    }
}

void TFormPlacement::CheckToggleHook() {
    TForm* form = Form();
    bool want = form && (FPreventResize || !FMinMaxInfo.DefaultMinMaxInfo());
    if (want) {
        FWinHook->SetWinControl(form);
        FWinHook->SetActive(true);
    } else {
        FWinHook->SetActive(false);
    }
}

void TFormPlacement::SetPreventResize(bool value) {
    FPreventResize = value;
    TForm* form = Form();
    if (!form || (ComponentState & (csLoading | csDesigning))) return;
    if (value)
        form->SetBorderIcons(form->BorderIcons() & ~unsigned(biMaximize));
    else if (FDefMaximize && form->BorderStyle != bsDialog)
        form->SetBorderIcons(form->BorderIcons() | biMaximize);
    UpdatePlacement();
    CheckToggleHook();
}

void TFormPlacement::UpdatePlacement() {
    TForm* form = Form();
    if (!form || !form->HandleAllocated() || (ComponentState & csLoading) ||
        (form->ComponentState & csLoading))
        return;
    if (FPreventResize || !FMinMaxInfo.DefaultMinMaxInfo()) return;
    static const int metrics[][2] = {{0, 0},
                                     {SM_CXBORDER, SM_CYBORDER},
                                     {SM_CXFRAME, SM_CYFRAME},
                                     {SM_CXDLGFRAME, SM_CYDLGFRAME},
                                     {SM_CXBORDER, SM_CYBORDER},
                                     {SM_CXFRAME, SM_CYFRAME}};
    HWND h = form->WindowHandle();
    TWindowPlacement wp;
    wp.Length = 44;
    if (!GetWindowPlacement(h, wp)) return;
    if (!IsWindowVisible(h)) wp.ShowCmd = SW_HIDE;
    const int* m = metrics[form->BorderStyle];
    wp.MaxPosition = {m[0] ? -GetSystemMetrics(m[0]) : 0, m[1] ? -GetSystemMetrics(m[1]) : 0};
    SetWindowPlacement(h, wp);
}

void TFormPlacement::MinMaxInfoModified() {
    UpdatePlacement();
    if (!(ComponentState & csLoading)) CheckToggleHook();
}

std::string TFormPlacement::GetIniFileName() const {
    if (!IniFileName.empty()) return IniFileName;
    return UseRegistry ? DefaultRegistryKey() : DefaultIniFileName();
}

std::string TFormPlacement::GetIniSection() const {
    return IniSection.empty() ? DefaultPlacementSection(Owner()) : IniSection;
}

void TFormPlacement::OpenStorage(bool readOnly) {
    CloseStorage();
    const std::string name = GetIniFileName();
    if (UseRegistry) {
        FStorage = std::make_unique<TRegIniFile>(name, TRegRoot(RegistryRoot), readOnly);
    } else {
        // A bare name lives in the host program's folder, as the profile
        // routines keep such files in one system folder.
        FStorage = std::make_unique<TIniFile>(
            name.find('/') == std::string::npos ? HostFolder() + name : name);
    }
}

void TFormPlacement::FormShow(TComponent& sender) {
    if (Active) RestoreState();
    if (FSaveFormShow) FSaveFormShow(sender);
}

void TFormPlacement::FormCloseQuery(TComponent& sender, bool& canClose) {
    if (FSaveFormCloseQuery) FSaveFormCloseQuery(sender, canClose);
    TForm* form = Form();
    if (canClose && Active && form && form->HandleAllocated()) SaveState();
}

void TFormPlacement::FormDestroy(TComponent& sender) {
    if (Active && !FSaved) {
        FDestroying = true;
        // Traced, not raised: an exception out of a destruction ends the program.
        try {
            SaveState();
        } catch (const std::exception& e) {
            CloseStorage();
            Trace("Form placement not saved: " + std::string(e.what()));
        }
        FDestroying = false;
    }
    if (FSaveFormDestroy) FSaveFormDestroy(sender);
}

void TFormPlacement::SaveState() {
    if (Active && !FRestored) return; // never shown: nothing worth keeping
    OpenStorage(false);
    TScopeExit close([this] { CloseStorage(); });
    FStorage->WriteInteger(GetIniSection(), "FormVersion", Version);
    WritePlacement();
    if (OnSavePlacement) OnSavePlacement(*this);
    FSaved = true;
}

void TFormPlacement::RestoreState() {
    FSaved = false;
    OpenStorage(true);
    {
        TScopeExit close([this] { CloseStorage(); });
        const std::string section = GetIniSection();
        if (FStorage->ReadInteger(section, "FormVersion", 0) >= Version) {
            ReadPlacement();
            if (OnRestorePlacement) OnRestorePlacement(*this);
            TForm* form = Form();
            if ((Options & fpActiveControl) && form) {
                auto* c = dynamic_cast<TWinControl*>(form->FindComponent(
                    StorageReadString(FStorage.get(), section, "ActiveControl", "")));
                if (c && form->CanFocusControl(c)) form->SetActiveControl(c);
            }
        }
        FRestored = true;
    }
    UpdatePlacement();
}

void TFormPlacement::WritePlacement() {
    TForm* form = Form();
    if (!form) return;
    const std::string section = GetIniSection();
    if (Options & (fpState | fpPosition)) {
        SaveWindowPlacement(form, FStorage.get(), section);
        FStorage->WriteBool(section, "Visible", FDestroying);
    }
    if ((Options & fpActiveControl) && form->ActiveControl())
        StorageWriteString(FStorage.get(), section, "ActiveControl", form->ActiveControl()->Name);
}

void TFormPlacement::ReadPlacement() {
    if (TForm* form = Form())
        LoadWindowPlacement(form, FStorage.get(), GetIniSection(), Options & fpState,
                            Options & fpPosition);
}

void TFormPlacement::WithStorage(bool readOnly, const std::function<void()>& fn) {
    if (FStorage) return fn(); // inside a save or restore: its storage serves
    OpenStorage(readOnly);
    TScopeExit close([this] { CloseStorage(); });
    fn();
}

std::string TFormPlacement::ReadText(const std::string& ident, const std::string& def) {
    std::string s;
    WithStorage(true, [&] { s = StorageReadString(FStorage.get(), GetIniSection(), ident, def); });
    return s;
}

void TFormPlacement::WriteText(const std::string& ident, const std::string& value) {
    WithStorage(false, [&] { StorageWriteString(FStorage.get(), GetIniSection(), ident, value); });
}

int TFormPlacement::ReadNumber(const std::string& ident, int def) {
    return StrToIntDef(ReadText(ident, std::to_string(def)), def);
}

void TFormPlacement::WriteNumber(const std::string& ident, int value) {
    WriteText(ident, std::to_string(value));
}

void TFormPlacement::WndMessage(TMessage& msg) {
    TForm* form = Form();
    if (!form) return;
    if (FPreventResize) {
        switch (msg.Msg) {
        case WM_GETMINMAXINFO:
            if (form->HandleAllocated() && IsWindowVisible(form->WindowHandle())) {
                auto* info = reinterpret_cast<TMinMaxInfo*>(msg.LParam);
                info->MinTrackSize = info->MaxTrackSize = {form->Width(), form->Height()};
                msg.Result = 1;
            }
            break;
        case WM_NCHITTEST:
            if (msg.Result >= HTSIZEFIRST && msg.Result <= HTSIZELAST) msg.Result = HTNOWHERE;
            break;
        case WM_INITMENUPOPUP:
            // The layer's windows have no system menu whose Size and
            // Maximise commands would need greying.
            if (HiWord(uintptr_t(msg.LParam))) msg.Result = 1;
            break;
        }
        return;
    }
    if (msg.Msg != WM_GETMINMAXINFO) return;
    auto* info = reinterpret_cast<TMinMaxInfo*>(msg.LParam);
    const TWinMinMaxInfo& m = FMinMaxInfo;
    if (m.MinTrackWidth()) info->MinTrackSize.X = m.MinTrackWidth();
    if (m.MinTrackHeight()) info->MinTrackSize.Y = m.MinTrackHeight();
    if (m.MaxTrackWidth()) info->MaxTrackSize.X = m.MaxTrackWidth();
    if (m.MaxTrackHeight()) info->MaxTrackSize.Y = m.MaxTrackHeight();
    if (m.MaxSizeWidth()) info->MaxSize.X = m.MaxSizeWidth();
    if (m.MaxSizeHeight()) info->MaxSize.Y = m.MaxSizeHeight();
    if (m.MaxPosLeft()) info->MaxPosition.X = m.MaxPosLeft();
    if (m.MaxPosTop()) info->MaxPosition.Y = m.MaxPosTop();
    if (m.DefaultMinMaxInfo()) info->MaxPosition = {0, 0};
    msg.Result = 1;
}

// --- stored values
// ---------------------------------------------------------------------------------

void TStoredValue::SetName(const std::string& name) {
    if (auto* values = dynamic_cast<TStoredValues*>(Collection())) {
        int i = values->IndexOf(name);
        if (i >= 0 && values->Item(i) != this)
            throw EStringListError("String list does not allow duplicates");
    }
    FName = name;
}

std::string TStoredValue::DisplayName() const {
    return FName.empty() ? ClassName() : FName;
}

TFormStorage* TStoredValue::Storage() const {
    auto* values = dynamic_cast<TStoredValues*>(Collection());
    return values ? values->Storage() : nullptr;
}

void TStoredValue::Write() {
    TFormStorage* storage = Storage();
    if (!storage) return;
    Variant v = Value;
    if (OnSave) OnSave(*this, v);
    std::string text = v.AsString();
    if (!KeyString.empty()) text = XorEncode(KeyString, text);
    storage->WriteText(FName, text);
}

void TStoredValue::Read() {
    TFormStorage* storage = Storage();
    if (!storage) return;
    std::string def = Value.AsString();
    if (!KeyString.empty()) def = XorEncode(KeyString, def);
    std::string text = storage->ReadText(FName, def);
    if (!KeyString.empty()) text = XorDecode(KeyString, text);
    Variant v(text);
    if (OnRestore) OnRestore(*this, v);
    Value = v;
}

TStoredValues::TStoredValues(TFormStorage* storage)
    : TCollection([](TCollection* c) { return std::make_unique<TStoredValue>(c); }),
      FStorage(storage) {}

int TStoredValues::IndexOf(const std::string& name) const {
    const std::string wanted = UpperCase(name);
    for (int i = 0; i < Count(); ++i)
        if (UpperCase(Item(i)->Name()) == wanted) return i;
    return -1;
}

void TStoredValues::WriteAll() {
    for (int i = 0; i < Count(); ++i) Item(i)->Write();
}

void TStoredValues::ReadAll() {
    for (int i = 0; i < Count(); ++i) Item(i)->Read();
}

// --- form storage
// ------------------------------------------------------------------------------------

TFormStorage::TFormStorage(TComponent* owner) : TFormPlacement(owner) {}

TFormStorage::~TFormStorage() {
    ComponentState |= csDestroying;
    for (auto& item : FStoredProps)
        if (item.Component) item.Component->RemoveFreeNotification(this);
}

void TFormStorage::SetStoredProps(TStoredList list) {
    for (auto& item : FStoredProps)
        if (item.Component) item.Component->RemoveFreeNotification(this);
    FStoredProps = std::move(list);
    if (!(ComponentState & csLoading)) SyncStoredList(Owner(), FStoredProps, true);
    for (auto& item : FStoredProps)
        if (item.Component) item.Component->FreeNotification(this);
}

void TFormStorage::Loaded() {
    TFormPlacement::Loaded();
    SetStoredProps(std::move(FStoredProps));
}

void TFormStorage::Notification(TComponent* component, TOperation operation) {
    TFormPlacement::Notification(component, operation);
    if (operation == opRemove && !(ComponentState & csDestroying))
        std::erase_if(FStoredProps,
                      [component](const TStoredItem& i) { return i.Component == component; });
}

void TFormStorage::DefineProperties(TFiler& filer) {
    TFormPlacement::DefineProperties(filer);
    // Components may have been renamed or freed since the list was set.
    if (dynamic_cast<TWriter*>(&filer)) SyncStoredList(Owner(), FStoredProps, false);
    filer.DefineProperty(
        "StoredProps",
        [this](TReader& reader) {
            // Components are attached once the whole form is read (Loaded).
            TStoredList list;
            reader.ReadListBegin();
            while (!reader.EndOfList()) list.push_back({reader.ReadString(), nullptr});
            reader.ReadListEnd();
            SetStoredProps(std::move(list));
        },
        [this](TWriter& writer) {
            writer.WriteListBegin();
            for (const TStoredItem& item : FStoredProps) writer.WriteString(item.Text);
            writer.WriteListEnd();
        },
        !FStoredProps.empty());
    filer.DefineProperty(
        "StoredValues",
        [this](TReader& reader) {
            FStoredValues.BeginUpdate();
            TScopeExit end([this] { FStoredValues.EndUpdate(); });
            FStoredValues.Clear();
            reader.ReadCollection([this] { return FStoredValues.Add(); });
        },
        [this](TWriter& writer) {
            std::vector<TPersistent*> items;
            for (int i = 0; i < FStoredValues.Count(); ++i) items.push_back(FStoredValues.Item(i));
            writer.WriteCollection(items);
        },
        FStoredValues.Count() > 0);
}

void TFormStorage::ConnectProps(TPropsStorage& props) {
    props.Section = GetIniSection();
    props.OnReadValue = [this](const std::string& section, const std::string& item,
                               const std::string& def) {
        return StorageReadString(Storage(), section, item, def);
    };
    props.OnWriteValue = [this](const std::string& section, const std::string& item,
                                const std::string& value) {
        StorageWriteString(Storage(), section, item, value);
    };
    props.OnClearSection = [this](const std::string& section) {
        if (Storage()) Storage()->EraseSection(section);
    };
}

void TFormStorage::WriteStoredProps() {
    if (FStoredProps.empty()) return;
    TPropsStorage props;
    ConnectProps(props);
    WithStorage(false, [&] { props.SaveComponentProperties(Owner(), FStoredProps); });
}

void TFormStorage::ReadStoredProps() {
    if (FStoredProps.empty()) return;
    TPropsStorage props;
    ConnectProps(props);
    WithStorage(true, [&] { props.LoadComponentProperties(Owner(), FStoredProps); });
}

void TFormStorage::WritePlacement() {
    TFormPlacement::WritePlacement();
    WriteStoredProps();
    FStoredValues.WriteAll();
}

void TFormStorage::ReadPlacement() {
    TFormPlacement::ReadPlacement();
    FRestored = true;
    ReadStoredProps();
    FStoredValues.ReadAll();
}

} // namespace nuq
