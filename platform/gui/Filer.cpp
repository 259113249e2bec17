#include "platform/gui/Filer.h"

#include "platform/Cp1251.h"

#include <cstring>
#include <exception>
#include <sstream>

namespace nuq {

namespace {

const TPropInfo* FindProp(const TPersistent& instance, const std::string& name) {
    const std::string wanted = UpperCase(name);
    for (const TPropInfo* p : GetPropInfos(instance))
        if (UpperCase(p->Name) == wanted) return p;
    return nullptr;
}

bool IsBoolean(const TPropInfo& p) {
    return p.Kind == tkEnumeration && p.Identifiers.size() == 2 && p.Identifiers[0] == "False" &&
           p.Identifiers[1] == "True";
}

bool IsOrdinal(TTypeKind kind) {
    return kind == tkInteger || kind == tkInt64 || kind == tkChar || kind == tkEnumeration ||
           kind == tkSet;
}

bool IsWide(TTypeKind kind) {
    return kind == tkWString || kind == tkWChar;
}

bool IsString(TTypeKind kind) {
    return kind == tkString || kind == tkLString || IsWide(kind);
}

// Nothing to write: the declared default, an empty text, a zero number.
bool AtDefault(TPersistent& o, const TPropInfo& p) {
    if (IsOrdinal(p.Kind)) return p.Default && p.GetOrd(o) == *p.Default;
    if (p.Kind == tkFloat) return p.GetFloat(o) == 0;
    if (IsString(p.Kind)) return p.GetStr(o).empty();
    if (p.Kind == tkVariant) return !p.GetVariant || p.GetVariant(o).IsEmpty();
    return true;
}

template <class T> void Append(std::string& data, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    data.append(bytes, sizeof(T)); // the machines we run on are little-endian
}

template <class T> T Load(const char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

// The loading and reading flags of a component for the time it is read; a
// failed read leaves it not loading, as its Loaded will not run.
struct TReadingScope {
    TComponent& Component;
    int Exceptions = std::uncaught_exceptions();
    explicit TReadingScope(TComponent& c) : Component(c) {
        Component.ComponentState |= csLoading | csReading;
    }
    ~TReadingScope() {
        Component.ComponentState &= ~csReading;
        if (std::uncaught_exceptions() > Exceptions) Component.ComponentState &= ~csLoading;
    }
};

// Nested lists in damaged data must not exhaust the stack.
struct TDepthGuard {
    int& Depth;
    explicit TDepthGuard(int& depth) : Depth(depth) { ++Depth; }
    ~TDepthGuard() { --Depth; }
};
constexpr int MaxDepth = 64;

} // namespace

// --- writing ---------------------------------------------------------------------------------

void TWriter::WriteText(const std::string& text) {
    Append(Data, uint32_t(text.size()));
    Data += text;
}

void TWriter::WritePropName(const std::string& name) {
    if (name.empty() || name.size() > 255)
        throw Exception("Недопустимое имя свойства \"" + name + "\"");
    Data.push_back(char(uint8_t(name.size())));
    Data += name;
}

void TWriter::WriteComponent(TComponent& component) {
    WriteText(component.ClassName());
    WriteText(component.Name);
    WriteProperties(component);
    Data.push_back(0);
}

void TWriter::WriteProperties(TPersistent& instance) {
    for (const TPropInfo* p : GetPropInfos(instance)) WriteProperty(instance, *p);
    instance.DefineProperties(*this);
}

void TWriter::WriteProperty(TPersistent& instance, const TPropInfo& p) {
    if (p.Stored && !p.Stored(instance)) return;
    if (p.Kind == tkClass && p.IsComponentRef) {
        // A referenced component is stored by its name; an unnamed one cannot be found again.
        auto* ref = p.GetObject ? dynamic_cast<TComponent*>(p.GetObject(instance)) : nullptr;
        if (!ref || ref->Name.empty()) return;
        WritePropName(PropPath + p.Name);
        WriteIdent(ref->Name);
        return;
    }
    if (p.Kind == tkClass) {
        // An owned object stores its own properties.
        TPersistent* object = p.GetObject ? p.GetObject(instance) : nullptr;
        if (!object) return;
        std::string saved = PropPath;
        PropPath += p.Name + ".";
        WriteProperties(*object);
        PropPath = saved;
        return;
    }
    if (!IsOrdinal(p.Kind) && p.Kind != tkFloat && !IsString(p.Kind) && p.Kind != tkVariant) return;
    if (AtDefault(instance, p)) return;
    WritePropName(PropPath + p.Name);
    if (p.Kind == tkVariant)
        WriteVariant(p.GetVariant(instance));
    else if (IsString(p.Kind)) {
        if (IsWide(p.Kind))
            WriteWideString(Utf8ToUtf16(p.GetStr(instance)));
        else
            WriteString(p.GetStr(instance));
    } else if (p.Kind == tkFloat)
        WriteFloat(p.GetFloat(instance));
    else if (IsBoolean(p))
        WriteBoolean(p.GetOrd(instance) != 0);
    else if (p.Kind == tkSet) {
        int64_t mask = p.GetOrd(instance);
        std::vector<std::string> members;
        for (size_t i = 0; i < p.Identifiers.size() && i < 64; ++i)
            if (mask & (int64_t(1) << i)) members.push_back(p.Identifiers[i]);
        WriteSet(members);
    } else if (p.Kind == tkEnumeration) {
        int64_t v = p.GetOrd(instance);
        if (v >= 0 && v < int64_t(p.Identifiers.size()))
            WriteIdent(p.Identifiers[size_t(v)]);
        else
            WriteInteger(v);
    } else
        WriteInteger(p.GetOrd(instance));
}

void TWriter::WriteCollection(const std::vector<TPersistent*>& items) {
    WriteValue(vaCollection);
    for (TPersistent* item : items) {
        WriteValue(vaList);
        WriteProperties(*item);
        Data.push_back(0);
    }
    WriteValue(vaNull);
}

void TWriter::WriteInteger(int64_t v) {
    if (v >= INT8_MIN && v <= INT8_MAX) {
        WriteValue(vaInt8);
        Append(Data, int8_t(v));
    } else if (v >= INT16_MIN && v <= INT16_MAX) {
        WriteValue(vaInt16);
        Append(Data, int16_t(v));
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
        WriteValue(vaInt32);
        Append(Data, int32_t(v));
    } else {
        WriteValue(vaInt64);
        Append(Data, v);
    }
}

void TWriter::WriteBoolean(bool value) {
    WriteValue(value ? vaTrue : vaFalse);
}

void TWriter::WriteFloat(double value) {
    WriteValue(vaFloat);
    Append(Data, value);
}

void TWriter::WriteString(const std::string& value) {
    WriteValue(vaString);
    WriteText(value);
}

void TWriter::WriteWideString(const std::u16string& value) {
    WriteValue(vaWString);
    Append(Data, uint32_t(value.size()));
    for (char16_t c : value) Append(Data, uint16_t(c));
}

void TWriter::WriteIdent(const std::string& value) {
    WriteValue(vaIdent);
    WriteText(value);
}

void TWriter::WriteSet(const std::vector<std::string>& members) {
    WriteValue(vaSet);
    for (const std::string& m : members) WriteText(m);
    WriteText({});
}

void TWriter::WriteBinary(const std::string& bytes) {
    WriteValue(vaBinary);
    WriteText(bytes);
}

void TWriter::WriteVariant(const Variant& value) {
    switch (value.Type()) {
    case TVarType::Empty:
        return;
    case TVarType::Null:
        WriteValue(vaNull);
        return;
    case TVarType::Boolean:
        WriteBoolean(value.AsBoolean());
        return;
    case TVarType::Integer:
        WriteInteger(value.AsInteger());
        return;
    case TVarType::Double:
        WriteFloat(value.AsDouble());
        return;
    case TVarType::DateTime:
        WriteValue(vaDate);
        Append(Data, double(value.AsDateTime()));
        return;
    case TVarType::Text:
        WriteString(value.AsString());
        return;
    }
}

void TWriter::WriteListBegin() {
    WriteValue(vaList);
}

void TWriter::WriteListEnd() {
    WriteValue(vaNull);
}

void TWriter::DefineProperty(const std::string& name, std::function<void(TReader&)>,
                             std::function<void(TWriter&)> writeData, bool hasData) {
    if (!hasData || !writeData) return;
    WritePropName(PropPath + name);
    writeData(*this);
}

void TWriter::DefineBinaryProperty(const std::string& name, std::function<void(std::istream&)>,
                                   std::function<void(std::ostream&)> writeData, bool hasData) {
    if (!hasData || !writeData) return;
    WritePropName(PropPath + name);
    std::ostringstream out;
    writeData(out);
    WriteBinary(out.str());
}

// --- reading ---------------------------------------------------------------------------------

void TReader::Fail(const std::string& what) const {
    throw EReadError("Ошибка чтения формы: " + what);
}

const char* TReader::Take(size_t count) {
    if (count > FData.size() - FPos) Fail("данные кончились раньше времени");
    const char* p = FData.data() + FPos;
    FPos += count;
    return p;
}

std::string TReader::ReadText() {
    uint32_t length = Load<uint32_t>(Take(4));
    return std::string(Take(length), length);
}

std::string TReader::ReadPropName() {
    uint8_t length = uint8_t(*Take(1));
    return std::string(Take(length), length);
}

TValueType TReader::NextValue() const {
    return FPos < FData.size() ? TValueType(uint8_t(FData[FPos])) : vaNull;
}

TValueType TReader::ReadValue() {
    return TValueType(uint8_t(*Take(1)));
}

void TReader::ReadComponent(TComponent& component) {
    std::string className = ReadText();
    if (UpperCase(className) != UpperCase(component.ClassName()))
        Fail("записан класс " + className + ", а читается " + component.ClassName());
    component.Name = ReadText();
    try {
        TReadingScope scope(component);
        FFixups.clear();
        ReadProperties(component);
        ResolveFixups(component);
    } catch (...) {
        component.ReadFailed(); // not loading any more, and no Loaded to come
        throw;
    }
    component.Loaded();
}

void TReader::ReadProperties(TPersistent& instance) {
    for (;;) {
        if (NextValue() == vaNull) { // the empty name ends the list
            Take(1);
            return;
        }
        ReadProperty(instance);
    }
}

void TReader::ReadProperty(TPersistent& instance) {
    const std::string name = ReadPropName();
    // "Header.Height": the owned objects are walked to the one that has the property.
    TPersistent* target = &instance;
    std::string rest = name;
    for (size_t dot; (dot = rest.find('.')) != std::string::npos; rest.erase(0, dot + 1)) {
        const TPropInfo* p = FindProp(*target, rest.substr(0, dot));
        TPersistent* object = p && p->Kind == tkClass && !p->IsComponentRef && p->GetObject
                                  ? p->GetObject(*target)
                                  : nullptr;
        if (!object) Fail("свойство " + name + " не существует");
        target = object;
    }
    const TPropInfo* p = FindProp(*target, rest);
    if (p && p->Kind == tkClass && p->IsComponentRef && p->SetObject) {
        if (NextValue() != vaIdent) Fail("неверное значение свойства " + name);
        FFixups.push_back({target, p, ReadIdent()});
        return;
    }
    if (p && p->Kind != tkMethod && p->Kind != tkClass) {
        ReadPropValue(*target, *p);
        return;
    }
    std::string savedName = FPropName;
    bool savedHandled = FPropHandled;
    FPropName = rest;
    FPropHandled = false;
    target->DefineProperties(*this);
    bool handled = FPropHandled;
    FPropName = savedName;
    FPropHandled = savedHandled;
    if (!handled) Fail("свойство " + name + " не существует");
}

// References name components of the reading component's owner (or its own),
// which exist by the time the whole component is read.
void TReader::ResolveFixups(TComponent& component) {
    for (const TFixup& f : FFixups) {
        TComponent* found = component.Owner() ? component.Owner()->FindComponent(f.Name) : nullptr;
        if (!found) found = component.FindComponent(f.Name);
        if (!found) Fail("компонент " + f.Name + " не найден");
        f.Prop->SetObject(*f.Instance, found);
    }
    FFixups.clear();
}

void TReader::ReadPropValue(TPersistent& instance, const TPropInfo& p) {
    if ((IsString(p.Kind) && !p.SetStr) || (IsOrdinal(p.Kind) && !p.SetOrd) ||
        (p.Kind == tkFloat && !p.SetFloat) || (p.Kind == tkVariant && !p.SetVariant) ||
        p.Kind == tkUnknown) {
        SkipValue(); // read-only or not kept in forms
        return;
    }
    if (p.Kind == tkVariant)
        p.SetVariant(instance, ReadVariant());
    else if (IsString(p.Kind))
        p.SetStr(instance, ReadString());
    else if (p.Kind == tkFloat)
        p.SetFloat(instance, ReadFloat());
    else if (p.Kind == tkSet) {
        int64_t mask = 0;
        for (const std::string& m : ReadSet()) {
            size_t i = 0;
            while (i < p.Identifiers.size() && UpperCase(p.Identifiers[i]) != UpperCase(m)) ++i;
            if (i >= p.Identifiers.size() || i >= 64)
                Fail("неверное значение свойства " + p.Name + ": " + m);
            mask |= int64_t(1) << i;
        }
        p.SetOrd(instance, mask);
    } else if (p.Kind == tkEnumeration && NextValue() == vaIdent) {
        std::string id = ReadIdent();
        for (size_t i = 0; i < p.Identifiers.size(); ++i)
            if (UpperCase(p.Identifiers[i]) == UpperCase(id)) {
                p.SetOrd(instance, int64_t(i));
                return;
            }
        Fail("неверное значение свойства " + p.Name + ": " + id);
    } else if (p.Kind == tkEnumeration && (NextValue() == vaFalse || NextValue() == vaTrue))
        p.SetOrd(instance, ReadBoolean() ? 1 : 0);
    else
        p.SetOrd(instance, ReadInteger());
}

void TReader::ReadCollection(const std::function<TPersistent*()>& add) {
    TDepthGuard guard(FDepth);
    if (FDepth > MaxDepth) Fail("вложенность слишком глубока");
    if (ReadValue() != vaCollection) Fail("ожидался набор элементов");
    while (NextValue() != vaNull) {
        ReadListBegin();
        TPersistent* item = add();
        if (!item) Fail("элемент набора не создан");
        ReadProperties(*item);
    }
    Take(1);
}

int64_t TReader::ReadInteger() {
    switch (ReadValue()) {
    case vaInt8:
        return Load<int8_t>(Take(1));
    case vaInt16:
        return Load<int16_t>(Take(2));
    case vaInt32:
        return Load<int32_t>(Take(4));
    case vaInt64:
        return Load<int64_t>(Take(8));
    default:
        Fail("ожидалось целое число");
    }
}

bool TReader::ReadBoolean() {
    TValueType t = ReadValue();
    if (t != vaFalse && t != vaTrue) Fail("ожидалось логическое значение");
    return t == vaTrue;
}

double TReader::ReadFloat() {
    if (NextValue() == vaFloat) {
        Take(1);
        return Load<double>(Take(8));
    }
    return double(ReadInteger());
}

std::string TReader::ReadString() {
    if (NextValue() == vaWString) return Utf16ToUtf8(ReadWideString());
    if (ReadValue() != vaString) Fail("ожидалась строка");
    return ReadText();
}

std::u16string TReader::ReadWideString() {
    if (NextValue() == vaString) return Utf8ToUtf16(ReadString());
    if (ReadValue() != vaWString) Fail("ожидалась строка");
    uint32_t length = Load<uint32_t>(Take(4));
    if (length > (FData.size() - FPos) / 2) Fail("данные кончились раньше времени");
    std::u16string s(length, u'\0');
    for (char16_t& c : s) c = char16_t(Load<uint16_t>(Take(2)));
    return s;
}

std::string TReader::ReadIdent() {
    if (ReadValue() != vaIdent) Fail("ожидался идентификатор");
    return ReadText();
}

std::vector<std::string> TReader::ReadSet() {
    if (ReadValue() != vaSet) Fail("ожидалось множество");
    std::vector<std::string> members;
    for (std::string m = ReadText(); !m.empty(); m = ReadText()) members.push_back(m);
    return members;
}

std::string TReader::ReadBinary() {
    if (ReadValue() != vaBinary) Fail("ожидались двоичные данные");
    return ReadText();
}

Variant TReader::ReadVariant() {
    switch (NextValue()) {
    case vaNull:
        Take(1);
        return Variant::Null();
    case vaFalse:
    case vaTrue:
        return ReadBoolean();
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64:
        return ReadInteger();
    case vaFloat:
        return ReadFloat();
    case vaDate:
        Take(1);
        return Variant::FromDateTime(Load<double>(Take(8)));
    case vaString:
    case vaWString:
        return ReadString();
    default:
        Fail("неверное значение варианта");
    }
}

void TReader::ReadListBegin() {
    if (ReadValue() != vaList) Fail("ожидался список");
}

void TReader::ReadListEnd() {
    if (ReadValue() != vaNull) Fail("ожидался конец списка");
}

void TReader::SkipValue() {
    TDepthGuard guard(FDepth);
    if (FDepth > MaxDepth) Fail("вложенность слишком глубока");
    switch (ReadValue()) {
    case vaNull:
    case vaFalse:
    case vaTrue:
        return;
    case vaList:
        while (NextValue() != vaNull) SkipValue();
        Take(1);
        return;
    case vaInt8:
        Take(1);
        return;
    case vaInt16:
        Take(2);
        return;
    case vaInt32:
        Take(4);
        return;
    case vaInt64:
    case vaFloat:
    case vaDate:
        Take(8);
        return;
    case vaString:
    case vaIdent:
    case vaBinary:
        ReadText();
        return;
    case vaWString: {
        uint32_t length = Load<uint32_t>(Take(4));
        if (length > (FData.size() - FPos) / 2) Fail("данные кончились раньше времени");
        Take(size_t(length) * 2);
        return;
    }
    case vaSet:
        while (!ReadText().empty()) {
        }
        return;
    case vaCollection:
        while (NextValue() != vaNull) {
            ReadListBegin();
            while (NextValue() != vaNull) {
                ReadPropName();
                SkipValue();
            }
            Take(1);
        }
        Take(1);
        return;
    default:
        Fail("неизвестный тип значения");
    }
}

void TReader::DefineProperty(const std::string& name, std::function<void(TReader&)> readData,
                             std::function<void(TWriter&)>, bool) {
    if (FPropHandled || UpperCase(name) != UpperCase(FPropName)) return;
    FPropHandled = true;
    if (readData)
        readData(*this);
    else
        SkipValue();
}

void TReader::DefineBinaryProperty(const std::string& name,
                                   std::function<void(std::istream&)> readData,
                                   std::function<void(std::ostream&)>, bool) {
    if (FPropHandled || UpperCase(name) != UpperCase(FPropName)) return;
    FPropHandled = true;
    std::istringstream in(ReadBinary());
    if (readData) readData(in);
}

} // namespace nuq
