// A tree read from a form resource: any bytes either load, leaving the tree
// out of loading with consistent columns and writing back what reads back
// the same, or fail with the read error.

#include "FuzzCheck.h"

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"
#include "platform/gui/Filer.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace nuq;

namespace {

std::string Write(TComponent& c) {
    TWriter w;
    w.WriteComponent(c);
    return w.Data;
}

void CheckColumns(TLazyTreeColumns& columns) {
    const auto& map = columns.PositionMap();
    FUZZ_CHECK(int(map.size()) == columns.Count());
    for (int i = 0; i < columns.Count(); ++i) FUZZ_CHECK(map[columns[i].Position()] == i);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetMainThread();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // A stored node count is made real after loading: millions of nodes are
    // a valid form, not a finding.
    if (UpperCase(bytes).find("ROOTNODECOUNT") != std::string::npos) return 0;
    auto tree = NewComponent<TLazyStringTree>();
    try {
        TReader(bytes).ReadComponent(*tree);
    } catch (const EReadError&) {
        FUZZ_CHECK(!(tree->ComponentState & (csLoading | csReading)));
        return 0;
    }
    FUZZ_CHECK(!(tree->ComponentState & (csLoading | csReading)));
    FUZZ_CHECK(!(tree->Header().States() & hsLoading));
    CheckColumns(tree->Header().Columns());
    // Read once, the values settle (setters bound some); then they keep.
    std::string once = Write(*tree);
    auto copy = NewComponent<TLazyStringTree>();
    TReader(once).ReadComponent(*copy);
    std::string twice = Write(*copy);
    auto third = NewComponent<TLazyStringTree>();
    TReader(twice).ReadComponent(*third);
    FUZZ_CHECK(Write(*third) == twice);
    return 0;
}
