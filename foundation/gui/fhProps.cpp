#include "foundation/gui/fhProps.h"

#include "foundation/fhStrUtils.h"
#include "platform/Cp1251.h"
#include "platform/ScopeGuard.h"
#include "platform/SysUtils.h"
#include "platform/gui/Forms.h"

#include <charconv>
#include <cstdio>

namespace nuq {

namespace {

const char* const kNull = "(null)";
// What a read returns for a key that is not there (no stored text holds it).
const std::string kMissing("\x01\x02missing\x02\x01");

bool IsStringKind(TTypeKind k) {
    return k == tkString || k == tkLString || k == tkWString;
}

// General format as the runtime's: the shortest of fixed and scientific for
// that many significant digits, an exponent without "+" or leading zeros.
std::string FloatText(double v, TFloatType type) {
    int digits = type == ftSingle ? 7 : type == ftDouble ? 15 : type == ftCurr ? 19 : 18;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, v);
    std::string s = buf;
    size_t e = s.find('E');
    if (e == std::string::npos) return s;
    std::string mant = s.substr(0, e), exp = s.substr(e + 1);
    bool negative = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    return mant + "E" + (negative ? "-" : "") + exp;
}

std::string OrdToChar(const TPropInfo& prop, int64_t v) {
    if (v == 0) return "";
    if (prop.Kind == tkChar) return Cp1251ToUtf8(std::string(1, char(uint8_t(v))));
    std::string out;
    AppendUtf8Char(out, uint32_t(v));
    return out;
}

std::string SetText(const TPropInfo& prop, int64_t v) {
    std::string s = "[";
    bool first = true;
    for (size_t i = 0; i < prop.Identifiers.size() && i < 32; ++i)
        if (v & (int64_t(1) << i)) {
            if (!first) s += ",";
            s += prop.Identifiers[i];
            first = false;
        }
    return s + "]";
}

int FindIdentifier(const TPropInfo& prop, const std::string& text) {
    const std::string wanted = UpperCase(text);
    for (size_t i = 0; i < prop.Identifiers.size(); ++i)
        if (UpperCase(prop.Identifiers[i]) == wanted) return int(i);
    return -1;
}

TComponent* FindOwnerComponent(const std::string& ownerName, const std::string& name) {
    const std::string wanted = UpperCase(ownerName);
    for (TForm* f : ScreenForms())
        if (!f->Name.empty() && UpperCase(f->Name) == wanted) return f->FindComponent(name);
    return nullptr;
}

std::string ComponentText(TComponent* c, TComponent* storageOwner) {
    if (!c) return kNull;
    TComponent* owner = c->Owner();
    if (!owner || owner == storageOwner) return c->Name;
    std::string ownerName = owner->Name;
    if (ownerName.empty()) {
        ownerName = owner->ClassName();
        if (!ownerName.empty() && ownerName[0] == 'T') ownerName.erase(0, 1);
    }
    return ownerName + "." + c->Name;
}

} // namespace

TPropInfoList::TPropInfoList(const TPersistent& object) {
    for (const TPropInfo* p : GetPropInfos(object))
        if (p->Kind != tkUnknown && p->Kind != tkMethod) FList.push_back(p);
}

const TPropInfo* TPropInfoList::Find(const std::string& name) const {
    const std::string wanted = UpperCase(name);
    for (const TPropInfo* p : FList)
        if (UpperCase(p->Name) == wanted) return p;
    return nullptr;
}

bool ParseStoredItem(const std::string& item, std::string& component, std::string& property) {
    size_t dot = item.find('.');
    if (dot == std::string::npos) return false;
    component = Trim(item.substr(0, dot));
    property = Trim(item.substr(dot + 1));
    return !component.empty() && !property.empty();
}

std::string TPropsStorage::ReadValue(const std::string& section, const std::string& item,
                                     const std::string& def) {
    return OnReadValue ? OnReadValue(section, item, def) : std::string();
}

void TPropsStorage::WriteValue(const std::string& section, const std::string& item,
                               const std::string& value) {
    if (OnWriteValue) OnWriteValue(section, item, value);
}

void TPropsStorage::ClearSection(const std::string& section) {
    if (OnClearSection) OnClearSection(section);
}

bool TPropsStorage::HasValue(const std::string& section, const std::string& item) {
    return OnReadValue && ReadValue(section, item, kMissing) != kMissing;
}

std::string TPropsStorage::PropertyText(const TPropInfo& prop) {
    TPersistent& t = *Target;
    switch (prop.Kind) {
    case tkInteger:
    case tkInt64:
        return std::to_string(prop.GetOrd(t));
    case tkChar:
    case tkWChar:
        return OrdToChar(prop, prop.GetOrd(t));
    case tkEnumeration: {
        int64_t v = prop.GetOrd(t);
        return v >= 0 && size_t(v) < prop.Identifiers.size() ? prop.Identifiers[size_t(v)]
                                                             : std::to_string(v);
    }
    case tkFloat:
        return FloatText(prop.GetFloat(t), prop.FloatType);
    case tkSet:
        return SetText(prop, prop.GetOrd(t));
    case tkString:
    case tkLString:
    case tkWString:
        return prop.GetStr(t);
    case tkVariant:
        return prop.GetVariant(t).AsString();
    case tkClass:
        if (prop.IsComponentRef)
            return ComponentText(dynamic_cast<TComponent*>(prop.GetObject(t)), Owner);
        return "";
    default:
        return "";
    }
}

void TPropsStorage::SetPropertyText(const TPropInfo& prop, const std::string& text) {
    TPersistent& t = *Target;
    switch (prop.Kind) {
    case tkInteger:
    case tkInt64: {
        // The runtime's integer rules (hexadecimal after "$" included) for
        // 32 bits; plain decimal beyond.
        int64_t v = StrToIntDef(text, 0);
        if (prop.Kind == tkInt64 && v == 0) {
            std::string_view digits = text;
            if (digits.starts_with('+')) digits.remove_prefix(1);
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
            if (ec != std::errc() || end != digits.data() + digits.size()) v = 0;
        }
        prop.SetOrd(t, v);
        return;
    }
    case tkChar:
    case tkWChar: {
        if (text.empty()) return; // no first character: the property keeps its value
        uint32_t cp = 0;
        DecodeUtf8Char(text, 0, cp);
        if (prop.Kind == tkChar) {
            std::string first;
            AppendUtf8Char(first, cp);
            std::string b = Utf8ToCp1251(first);
            prop.SetOrd(t, b.empty() ? 0 : uint8_t(b[0]));
        } else {
            prop.SetOrd(t, cp);
        }
        return;
    }
    case tkEnumeration: {
        int i = FindIdentifier(prop, text);
        if (i >= 0) prop.SetOrd(t, i);
        return;
    }
    case tkFloat: {
        double v = 0;
        if (!TryStrToFloat(text, v)) v = 0;
        prop.SetFloat(t, v);
        return;
    }
    case tkSet: {
        int64_t v = 0;
        const TCharSet separators{' ', ',', '[', ']'};
        for (int n = 1, count = WordCount(text, separators); n <= count; ++n) {
            int i = FindIdentifier(prop, ExtractWord(n, text, separators));
            if (i >= 0 && i < 32) v |= int64_t(1) << i;
        }
        prop.SetOrd(t, v);
        return;
    }
    case tkString:
    case tkLString:
    case tkWString:
        prop.SetStr(t, text);
        return;
    case tkVariant:
        prop.SetVariant(t, Variant(text));
        return;
    case tkClass: {
        if (!prop.IsComponentRef || !prop.SetObject) return;
        if (UpperCase(text) == UpperCase(kNull)) {
            prop.SetObject(t, nullptr);
            return;
        }
        TComponent* found = nullptr;
        size_t dot = text.find('.');
        if (dot != std::string::npos)
            found = FindOwnerComponent(text.substr(0, dot), text.substr(dot + 1));
        else if (Owner)
            found = Owner->FindComponent(text);
        if (found) prop.SetObject(t, found);
        return;
    }
    default:
        return;
    }
}

void TPropsStorage::StoreAnyProperty(const TPropInfo& prop) {
    if (!Target) return;
    if (prop.Kind == tkClass && !prop.IsComponentRef) {
        TPersistent* obj = prop.GetObject ? prop.GetObject(*Target) : nullptr;
        if (auto* list = dynamic_cast<TStringList*>(obj))
            StoreStrings(prop, *list);
        else if (auto* coll = dynamic_cast<TCollection*>(obj))
            StoreCollection(prop, *coll);
        else if (obj)
            StoreObjectProperties(*obj, ItemName(prop.Name));
        return;
    }
    const std::string text = PropertyText(prop);
    if (!text.empty() || IsStringKind(prop.Kind) || prop.Kind == tkWChar)
        WriteValue(Section, ItemName(prop.Name), Trim(text));
}

void TPropsStorage::LoadAnyProperty(const TPropInfo& prop) {
    if (!Target) return;
    if (prop.Kind == tkClass && !prop.IsComponentRef) {
        TPersistent* obj = prop.GetObject ? prop.GetObject(*Target) : nullptr;
        if (auto* list = dynamic_cast<TStringList*>(obj))
            LoadStrings(prop, *list);
        else if (auto* coll = dynamic_cast<TCollection*>(obj))
            LoadCollection(prop, *coll);
        else if (obj)
            LoadObjectProperties(*obj, ItemName(prop.Name));
        return;
    }
    std::string def = prop.Kind == tkClass ? std::string() : PropertyText(prop);
    if (def.empty() && !IsStringKind(prop.Kind) && prop.Kind != tkClass && prop.Kind != tkWChar) {
        SetPropertyText(prop, def);
        return;
    }
    SetPropertyText(prop, Trim(ReadValue(Section, ItemName(prop.Name), def)));
}

void TPropsStorage::StoreObjectProperties(TPersistent& object, const std::string& prefix) {
    auto nested = CreateNested();
    nested->Target = &object;
    nested->Owner = Owner;
    nested->Prefix = prefix;
    nested->Section = Section;
    nested->OnReadValue = OnReadValue;
    nested->OnWriteValue = OnWriteValue;
    nested->OnClearSection = OnClearSection;
    TPropInfoList props(object);
    for (int i = 0; i < props.Count(); ++i) nested->StoreAnyProperty(*props.Item(i));
}

void TPropsStorage::LoadObjectProperties(TPersistent& object, const std::string& prefix) {
    auto nested = CreateNested();
    nested->Target = &object;
    nested->Owner = Owner;
    nested->Prefix = prefix;
    nested->Section = Section;
    nested->OnReadValue = OnReadValue;
    nested->OnWriteValue = OnWriteValue;
    nested->OnClearSection = OnClearSection;
    TPropInfoList props(object);
    for (int i = 0; i < props.Count(); ++i) nested->LoadAnyProperty(*props.Item(i));
}

void TPropsStorage::StoreStrings(const TPropInfo& prop, TStringList& list) {
    const std::string sect = Section + "." + ItemName(prop.Name);
    ClearSection(sect);
    if (list.Count() == 0) return;
    WriteValue(sect, "Count", std::to_string(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        WriteValue(sect, "Item" + std::to_string(i), list.Lines[size_t(i)]);
}

void TPropsStorage::LoadStrings(const TPropInfo& prop, TStringList& list) {
    const std::string sect = Section + "." + ItemName(prop.Name);
    const int count = StrToIntDef(ReadValue(sect, "Count", "0"), 0);
    if (count <= 0) return;
    // A missing line reads as empty. A count far beyond the lines the
    // section holds (a damaged file) is not run to its end: a long run of
    // missing lines ends the list at the last line held.
    constexpr int MissingRunLimit = 4096;
    std::vector<std::string> lines;
    size_t held = 0;
    for (int i = 0; i < count; ++i) {
        const std::string key = "Item" + std::to_string(i);
        if (HasValue(sect, key)) {
            lines.resize(size_t(i));
            lines.push_back(ReadValue(sect, key, ""));
            held = lines.size();
        } else if (size_t(i) - held >= size_t(MissingRunLimit)) {
            break;
        }
    }
    if (lines.size() < size_t(count) && size_t(count) - held <= size_t(MissingRunLimit))
        lines.resize(size_t(count));
    list.Lines = std::move(lines);
}

namespace {

// The storage of a collection's items: the owner's, in the collection's own section.
TPropsStorage ItemStorage(const TPropsStorage& owner, const std::string& section) {
    TPropsStorage items;
    items.Owner = owner.Owner;
    items.Section = section;
    items.OnReadValue = owner.OnReadValue;
    items.OnWriteValue = owner.OnWriteValue;
    items.OnClearSection = owner.OnClearSection;
    return items;
}

} // namespace

void TPropsStorage::StoreCollection(const TPropInfo& prop, TCollection& collection) {
    const std::string sect = Section + "." + ItemName(prop.Name);
    ClearSection(sect);
    WriteValue(Section, ItemName(prop.Name) + ".Count", std::to_string(collection.Count()));
    TPropsStorage items = ItemStorage(*this, sect);
    for (int i = 0; i < collection.Count(); ++i)
        items.StoreObjectProperties(*collection.Item(i), "Item" + std::to_string(i) + "_");
}

void TPropsStorage::LoadCollection(const TPropInfo& prop, TCollection& collection) {
    const std::string sect = Section + "." + ItemName(prop.Name);
    int count = StrToIntDef(
        ReadValue(Section, ItemName(prop.Name) + ".Count", std::to_string(collection.Count())),
        collection.Count());
    if (count < 0) count = 0;
    // A damaged count grows the collection only by the items the section
    // holds: an item counts while any of its properties is stored.
    if (count > collection.Count()) {
        const int current = collection.Count();
        TCollectionItem* model =
            current > 0 ? collection.Item(0) : collection.Add(); // an empty one is probed
        TPropInfoList props(*model);
        if (current == 0) collection.Delete(0);
        int held = 0;
        for (; held < count; ++held) {
            bool any = false;
            for (int p = 0; p < props.Count() && !any; ++p)
                any = HasValue(sect, "Item" + std::to_string(held) + "_" + props.Item(p)->Name);
            if (!any) break;
        }
        count = std::min(count, std::max(held, current));
    }
    TUpdateScope update(collection);
    if (count != collection.Count()) {
        collection.Clear();
        for (int i = 0; i < count; ++i) collection.Add();
    }
    TPropsStorage items = ItemStorage(*this, sect);
    for (int i = 0; i < collection.Count(); ++i)
        items.LoadObjectProperties(*collection.Item(i), "Item" + std::to_string(i) + "_");
}

void TPropsStorage::SaveListedProperties(const std::vector<std::string>& names) {
    if (!Target) return;
    TPropInfoList props(*Target);
    for (const auto& n : names)
        if (const TPropInfo* p = props.Find(n)) StoreAnyProperty(*p);
}

void TPropsStorage::LoadListedProperties(const std::vector<std::string>& names) {
    if (!Target) return;
    TPropInfoList props(*Target);
    for (const auto& n : names)
        if (const TPropInfo* p = props.Find(n)) LoadAnyProperty(*p);
}

void TPropsStorage::SaveComponentProperties(TComponent* owner, const TStoredList& list) {
    Owner = owner;
    for (const auto& item : list) {
        std::string comp, prop;
        if (!item.Component || !ParseStoredItem(item.Text, comp, prop)) continue;
        Target = item.Component;
        Prefix = item.Component->Name + "_";
        SaveListedProperties({prop});
    }
}

void TPropsStorage::LoadComponentProperties(TComponent* owner, const TStoredList& list) {
    Owner = owner;
    for (const auto& item : list) {
        std::string comp, prop;
        if (!item.Component || !ParseStoredItem(item.Text, comp, prop)) continue;
        Target = item.Component;
        Prefix = item.Component->Name + "_";
        LoadListedProperties({prop});
    }
}

void SyncStoredList(TComponent* owner, TStoredList& list, bool fromForm) {
    for (int i = int(list.size()) - 1; i >= 0; --i) {
        TStoredItem& item = list[size_t(i)];
        std::string comp, prop;
        bool keep = ParseStoredItem(item.Text, comp, prop);
        if (keep && fromForm) {
            item.Component = owner ? owner->FindComponent(comp) : nullptr;
            keep = item.Component != nullptr;
        } else if (keep) {
            keep = item.Component != nullptr;
            if (keep) item.Text = item.Component->Name + "." + prop;
        }
        if (!keep) list.erase(list.begin() + i);
    }
}

} // namespace nuq
