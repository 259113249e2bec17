#include "foundation/uClasses.h"

namespace nuq {

tVarItem* tVarList::Add(std::string name, Variant value) {
    List.push_back(std::make_unique<tVarItem>(std::move(name), std::move(value)));
    return List.back().get();
}

tVarItem* tVarList::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    return List[size_t(index)].get();
}

void tVarList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    List.erase(List.begin() + index);
}

void tVarList::Clear() {
    while (Count() > 0) Delete(0);
}

tVarItem* tVarList::FindByName(const std::string& name) const {
    for (const auto& item : List)
        if (item->Name == name) return item.get();
    return nullptr;
}

} // namespace nuq
