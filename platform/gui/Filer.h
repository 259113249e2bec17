#pragma once
// Form resources: a component's published properties, and those of the
// objects it owns, as a writer stores them and a reader sets them again.
// A property at its declared default is left out; an object stores more of
// its own through DefineProperties. Owned objects' properties are named with
// the owner's property first ("Header.Height").
//
// The bytes: the class name and the component name, then properties until
// an empty name. A property is its name and one value; a value is a type
// byte and its data (little-endian, texts and binary data with a 4-byte
// length); a referenced component is stored by its name as an identifier.
// A variant is written only when not empty, as the value of its kind.
// A set is identifiers up to an empty one; a collection is items, each a
// list marker and properties up to an empty name, up to vaNull.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/gui/TypInfo.h"

namespace nuq {

class TReader;
class TWriter;

// A form resource that cannot be read: damaged, or naming what does not exist.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

enum TValueType : uint8_t {
    vaNull,
    vaList,
    vaInt8,
    vaInt16,
    vaInt32,
    vaInt64,
    vaFloat,
    vaString,  // UTF-8
    vaWString, // UTF-16LE code units
    vaIdent,
    vaFalse,
    vaTrue,
    vaBinary,
    vaSet,
    vaCollection,
    vaDate, // a date-time variant, as a double
};

class TFiler {
public:
    virtual ~TFiler() = default;
    // A property the object reads and writes itself; written only when HasData.
    virtual void DefineProperty(const std::string& name, std::function<void(TReader&)> readData,
                                std::function<void(TWriter&)> writeData, bool hasData) = 0;
    // The same for a block of bytes.
    virtual void DefineBinaryProperty(const std::string& name,
                                      std::function<void(std::istream&)> readData,
                                      std::function<void(std::ostream&)> writeData,
                                      bool hasData) = 0;
    // While writing an inherited form: the same object of the ancestor form.
    TPersistent* Ancestor = nullptr;
};

class TWriter : public TFiler {
public:
    std::string Data;     // what was written
    std::string PropPath; // put before property names: "Header." while the header writes

    void WriteComponent(TComponent& component);
    void WriteProperties(TPersistent& instance); // the properties, without the end mark
    void WriteCollection(const std::vector<TPersistent*>& items);
    void WriteInteger(int64_t value);
    void WriteBoolean(bool value);
    void WriteFloat(double value);
    void WriteString(const std::string& value);
    void WriteWideString(const std::u16string& value);
    void WriteIdent(const std::string& value);
    void WriteSet(const std::vector<std::string>& members);
    void WriteBinary(const std::string& bytes);
    void WriteVariant(const Variant& value); // an empty one writes nothing
    void WriteListBegin();
    void WriteListEnd();

    void DefineProperty(const std::string& name, std::function<void(TReader&)> readData,
                        std::function<void(TWriter&)> writeData, bool hasData) override;
    void DefineBinaryProperty(const std::string& name, std::function<void(std::istream&)> readData,
                              std::function<void(std::ostream&)> writeData, bool hasData) override;

private:
    void WriteProperty(TPersistent& instance, const TPropInfo& prop);
    void WritePropName(const std::string& name);
    void WriteValue(TValueType type) { Data.push_back(char(type)); }
    void WriteText(const std::string& text); // the 4-byte length and the bytes
};

class TReader : public TFiler {
public:
    explicit TReader(std::string data) : FData(std::move(data)) {}

    // Reads into an existing component, csLoading and csReading set meanwhile,
    // then runs its Loaded.
    void ReadComponent(TComponent& component);
    void ReadProperties(TPersistent& instance); // up to and including the end mark
    // Each item's properties go into the object Add makes for it.
    void ReadCollection(const std::function<TPersistent*()>& add);
    TValueType NextValue() const;
    int64_t ReadInteger();
    bool ReadBoolean();
    double ReadFloat();
    std::string ReadString();        // a wide string comes as UTF-8
    std::u16string ReadWideString(); // a narrow string is widened
    std::string ReadIdent();
    std::vector<std::string> ReadSet();
    std::string ReadBinary();
    Variant ReadVariant();
    void ReadListBegin();
    void ReadListEnd();
    bool EndOfList() const { return NextValue() == vaNull; }
    void SkipValue();
    bool AtEnd() const { return FPos >= FData.size(); }
    size_t Position() const { return FPos; } // bytes read so far

    void DefineProperty(const std::string& name, std::function<void(TReader&)> readData,
                        std::function<void(TWriter&)> writeData, bool hasData) override;
    void DefineBinaryProperty(const std::string& name, std::function<void(std::istream&)> readData,
                              std::function<void(std::ostream&)> writeData, bool hasData) override;

private:
    void ReadProperty(TPersistent& instance);
    void ReadPropValue(TPersistent& instance, const TPropInfo& prop);
    TValueType ReadValue();
    std::string ReadText();
    std::string ReadPropName();
    const char* Take(size_t count); // Count more bytes, or a read error
    [[noreturn]] void Fail(const std::string& what) const;
    void ResolveFixups(TComponent& component);

    // A component reference read, set once the whole component is read.
    struct TFixup {
        TPersistent* Instance;
        const TPropInfo* Prop;
        std::string Name;
    };
    std::vector<TFixup> FFixups;

    std::string FData;
    size_t FPos = 0;
    std::string FPropName; // the defined property now being read
    bool FPropHandled = false;
    int FDepth = 0; // lists and collections being read inside each other
};

} // namespace nuq
