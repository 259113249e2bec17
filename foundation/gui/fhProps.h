#pragma once
// Published properties as named text values and back. The storage touches no
// file itself: it reads, writes and erases sections through the three events
// its user connects to an ini file or the registry store.
//
// Value texts: integers in decimal; a character as itself; an enumeration
// by its identifier; floating point in general format with "." as the
// separator; a set as "[a,c]"; strings as they are; a component reference as
// its name, "Owner.Name" when another owner has it, or "(null)". A string
// list goes to a section of its own ("Count", "Item0" ...), a collection's
// items to one ("Item0_Width" ...) with their number beside the property in
// the main section, and another object's properties under the prefix of
// the property's name.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/TypInfo.h"

namespace nuq {

// The published properties of one object, without unknown and method kinds.
class TPropInfoList {
public:
    explicit TPropInfoList(const TPersistent& object);
    int Count() const { return int(FList.size()); }
    const TPropInfo* Item(int index) const { return FList.at(size_t(index)); }
    // Compared without regard to case; null when absent.
    const TPropInfo* Find(const std::string& name) const;
    void Delete(int index) { FList.erase(FList.begin() + index); }

private:
    std::vector<const TPropInfo*> FList;
};

// One "Component.Property" item of a stored-properties list, with its component.
struct TStoredItem {
    std::string Text;
    TComponent* Component = nullptr;
};
using TStoredList = std::vector<TStoredItem>;

// Splits "Component.Property" (both parts trimmed); false unless both are there.
bool ParseStoredItem(const std::string& item, std::string& component, std::string& property);

class TPropsStorage {
public:
    virtual ~TPropsStorage() = default;

    TPersistent* Target = nullptr;
    TComponent* Owner = nullptr;
    std::string Prefix;
    std::string Section;
    std::function<std::string(const std::string& section, const std::string& item,
                              const std::string& def)>
        OnReadValue;
    std::function<void(const std::string& section, const std::string& item,
                       const std::string& value)>
        OnWriteValue;
    std::function<void(const std::string& section)> OnClearSection;

    void SaveListedProperties(const std::vector<std::string>& names);
    void LoadListedProperties(const std::vector<std::string>& names);
    // Each item's property of its component, under the prefix "Component_".
    void SaveComponentProperties(TComponent* owner, const TStoredList& list);
    void LoadComponentProperties(TComponent* owner, const TStoredList& list);

    void StoreAnyProperty(const TPropInfo& prop);
    void LoadAnyProperty(const TPropInfo& prop);

protected:
    virtual std::string ReadValue(const std::string& section, const std::string& item,
                                  const std::string& def);
    virtual void WriteValue(const std::string& section, const std::string& item,
                            const std::string& value);
    virtual void ClearSection(const std::string& section);
    virtual std::string ItemName(const std::string& name) const { return Prefix + name; }
    virtual std::unique_ptr<TPropsStorage> CreateNested() {
        return std::make_unique<TPropsStorage>();
    }

private:
    std::string PropertyText(const TPropInfo& prop);
    void SetPropertyText(const TPropInfo& prop, const std::string& text);
    void StoreObjectProperties(TPersistent& object, const std::string& prefix);
    void LoadObjectProperties(TPersistent& object, const std::string& prefix);
    void StoreStrings(const TPropInfo& prop, TStringList& list);
    void LoadStrings(const TPropInfo& prop, TStringList& list);
    void StoreCollection(const TPropInfo& prop, TCollection& collection);
    void LoadCollection(const TPropInfo& prop, TCollection& collection);
    bool HasValue(const std::string& section, const std::string& item);
};

// Drops items that are not "Component.Property" (from the last to the
// first). FromForm: attaches the owner's component of each item's name and
// drops items whose component is not there; otherwise renames each item
// after its component's current name and drops items without one.
void SyncStoredList(TComponent* owner, TStoredList& list, bool fromForm);

} // namespace nuq
