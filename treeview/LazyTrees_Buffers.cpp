// Growable text buffers for the tree's export: grown by at least the added
// length rounded up to 4096 units, so many small appends reallocate rarely.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

namespace nuq {

namespace {

size_t RoundUp4096(size_t n) {
    return (n + 4095) / 4096 * 4096;
}

} // namespace

template <class Char, size_t NewLineRoom>
void TBufferedText<Char, NewLineRoom>::Add(std::basic_string_view<Char> s) {
    if (s.size() >= FCapacity - FText.size()) {
        if (s.empty() && FCapacity == 0) return; // nothing to keep and nothing to add
        FCapacity += RoundUp4096(s.size());
        FText.reserve(FCapacity);
    }
    FText += s;
}

template <class Char, size_t NewLineRoom> void TBufferedText<Char, NewLineRoom>::AddNewLine() {
    if (FCapacity - FText.size() < NewLineRoom) {
        FCapacity += 4096;
        FText.reserve(FCapacity);
    }
    FText += Char('\r');
    FText += Char('\n');
}

template class TBufferedText<char, 3>;
template class TBufferedText<char16_t, 5>;

} // namespace nuq
