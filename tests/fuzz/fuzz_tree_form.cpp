// A tree read from a form resource: any bytes either load, leaving the tree
// out of loading with consistent columns and writing back what reads back
// the same, or fail with the read error (or the tree's, for a node data
// size beyond any record), leaving the tree as it was.

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

// Thrown when a form would make more nodes than a fuzz run affords.
struct TTooManyNodes {};

// A tree whose read failed is as it was before: its root counts the nodes
// linked under it, its header is not loading, and its count can be changed.
void CheckAfterFailedRead(TLazyStringTree& tree, uint32_t countBefore) {
    FUZZ_CHECK(!(tree.ComponentState & (csLoading | csReading)));
    FUZZ_CHECK(!(tree.Header().States() & hsLoading));
    FUZZ_CHECK(!tree.HasState(tsNeedRootCountUpdate));
    FUZZ_CHECK(tree.RootNodeCount() == countBefore);
    uint32_t linked = 0;
    for (PLazyNode n = tree.RootNode()->FirstChild; n; n = n->NextSibling) ++linked;
    FUZZ_CHECK(linked == countBefore);
    CheckColumns(tree.Header().Columns());
    tree.SetRootNodeCount(1);
    FUZZ_CHECK(tree.RootNodeCount() == 1 && tree.GetFirst() == tree.GetLast());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetMainThread();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    // A tree with nodes of its own: a read records a node count over them.
    auto tree = NewComponent<TLazyStringTree>();
    constexpr uint32_t CountBefore = 2;
    tree->SetRootNodeCount(CountBefore);
    // A stored node count is made real after loading: millions of nodes are
    // a valid form, not a finding, and end the read as a failed one here.
    bool whenLoaded = false;
    tree->OnStateChange = [&whenLoaded](TBaseLazyTree& t, TLazyTreeStates enter,
                                        TLazyTreeStates leave) {
        if (((enter | leave) & TS(tsNeedRootCountUpdate)) && t.RootNodeCount() > 10000) {
            whenLoaded = (leave & TS(tsNeedRootCountUpdate)) != 0;
            throw TTooManyNodes();
        }
    };
    try {
        TReader(bytes).ReadComponent(*tree);
    } catch (const EReadError&) {
        CheckAfterFailedRead(*tree, CountBefore);
        return 0;
    } catch (const ELazyTreeError&) { // a node data size beyond any record
        CheckAfterFailedRead(*tree, CountBefore);
        return 0;
    } catch (const TTooManyNodes&) {
        if (whenLoaded) return 0; // the read itself went through
        CheckAfterFailedRead(*tree, CountBefore);
        return 0;
    }
    tree->OnStateChange = nullptr;
    FUZZ_CHECK(!(tree->ComponentState & (csLoading | csReading)));
    FUZZ_CHECK(!(tree->Header().States() & hsLoading));
    CheckColumns(tree->Header().Columns());
    // Nodes made before and after a data size the form set live side by side.
    tree->AddChild(nullptr);
    tree->DeleteNode(tree->GetFirst());
    tree->AddChild(nullptr);
    uint32_t linked = 0;
    for (PLazyNode n = tree->GetFirst(); n; n = n->NextSibling) FUZZ_CHECK(n->Index == linked++);
    FUZZ_CHECK(linked == tree->RootNodeCount());
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
