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

} // namespace

void RegisterClassInfo(std::type_index type, std::string className,
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
                                TClassInfo{std::move(className), parent, std::move(props)}));
}

const TClassInfo* FindClassInfo(std::type_index type) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Classes.find(type);
    return it == r.Classes.end() ? nullptr : it->second.get();
}

std::vector<const TPropInfo*> GetPropInfos(const TPersistent& object) {
    std::vector<const TClassInfo*> chain;
    for (const TClassInfo* c = FindClassInfo(typeid(object)); c;
         c = c->Parent ? FindClassInfo(*c->Parent) : nullptr)
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

int TCollectionItem::Index() const {
    if (!FCollection) return -1;
    for (int i = 0; i < FCollection->Count(); ++i)
        if (FCollection->Item(i) == this) return i;
    return -1;
}

TCollectionItem* TCollection::Add() {
    FItems.push_back(FFactory(this));
    return FItems.back().get();
}

} // namespace nuq
