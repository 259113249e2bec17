#pragma once
// The named values the host gives the module, the module's own description,
// and the numbers of the module's two cursors.

#include <memory>
#include <string>
#include <vector>

#include "platform/Variant.h"

namespace nuq {

// One named value.
class tVarItem {
public:
    tVarItem() = default;
    tVarItem(std::string name, Variant value) : Name(std::move(name)), Value(std::move(value)) {}
    std::string Name;
    Variant Value;
};

// The list owns its items.
class tVarList {
public:
    tVarItem* Add(std::string name, Variant value);
    int Count() const { return int(List.size()); }
    tVarItem* Items(int index) const; // EListError outside the list
    void Delete(int index);           // frees the item
    void Clear();
    // The first item whose name equals Name exactly (case counts), else nullptr.
    tVarItem* FindByName(const std::string& name) const;

private:
    std::vector<std::unique_ptr<tVarItem>> List;
};

// What the module reports about itself.
struct tModuleAboutInfo {
    std::string ModuleName;
    std::string Version;
    std::string Company;
};

// The hand and the drag cursor, by the numbers the forms use and the names of
// their resources. The window layer's screen draws both at start under these
// numbers (Screen().Cursor(crFHHandCur)); foundation itself needs no windows,
// so it keeps only the numbers and the names.
inline constexpr int crFHHandCur = 14000;
inline constexpr int crFHDragCur = 14001;
inline constexpr const char* FHHandCurResource = "FH_HANDCUR";
inline constexpr const char* FHDragCurResource = "FH_DRAGCUR";

} // namespace nuq
