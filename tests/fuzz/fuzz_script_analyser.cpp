// Any bytes as a packet script: the analyser must report, never crash, and a
// passed script's sections must answer every getter or raise the system's error.
#include "acquisition/uScriptClasses.h"
#include "platform/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nuq::tScriptAnalyser analyser;
    analyser.Analyse(std::string(reinterpret_cast<const char*>(data), size));
    if (!analyser.Passed()) return 0;
    // A passed check leaves one section per "#defbyte" statement.
    if (analyser.Sections.Count() != analyser.GetSectionCount()) __builtin_trap();
    for (int i = 0; i < analyser.Sections.Count(); ++i) {
        const nuq::tScriptSection& s = analyser.Sections.Items(i);
        s.GetByteNumber();
        s.GetType();
        s.GetCaption();
        s.GetMetricUnit();
        s.GetNaN();
        s.GetVisible();
        s.GetBits();
        s.GetParameters();
        try {
            s.GetDimension();
        } catch (const nuq::Exception&) {
        }
        try {
            s.GetBottomLimit();
        } catch (const nuq::Exception&) {
        }
        try {
            s.GetTopLimit();
        } catch (const nuq::Exception&) {
        }
    }
    return 0;
}
