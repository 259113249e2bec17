#pragma once
// Published properties: each class that wants its properties stored declares
// them here once, with their kinds, getters and setters; enumerations and
// sets carry their identifiers. Lookups walk from a class to its registered
// ancestors (the parent it was declared with, else its nearest registered
// base class), so a form class inherits what its base publishes and a class
// that declares nothing has its bases' properties.
//
// Also the two persistent containers whose contents are stored as sections
// of their own: the string list and the collection.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <typeindex>
#include <vector>

#include "platform/Variant.h"
#include "platform/gui/Classes.h"

namespace nuq {

enum TTypeKind {
    tkUnknown,
    tkInteger,
    tkChar,
    tkEnumeration,
    tkFloat,
    tkString,
    tkSet,
    tkClass,
    tkMethod,
    tkWChar,
    tkLString,
    tkWString,
    tkVariant,
    tkInt64,
};
enum TFloatType { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

struct TPropInfo {
    std::string Name;
    TTypeKind Kind = tkUnknown;
    TFloatType FloatType = ftDouble;
    std::vector<std::string> Identifiers; // enumeration values, set members
    // Ordinal kinds (integer, 64-bit, character, enumeration, set as a bit mask).
    std::function<int64_t(TPersistent&)> GetOrd;
    std::function<void(TPersistent&, int64_t)> SetOrd;
    std::function<double(TPersistent&)> GetFloat;
    std::function<void(TPersistent&, double)> SetFloat;
    std::function<std::string(TPersistent&)> GetStr; // string kinds; a wide character as UTF-8
    std::function<void(TPersistent&, const std::string&)> SetStr;
    std::function<Variant(TPersistent&)> GetVariant;
    std::function<void(TPersistent&, const Variant&)> SetVariant;
    bool IsComponentRef = false; // a class property naming a component rather than owning an object
    std::function<TPersistent*(TPersistent&)> GetObject; // class kind
    std::function<void(TPersistent&, TPersistent*)> SetObject;
    // What a form resource leaves out: an ordinal property at its default
    // (none: always written), an empty string, a property Stored declines.
    std::optional<int64_t> Default;
    std::function<bool(TPersistent&)> Stored;
};

struct TClassInfo {
    std::string ClassName;
    const std::type_info* Type = nullptr;
    std::optional<std::type_index> Parent;
    std::vector<TPropInfo> Props;
};

// Declares the class with its published properties (replacing an earlier declaration).
void RegisterClassInfo(const std::type_info& type, std::string className,
                       std::optional<std::type_index> parent, std::vector<TPropInfo> props);
const TClassInfo* FindClassInfo(std::type_index type);
// The published properties of the object's class, ancestors' first.
std::vector<const TPropInfo*> GetPropInfos(const TPersistent& object);

// Builds the descriptors of class T with typed getters and setters.
template <class T> class TPublisher {
public:
    TPublisher& Ordinal(std::string name, TTypeKind kind, std::function<int64_t(T&)> get,
                        std::function<void(T&, int64_t)> set, std::vector<std::string> ids = {}) {
        TPropInfo& p = Add(std::move(name), kind);
        p.Identifiers = std::move(ids);
        p.GetOrd = [get](TPersistent& o) { return get(static_cast<T&>(o)); };
        p.SetOrd = [set](TPersistent& o, int64_t v) { set(static_cast<T&>(o), v); };
        return *this;
    }
    TPublisher& Integer(std::string name, std::function<int64_t(T&)> get,
                        std::function<void(T&, int64_t)> set) {
        return Ordinal(std::move(name), tkInteger, std::move(get), std::move(set));
    }
    TPublisher& Float(std::string name, TFloatType type, std::function<double(T&)> get,
                      std::function<void(T&, double)> set) {
        TPropInfo& p = Add(std::move(name), tkFloat);
        p.FloatType = type;
        p.GetFloat = [get](TPersistent& o) { return get(static_cast<T&>(o)); };
        p.SetFloat = [set](TPersistent& o, double v) { set(static_cast<T&>(o), v); };
        return *this;
    }
    TPublisher& String(std::string name, std::function<std::string(T&)> get,
                       std::function<void(T&, const std::string&)> set,
                       TTypeKind kind = tkLString) {
        TPropInfo& p = Add(std::move(name), kind);
        p.GetStr = [get](TPersistent& o) { return get(static_cast<T&>(o)); };
        p.SetStr = [set](TPersistent& o, const std::string& v) { set(static_cast<T&>(o), v); };
        return *this;
    }
    TPublisher& VariantProp(std::string name, std::function<Variant(T&)> get,
                            std::function<void(T&, const Variant&)> set) {
        TPropInfo& p = Add(std::move(name), tkVariant);
        p.GetVariant = [get](TPersistent& o) { return get(static_cast<T&>(o)); };
        p.SetVariant = [set](TPersistent& o, const Variant& v) { set(static_cast<T&>(o), v); };
        return *this;
    }
    // An object property; Set may be empty for an owned object that is only read into.
    TPublisher& Object(std::string name, std::function<TPersistent*(T&)> get,
                       std::function<void(T&, TPersistent*)> set = {}) {
        TPropInfo& p = Add(std::move(name), tkClass);
        p.GetObject = [get](TPersistent& o) { return get(static_cast<T&>(o)); };
        if (set)
            p.SetObject = [set](TPersistent& o, TPersistent* v) { set(static_cast<T&>(o), v); };
        return *this;
    }
    // A reference to a component that someone else owns.
    TPublisher& ComponentRef(std::string name, std::function<TComponent*(T&)> get,
                             std::function<void(T&, TComponent*)> set) {
        TPropInfo& p = Add(std::move(name), tkClass);
        p.IsComponentRef = true;
        p.GetObject = [get](TPersistent& o) -> TPersistent* { return get(static_cast<T&>(o)); };
        p.SetObject = [set](TPersistent& o, TPersistent* v) {
            set(static_cast<T&>(o), dynamic_cast<TComponent*>(v));
        };
        return *this;
    }
    // The last property's default and its stored condition.
    TPublisher& Default(int64_t value) {
        Props.back().Default = value;
        return *this;
    }
    TPublisher& Stored(std::function<bool(T&)> stored) {
        Props.back().Stored = [stored](TPersistent& o) { return stored(static_cast<T&>(o)); };
        return *this;
    }
    TPublisher& Method(std::string name) {
        Add(std::move(name), tkMethod);
        return *this;
    }
    std::vector<TPropInfo> Props;

private:
    TPropInfo& Add(std::string name, TTypeKind kind) {
        Props.push_back({});
        Props.back().Name = std::move(name);
        Props.back().Kind = kind;
        return Props.back();
    }
};

template <class T, class Parent = void>
void RegisterClass(std::string className, TPublisher<T> publisher = {}) {
    std::optional<std::type_index> parent;
    if constexpr (!std::is_void_v<Parent>) parent = std::type_index(typeid(Parent));
    RegisterClassInfo(typeid(T), std::move(className), parent, std::move(publisher.Props));
}

// A name that a list of unique names already holds.
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// A list of text lines.
class TStringList : public TPersistent {
public:
    std::vector<std::string> Lines;
    int Count() const { return int(Lines.size()); }
    void Assign(const TStringList& other) { Lines = other.Lines; }
};

class TCollection;

enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

// An item of a collection. The collection owns it; its index is its place there.
class TCollectionItem : public TPersistent {
public:
    explicit TCollectionItem(TCollection* collection) : FCollection(collection) {}
    TCollectionItem(const TCollectionItem&) = delete;
    TCollectionItem& operator=(const TCollectionItem&) = delete;
    TCollection* Collection() const { return FCollection; }
    int Index() const { return FCollection ? FIndex : -1; }
    // An item copies only what it knows; anything else is refused.
    virtual void Assign(const TCollectionItem& source);
    virtual std::string GetDisplayName() const { return ClassName(); }
    // Moves the item to the end of another collection; it cannot be left without one.
    virtual void SetCollection(TCollection* value);
    // Moves the item to another place in its collection; out-of-range places are ignored.
    virtual void SetIndex(int value);
    // The name is the item's own to answer; setting it only tells the collection.
    virtual void SetDisplayName(const std::string& value);

protected:
    // Tells the collection of a change of this item, or of all of them.
    void Changed(bool allItems);

private:
    friend class TCollection;
    TCollection* FCollection;
    int FIndex = -1;
};

// An owning list of items of one class; Add makes an item of that class.
class TCollection : public TPersistent {
public:
    using TItemFactory = std::function<std::unique_ptr<TCollectionItem>(TCollection*)>;
    explicit TCollection(TItemFactory factory) : FFactory(std::move(factory)) {}
    ~TCollection() override;
    TCollection(const TCollection&) = delete;
    TCollection& operator=(const TCollection&) = delete;
    int Count() const { return int(FItems.size()); }
    TCollectionItem* Item(int index) const { return FItems.at(size_t(index)).get(); }
    TCollectionItem* Add();
    void Clear();
    void Delete(int index);
    // Replaces the items by copies of the source's.
    virtual void Assign(const TCollection& source);
    virtual void BeginUpdate() { ++FUpdateCount; }
    // The last end of an update tells of a change of the whole collection.
    virtual void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

protected:
    // An item joined, is leaving for another collection or is about to be
    // destroyed; Notify hands on to the hooks.
    virtual void Added(TCollectionItem& item) { (void)item; }
    virtual void Deleting(TCollectionItem& item) { (void)item; }
    virtual void Notify(TCollectionItem& item, TCollectionNotification action);
    // An item has joined; a collection that names its items does it here.
    virtual void SetItemName(TCollectionItem& item) { (void)item; }
    // A change of one item, or of the whole collection (null), outside updates.
    virtual void Update(TCollectionItem* item) { (void)item; }
    void Changed();
    // Destroys the items without telling anyone, as a collection being destroyed does.
    void FreeItems();

private:
    friend class TCollectionItem;
    void InsertItem(std::unique_ptr<TCollectionItem> item);
    std::unique_ptr<TCollectionItem> ExtractItem(int index);
    void DestroyItem(int index);
    void Renumber(int from);

    TItemFactory FFactory;
    std::vector<std::unique_ptr<TCollectionItem>> FItems;
    int FUpdateCount = 0;
};

} // namespace nuq
