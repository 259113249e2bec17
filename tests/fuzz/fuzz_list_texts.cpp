// The serialised configuration texts read from object records and editors'
// files: info bytes, command definitions of both modes, SMS templates and the
// codec beneath them. Each input is tried as stored text and, so the field
// readers are reached, as the decoded text itself. Reading must never fail,
// and what is saved must read back to the same save after one round.

#include "acquisition/uCommandClasses.h"
#include "acquisition/uInfoByteClasses.h"
#include "acquisition/uListText.h"
#include "acquisition/uSMSNotifyConfigClasses.h"
#include "platform/Cp1251.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace nuq;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

template <class Load> void Stable(const std::string& text, Load load) {
    std::string s1 = load(text);
    std::string s2 = load(s1);
    std::string s3 = load(s2);
    Check(s1 == s2 && s2 == s3);
}

void TryAll(const std::string& text) {
    Stable(text, [](const std::string& t) {
        TNuqInfoBytes b;
        b.LoadFromString(t);
        return b.SaveToString();
    });
    for (int kind : {0, 1}) {
        Stable(text, [kind](const std::string& t) {
            auto d = tCommandDefinition::CreateDefault(kind);
            d.LoadFromString(t);
            if (kind == 0) Check(d.Count() >= 3 && d.Items(2)->Predefined == 3);
            return d.SaveToString();
        });
    }
    Stable(text, [](const std::string& t) {
        tSmsNotifyTemplate s;
        s.LoadFromString(t);
        return s.SaveToString();
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string raw(reinterpret_cast<const char*>(data), size);
    TryAll(raw);

    std::string decoded = Cp1251ToUtf8(raw);
    std::string encoded = EncodeListText(decoded);
    Check(DecodeListText(encoded) == Cp1251ToUtf8(Utf8ToCp1251(decoded)));
    TryAll(encoded);

    // The generic readers on any record.
    for (const auto& record : SplitListRecords(decoded)) {
        tListRecordReader r(record);
        for (int n = 0; n <= 20; ++n) {
            (void)r.Int(n, 0);
            (void)r.Float(n, 0);
            (void)r.Text(n);
            (void)r.Lines(n);
        }
    }
    return 0;
}
