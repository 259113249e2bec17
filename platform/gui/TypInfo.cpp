#include "platform/gui/TypInfo.h"

#include "platform/SysUtils.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>

#include <map>
#include <mutex>

namespace nuq {

namespace {

struct TRegistry {
    std::mutex Lock;
    std::map<std::type_index, std::unique_ptr<TClassInfo>> Classes;
    std::vector<std::unique_ptr<TClassInfo>> Retired;
};

TRegistry& Registry() {
    static auto* r = new TRegistry;
    return *r;
}

// An unregistered class is named as the compiler names it, without namespaces.
std::string PlainTypeName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

// The class's base through the compiler's type information: the first
// public one (the system's classes inherit singly); null for a root class.
const std::type_info* BaseOf(const std::type_info& type) {
    if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(&type)) return si->__base_type;
    if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(&type))
        for (unsigned i = 0; i < vmi->__base_count; ++i)
            if (vmi->__base_info[i].__offset_flags & abi::__base_class_type_info::__public_mask)
                return vmi->__base_info[i].__base_type;
    return nullptr;
}

// The declaration of the class, else of its nearest declared base.
const TClassInfo* NearestClassInfo(const std::type_info* type) {
    for (; type; type = BaseOf(*type))
        if (const TClassInfo* c = FindClassInfo(*type)) return c;
    return nullptr;
}

const TClassInfo* ParentClassInfo(const TClassInfo& c) {
    if (c.Parent) return FindClassInfo(*c.Parent);
    return c.Type ? NearestClassInfo(BaseOf(*c.Type)) : nullptr;
}

} // namespace

void RegisterClassInfo(const std::type_info& type, std::string className,
                       std::optional<std::type_index> parent, std::vector<TPropInfo> props) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Classes.find(type);
    if (it != r.Classes.end()) {
        // Lists taken from the old declaration may still be in use: it is kept.
        r.Retired.push_back(std::move(it->second));
        r.Classes.erase(it);
    }
    r.Classes.emplace(type, std::make_unique<TClassInfo>(
                                TClassInfo{std::move(className), &type, parent, std::move(props)}));
}

const TClassInfo* FindClassInfo(std::type_index type) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Classes.find(type);
    return it == r.Classes.end() ? nullptr : it->second.get();
}

std::vector<const TPropInfo*> GetPropInfos(const TPersistent& object) {
    std::vector<const TClassInfo*> chain;
    for (const TClassInfo* c = NearestClassInfo(&typeid(object)); c; c = ParentClassInfo(*c))
        chain.insert(chain.begin(), c);
    std::vector<const TPropInfo*> props;
    for (const TClassInfo* c : chain)
        for (const TPropInfo& p : c->Props) {
            // A descendant's declaration of the same name replaces the ancestor's.
            auto same = std::find_if(props.begin(), props.end(), [&](const TPropInfo* q) {
                return UpperCase(q->Name) == UpperCase(p.Name);
            });
            if (same != props.end())
                *same = &p;
            else
                props.push_back(&p);
        }
    return props;
}

std::string TPersistent::ClassName() const {
    if (const TClassInfo* c = FindClassInfo(typeid(*this))) return c->ClassName;
    return PlainTypeName(typeid(*this));
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    const std::string wanted = UpperCase(name);
    for (TComponent* c : FComponents)
        if (UpperCase(c->Name) == wanted) return c;
    return nullptr;
}

void TCollectionItem::Assign(const TCollectionItem& source) {
    throw EConvertError("Нельзя присвоить " + source.ClassName() + " объекту " + ClassName());
}

void TCollectionItem::Changed(bool allItems) {
    if (FCollection && FCollection->FUpdateCount == 0)
        FCollection->Update(allItems ? nullptr : this);
}

void TCollectionItem::SetCollection(TCollection* value) {
    if (value == FCollection) return;
    // The collection owns its items: an item only moves from one collection to another.
    if (!value || !FCollection)
        throw EListError("Элемент переходит только из одного набора в другой");
    TCollection* old = FCollection;
    old->Notify(*this, cnExtracting);
    std::unique_ptr<TCollectionItem> self = old->ExtractItem(FIndex);
    old->Changed();
    value->InsertItem(std::move(self));
}

void TCollectionItem::SetIndex(int value) {
    if (!FCollection || value == FIndex || value < 0 || value >= FCollection->Count()) return;
    auto& items = FCollection->FItems;
    auto from = items.begin() + FIndex, to = items.begin() + value;
    if (FIndex < value)
        std::rotate(from, from + 1, to + 1);
    else
        std::rotate(to, from, from + 1);
    FCollection->Renumber(std::min(FIndex, value));
    Changed(true);
}

void TCollectionItem::SetDisplayName(const std::string&) {
    Changed(true);
}

TCollection::~TCollection() {
    FreeItems();
}

void TCollection::Renumber(int from) {
    for (size_t i = size_t(std::max(from, 0)); i < FItems.size(); ++i) FItems[i]->FIndex = int(i);
}

void TCollection::InsertItem(std::unique_ptr<TCollectionItem> item) {
    TCollectionItem& joined = *item;
    joined.FCollection = this;
    joined.FIndex = Count();
    FItems.push_back(std::move(item));
    Notify(joined, cnAdded);
    Changed();
    SetItemName(joined);
}

std::unique_ptr<TCollectionItem> TCollection::ExtractItem(int index) {
    std::unique_ptr<TCollectionItem> item = std::move(FItems.at(size_t(index)));
    FItems.erase(FItems.begin() + index);
    Renumber(index);
    item->FCollection = nullptr;
    return item;
}

void TCollection::DestroyItem(int index) {
    // The item still holds its place while its destructor runs: it may ask for its index.
    std::unique_ptr<TCollectionItem> doomed = std::move(FItems.at(size_t(index)));
    doomed.reset();
    FItems.erase(FItems.begin() + index);
    Renumber(index);
}

TCollectionItem* TCollection::Add() {
    InsertItem(FFactory(this));
    return FItems.back().get();
}

void TCollection::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("Индекс списка вне диапазона (" + std::to_string(index) + ")");
    Notify(*FItems[size_t(index)], cnDeleting);
    DestroyItem(index);
    Changed();
}

void TCollection::FreeItems() {
    while (!FItems.empty()) DestroyItem(Count() - 1);
}

void TCollection::Clear() {
    if (FItems.empty()) return;
    BeginUpdate();
    FreeItems();
    EndUpdate();
}

void TCollection::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Changed() {
    if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Notify(TCollectionItem& item, TCollectionNotification action) {
    if (action == cnAdded)
        Added(item);
    else if (action == cnDeleting)
        Deleting(item);
}

void TCollection::Assign(const TCollection& source) {
    BeginUpdate();
    struct EndGuard {
        TCollection& C;
        ~EndGuard() { C.EndUpdate(); }
    } guard{*this};
    Clear();
    for (int i = 0; i < source.Count(); ++i) Add()->Assign(*source.Item(i));
}

} // namespace nuq
