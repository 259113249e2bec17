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

void TBufferedAnsiString::Add(std::string_view s) {
    size_t room = FBuffer.size() - FPosition;
    if (s.size() >= room) {
        if (s.empty() && FBuffer.empty()) return; // nothing to keep and nothing to add
        FBuffer.resize(FBuffer.size() + RoundUp4096(s.size()));
    }
    std::copy(s.begin(), s.end(), FBuffer.begin() + ptrdiff_t(FPosition));
    FPosition += s.size();
}

void TBufferedAnsiString::AddNewLine() {
    if (FBuffer.size() - FPosition < 3) FBuffer.resize(FBuffer.size() + 4096);
    FBuffer[FPosition++] = '\r';
    FBuffer[FPosition++] = '\n';
}

void TWideBufferedString::Add(std::u16string_view s) {
    size_t room = FBuffer.size() - FPosition;
    if (s.size() >= room) {
        if (s.empty() && FBuffer.empty()) return;
        FBuffer.resize(FBuffer.size() + RoundUp4096(s.size()));
    }
    std::copy(s.begin(), s.end(), FBuffer.begin() + ptrdiff_t(FPosition));
    FPosition += s.size();
}

void TWideBufferedString::AddNewLine() {
    if (FBuffer.size() - FPosition < 5) FBuffer.resize(FBuffer.size() + 4096);
    FBuffer[FPosition++] = u'\r';
    FBuffer[FPosition++] = u'\n';
}

} // namespace nuq
