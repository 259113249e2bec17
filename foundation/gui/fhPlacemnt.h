#pragma once
// A form's memory between runs. TFormPlacement, dropped on a form, restores
// the form's placement each time it is shown and saves it when the form
// closes (or is destroyed unsaved); TFormStorage also keeps chosen published
// properties of the form's components and a list of named values. All of it
// goes to one section of an ini file or of the registry store, with
// "FormVersion": a stored version below Version is not restored.
//
// The component can also keep the form from being resized, or impose size
// limits, by answering the form's size query and sizing-border hit tests
// through a window hook.

#include <functional>
#include <memory>
#include <string>

#include "foundation/gui/fhHook.h"
#include "foundation/gui/fhProps.h"
#include "platform/IniFiles.h"
#include "platform/gui/Forms.h"

namespace nuq {

enum TPlacementOption { fpState = 1, fpPosition = 2, fpActiveControl = 4 };
using TPlacementOptions = unsigned;
enum TPlacementRegRoot {
    prCurrentUser,
    prLocalMachine,
    prCurrentConfig,
    prClassesRoot,
    prUsers,
    prDynData
};

class TFormPlacement;

// Size limits; 0 leaves a value to the system.
class TWinMinMaxInfo : public TPersistent {
public:
    explicit TWinMinMaxInfo(TFormPlacement* owner) : FOwner(owner) {}
    enum TField {
        MaxPosLeftF,
        MaxPosTopF,
        MaxSizeHeightF,
        MaxSizeWidthF,
        MaxTrackHeightF,
        MaxTrackWidthF,
        MinTrackHeightF,
        MinTrackWidthF
    };
    int Value(TField f) const { return F[f]; }
    void SetValue(TField f, int v);
    int MaxPosLeft() const { return F[MaxPosLeftF]; }
    int MaxPosTop() const { return F[MaxPosTopF]; }
    int MaxSizeHeight() const { return F[MaxSizeHeightF]; }
    int MaxSizeWidth() const { return F[MaxSizeWidthF]; }
    int MaxTrackHeight() const { return F[MaxTrackHeightF]; }
    int MaxTrackWidth() const { return F[MaxTrackWidthF]; }
    int MinTrackHeight() const { return F[MinTrackHeightF]; }
    int MinTrackWidth() const { return F[MinTrackWidthF]; }
    void Assign(const TWinMinMaxInfo& other);
    bool DefaultMinMaxInfo() const;

private:
    TFormPlacement* FOwner;
    int F[8] = {};
};

class TFormPlacement : public TComponent {
public:
    explicit TFormPlacement(TComponent* owner = nullptr);
    ~TFormPlacement() override;

    bool Active = true;
    // Empty: the default ini file name, or registry key with UseRegistry.
    std::string IniFileName;
    // Empty: the owner's default placement section.
    std::string IniSection;
    TPlacementOptions Options = fpState | fpPosition; // empty when the owner is not a form
    TPlacementRegRoot RegistryRoot = prCurrentUser;
    bool UseRegistry = true;
    int Version = 0;
    TNotifyEvent OnSavePlacement;
    TNotifyEvent OnRestorePlacement;

    TWinMinMaxInfo& MinMaxInfo() { return FMinMaxInfo; }
    bool PreventResize() const { return FPreventResize; }
    void SetPreventResize(bool value);

    std::string GetIniFileName() const;
    std::string GetIniSection() const;

    void SaveState();
    void RestoreState();
    // In the placement section; the storage is opened around the call when not open.
    std::string ReadText(const std::string& ident, const std::string& def);
    void WriteText(const std::string& ident, const std::string& value);
    int ReadNumber(const std::string& ident, int def);
    void WriteNumber(const std::string& ident, int value);

    // The storage object while a save or restore runs; null otherwise.
    TCustomIniFile* Storage() const { return FStorage.get(); }
    bool Restored() const { return FRestored; }

    void Loaded() override;
    // Re-applies the window settings (after a restore and when the limits change).
    void UpdatePlacement();
    // The limits changed: settings re-applied, the hook attached or detached.
    void MinMaxInfoModified();

protected:
    virtual void WritePlacement();
    virtual void ReadPlacement();
    TForm* Form() const;
    // Runs Fn with the storage open: the one of the running save or restore,
    // else one opened for the call and closed after it.
    void WithStorage(bool readOnly, const std::function<void()>& fn);
    bool FRestored = false;
    bool FDestroying = false;

private:
    friend class TWinMinMaxInfo;
    void OpenStorage(bool readOnly);
    void CloseStorage() { FStorage.reset(); }
    void FormShow(TComponent& sender);
    void FormCloseQuery(TComponent& sender, bool& canClose);
    void FormDestroy(TComponent& sender);
    void CheckToggleHook();
    void WndMessage(TMessage& msg);
    void RestoreEvents();

    TWinMinMaxInfo FMinMaxInfo{this};
    bool FPreventResize = false;
    bool FSaved = false;
    bool FDefMaximize = false;
    bool FHooked = false; // the form's events are ours
    TNotifyEvent FSaveFormShow;
    TCloseQueryEvent FSaveFormCloseQuery;
    TNotifyEvent FSaveFormDestroy;
    std::unique_ptr<TCustomIniFile> FStorage;
    std::unique_ptr<TWindowHook> FWinHook;
};

class TFormStorage;

// A named value kept with the form; with KeyString it is stored XOR-encoded.
class TStoredValue : public TCollectionItem {
public:
    explicit TStoredValue(TCollection* collection) : TCollectionItem(collection) {}
    const std::string& Name() const { return FName; }
    // Raises EStringListError when another item has the name (without regard to case).
    void SetName(const std::string& name);
    Variant Value;
    std::string KeyString;
    std::function<void(TStoredValue& sender, Variant& value)> OnSave;
    std::function<void(TStoredValue& sender, Variant& value)> OnRestore;
    std::string DisplayName() const;
    void Write();
    void Read();

private:
    TFormStorage* Storage() const;
    std::string FName;
};

class TStoredValues : public TCollection {
public:
    explicit TStoredValues(TFormStorage* storage);
    TFormStorage* Storage() const { return FStorage; }
    TStoredValue* Add() { return static_cast<TStoredValue*>(TCollection::Add()); }
    TStoredValue* Item(int index) const {
        return static_cast<TStoredValue*>(TCollection::Item(index));
    }
    int IndexOf(const std::string& name) const; // -1 when absent
    void WriteAll();
    void ReadAll();

private:
    TFormStorage* FStorage;
};

class TFormStorage : public TFormPlacement {
public:
    explicit TFormStorage(TComponent* owner = nullptr);
    ~TFormStorage() override;

    const TStoredList& StoredProps() const { return FStoredProps; }
    // Items "Component.Property", each with its component (looked up on the
    // owner when loaded); the components' removal drops their items.
    void SetStoredProps(TStoredList list);
    TStoredValues& StoredValues() { return FStoredValues; }

    void Loaded() override;
    void Notification(TComponent* component, TOperation operation) override;
    // In a form resource: the stored properties (named after their components'
    // current names; items without a component are dropped first) and values.
    void DefineProperties(TFiler& filer) override;
    // The storage is opened around the call when no save or restore runs.
    void WriteStoredProps();
    void ReadStoredProps();

protected:
    void WritePlacement() override;
    void ReadPlacement() override;

private:
    void ConnectProps(TPropsStorage& props);
    TStoredList FStoredProps;
    TStoredValues FStoredValues{this};
};

} // namespace nuq
