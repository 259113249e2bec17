// Column and header stream records as stored trees hold them: reading any
// bytes either loads a consistent header or fails with the stream error,
// never allocating more than the bytes could describe.

#include "treeview/LazyTrees.h"

#include "FuzzGuiSetup.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

using namespace nuq;

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
}
#define Check(e) ((e) ? (void)0 : Fail(#e))

void CheckConsistent(TLazyTreeColumns& columns) {
    const auto& map = columns.PositionMap();
    Check(int(map.size()) == columns.Count());
    std::vector<bool> seen(map.size(), false);
    for (TColumnIndex i : map) {
        Check(i >= 0 && i < columns.Count() && !seen[size_t(i)]);
        seen[size_t(i)] = true;
    }
    for (int i = 0; i < columns.Count(); ++i) {
        const TLazyTreeColumn& c = columns[i];
        Check(c.MinWidth() >= 0 && c.MinWidth() <= c.MaxWidth());
        // Fixed columns answer to the fixed-area shares and, under auto-resize,
        // widths follow the room left; otherwise a column keeps its own limits.
        TLTHeader& h = *columns.Header();
        if (!(c.Options() & coFixed) && !(h.Options() & hoAutoResize))
            Check(c.Width() >= c.MinWidth() && c.Width() <= c.MaxWidth());
        Check(map[c.Position()] == i);
    }
}

std::string Save(TBaseLazyTree& tree) {
    std::ostringstream out;
    tree.Header().SaveToStream(out);
    return out.str();
}

void Load(TBaseLazyTree& tree, const std::string& bytes) {
    std::istringstream in(bytes);
    tree.Header().LoadFromStream(in);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<TLazyStringTree> tree = NewComponent<TLazyStringTree>();
    std::string bytes(reinterpret_cast<const char*>(data), size);

    // As a whole header stream.
    {
        std::istringstream in(bytes);
        bool loaded = true;
        try {
            tree->Header().LoadFromStream(in);
        } catch (const EColumnStreamError&) {
            loaded = false;
        }
        Check(!(tree->Header().States() & hsLoading));
        CheckConsistent(tree->Header().Columns());
        if (loaded) {
            // What was read writes back into a stream that reads back the same (after
            // one pass, which settles stored values the setters bound, such as the
            // main column of a header without columns).
            std::string once = Save(*tree);
            Load(*tree, once);
            std::string twice = Save(*tree);
            Load(*tree, twice);
            Check(Save(*tree) == twice);
        }
    }

    // As a bare column collection of the version the first byte names.
    if (size > 0) {
        std::istringstream in(bytes.substr(1));
        try {
            tree->Header().Columns().LoadFromStream(in, int(data[0] % 8) - 1);
        } catch (const EColumnStreamError&) {
        }
        CheckConsistent(tree->Header().Columns());
    }
    return 0;
}
