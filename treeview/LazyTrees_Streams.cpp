// Node streaming: the tree's own stream format, used for saving and loading
// and as its native clipboard and drag format. Chunks are {type, size}
// headers of two little-endian 32-bit integers; a node chunk (1) holds a
// base chunk (2: the node's fields and its children's node chunks) and,
// when the owner wrote any, a user chunk (4).

#include "treeview/LazyTrees.h"

#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

namespace nuq {

namespace {

enum : int { NodeChunk = 1, BaseChunk = 2, CaptionChunk = 3, UserChunk = 4 };
constexpr int StreamVersion = 2;
constexpr size_t ChunkHeaderSize = 8;
constexpr size_t BaseChunkSize2 = 17, BaseChunkSize1 = 12;
// Flags that describe a passing moment of a node, never stored nor taken from a stream.
constexpr TLazyNodeStates TransientStates =
    vsChecking | vsCutOrCopy | vsDeleting | vsInitialUserData | vsHeightMeasured;
constexpr TLazyNodeStates UnloadableStates = TransientStates | vsClearing | vsToggling;
constexpr char16_t MagicUnits[6] = {0x2045, u'V', u'T', char16_t(StreamVersion), u' ', 0x2046};

void PutInt32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(char(uint8_t(v >> (8 * i))));
}

uint32_t GetUInt32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(s[at + size_t(i)])) << (8 * i);
    return v;
}

uint16_t GetUInt16(const std::string& s, size_t at) {
    return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8);
}

[[noreturn]] void NotEnoughData() {
    RaiseTreeError(u"Unable to load tree structure, not enough data available.", 2004);
}
[[noreturn]] void AnchorMissing() {
    RaiseTreeError(u"Stream data corrupt. A node's anchor chunk is missing.", 2005);
}
[[noreturn]] void DataAfterEnd() {
    RaiseTreeError(u"Stream data corrupt. Unexpected data after node's end position.", 2006);
}

// The owner's user chunk, read through a standard stream that ends where the
// chunk ends, so a handler can neither read its neighbours' bytes nor leave
// the reader anywhere but at the chunk's end.
class TChunkBuffer : public std::streambuf {
public:
    TChunkBuffer(const char* data, size_t size) {
        char* p = const_cast<char*>(data); // read only: no put area is set
        setg(p, p, p + size);
    }
    size_t Consumed() const { return size_t(gptr() - eback()); }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override {
        if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
        off_type base = dir == std::ios_base::beg   ? 0
                        : dir == std::ios_base::cur ? gptr() - eback()
                                                    : egptr() - eback();
        off_type to = base + off;
        if (to < 0 || to > egptr() - eback()) return pos_type(off_type(-1));
        setg(eback(), eback() + to, egptr());
        return pos_type(to);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

// The node chunk header at the reader's position, checked against the
// reader's limit; AtTop tells a cut-off stream from a chunk that overruns its parent.
int32_t ReadNodeChunkHeader(TNodeReader& r, bool atTop) {
    if (r.Remaining() < ChunkHeaderSize) atTop ? NotEnoughData() : DataAfterEnd();
    int32_t type = r.ReadInt32();
    int32_t size = r.ReadInt32();
    if (type != NodeChunk) AnchorMissing();
    if (size < 0) DataAfterEnd();
    if (size_t(size) > r.Remaining()) atTop ? NotEnoughData() : DataAfterEnd();
    return size;
}

} // namespace

int32_t TNodeReader::ReadInt32() {
    int32_t v = int32_t(GetUInt32(*Data, Position));
    Position += 4;
    return v;
}

// --- writing -----------------------------------------------------------------------------

void TBaseLazyTree::SaveToStream(std::ostream& stream, PLazyNode node) {
    std::string out;
    for (char16_t u : MagicUnits) {
        out.push_back(char(u & 0xFF));
        out.push_back(char(u >> 8));
    }
    if (node && node != FRoot) {
        PutInt32(out, 1);
        WriteNode(out, node);
    } else {
        PutInt32(out, FRoot->ChildCount);
        for (PLazyNode run = FRoot->FirstChild; run; run = run->NextSibling) WriteNode(out, run);
    }
    stream.write(out.data(), std::streamsize(out.size()));
}

void TBaseLazyTree::WriteNode(std::string& stream, PLazyNode node) {
    if (FOptions->MiscOptions() & toInitOnSave) {
        if (!(node->States & vsInitialized)) InitNode(node);
        if ((node->States & vsHasChildren) && node->ChildCount == 0) InitChildren(node);
    }
    size_t start = stream.size();
    PutInt32(stream, NodeChunk);
    PutInt32(stream, 0);
    WriteChunks(stream, node);
    FinishChunkHeader(stream, start, stream.size());
}

void TBaseLazyTree::WriteChunks(std::string& stream, PLazyNode node) {
    size_t start = stream.size();
    PutInt32(stream, BaseChunk);
    PutInt32(stream, 0);
    // The count says how many child chunks follow, and only an initialised node writes them.
    PutInt32(stream, (node->States & vsInitialized) ? node->ChildCount : 0);
    PutInt32(stream, node->NodeHeight);
    TLazyNodeStates states = node->States & ~TransientStates;
    stream.push_back(char(states & 0xFF));
    stream.push_back(char(states >> 8));
    stream.push_back(char(node->Align));
    stream.push_back(char(node->CheckState));
    stream.push_back(char(node->CheckType));
    PutInt32(stream, 0);
    if (node->States & vsInitialized)
        for (PLazyNode run = node->FirstChild; run; run = run->NextSibling) WriteNode(stream, run);
    FinishChunkHeader(stream, start, stream.size());

    // The owner's data; a handler that writes nothing leaves no chunk at all.
    std::ostringstream user;
    DoSaveUserData(node, user);
    std::string bytes = std::move(user).str();
    if (!bytes.empty()) {
        start = stream.size();
        PutInt32(stream, UserChunk);
        PutInt32(stream, 0);
        stream += bytes;
        FinishChunkHeader(stream, start, stream.size());
    }
}

void TBaseLazyTree::FinishChunkHeader(std::string& stream, size_t startPos, size_t endPos) {
    uint32_t size = uint32_t(endPos - startPos - ChunkHeaderSize);
    for (int i = 0; i < 4; ++i) stream[startPos + 4 + size_t(i)] = char(uint8_t(size >> (8 * i)));
}

// --- checking -----------------------------------------------------------------------------

void TBaseLazyTree::CheckNodeChunks(const std::string& data, size_t from, int version,
                                    int64_t count) {
    // Iterative: a deep stream must not exhaust the stack before it is refused.
    struct TFrame {
        size_t End;
        bool Base;
        uint32_t ChildrenLeft;
    };
    std::vector<TFrame> stack;
    TNodeReader r{&data, from, data.size()};
    auto openNode = [&](size_t limit, bool atTop) {
        r.Limit = limit;
        int32_t size = ReadNodeChunkHeader(r, atTop);
        stack.push_back({r.Position + size_t(size), false, 0});
    };
    const size_t fixedSize = version >= 2 ? BaseChunkSize2 : BaseChunkSize1;
    while (count < 0 ? r.Position < data.size() : count-- > 0) {
        openNode(data.size(), true);
        while (!stack.empty()) {
            TFrame& f = stack.back();
            if (f.Base) {
                if (f.ChildrenLeft > 0) {
                    --f.ChildrenLeft;
                    openNode(f.End, false);
                } else {
                    r.Position = f.End;
                    stack.pop_back();
                }
                continue;
            }
            if (r.Position == f.End) {
                stack.pop_back();
                continue;
            }
            r.Limit = f.End;
            if (r.Remaining() < ChunkHeaderSize) DataAfterEnd();
            int32_t type = r.ReadInt32();
            int32_t size = r.ReadInt32();
            if (size < 0 || size_t(size) > r.Remaining()) DataAfterEnd();
            if (type == BaseChunk) {
                if (size_t(size) < fixedSize) DataAfterEnd();
                uint32_t children = GetUInt32(data, r.Position);
                size_t end = r.Position + size_t(size);
                r.Position += fixedSize;
                stack.push_back({end, true, children});
            } else {
                r.Position += size_t(size);
            }
        }
    }
}

// --- reading ------------------------------------------------------------------------------

void TBaseLazyTree::LoadFromStream(std::istream& stream) {
    if (FOptions->MiscOptions() & toReadOnly) return;
    std::streampos start = stream.tellg();
    std::string data{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};

    if (data.size() < 12) NotEnoughData();
    for (size_t i : {0u, 1u, 2u, 5u})
        if (GetUInt16(data, 2 * i) != MagicUnits[i])
            RaiseTreeError(u"Unable to load tree structure, the format is wrong.", 2002);
    int version = GetUInt16(data, 6);
    if (version < 1 || version > StreamVersion)
        RaiseTreeError(u"Unable to load tree structure, the version is unknown.", 2003);
    TNodeReader r{&data, 12, data.size()};
    int64_t count = -1;
    if (version >= 2) {
        if (r.Remaining() < 4) NotEnoughData();
        count = int64_t(uint32_t(r.ReadInt32()));
    }
    // A damaged stream is refused before the tree loses anything.
    CheckNodeChunks(data, r.Position, version, count);

    Clear();
    BeginUpdate();
    try {
        while (count < 0 ? r.Position < data.size() : count-- > 0) {
            r.Limit = data.size();
            InternalAddFromStream(r, version, FRoot, amAddChildLast);
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
    if (start != std::streampos(-1)) {
        stream.clear();
        stream.seekg(start + std::streamoff(r.Position)); // whatever follows the tree stays unread
    }
    DoNodeCopied(nullptr);
}

PLazyNode TBaseLazyTree::InternalAddFromStream(TNodeReader& stream, int version, PLazyNode target,
                                               TLTNodeAttachMode mode) {
    if (!target) target = FRoot;
    PLazyNode node = MakeNewNode();
    LoadedSelection.clear();
    auto attach = [&] {
        node->TotalCount = 1;
        FixupTotalCount(node);
        FixupTotalHeight(node);
        InterruptValidation();
        InternalConnectNode(node, target, mode);
        InvalidateCache();
    };
    try {
        ReadNode(stream, version, node);
    } catch (...) {
        attach(); // what was read stays
        LoadedSelection.clear();
        throw;
    }
    attach();
    if (FOptions->SelectionOptions() & toMultiSelect) AddToSelection(LoadedSelection, true);
    LoadedSelection.clear();
    StructureChange(node->Parent == FRoot ? nullptr : node->Parent, crNodeAdded);
    return node;
}

void TBaseLazyTree::ReadNode(TNodeReader& stream, int version, PLazyNode node) {
    int32_t size = ReadNodeChunkHeader(stream, false);
    size_t end = stream.Position + size_t(size);
    size_t outerLimit = stream.Limit;
    while (stream.Position < end) {
        stream.Limit = end;
        if (stream.Remaining() < ChunkHeaderSize) DataAfterEnd();
        int32_t type = stream.ReadInt32();
        int32_t chunkSize = stream.ReadInt32();
        if (chunkSize < 0 || size_t(chunkSize) > stream.Remaining()) DataAfterEnd();
        ReadChunk(stream, version, node, type, chunkSize);
    }
    if (stream.Position != end) DataAfterEnd();
    stream.Limit = outerLimit;
}

bool TBaseLazyTree::ReadChunk(TNodeReader& stream, int version, PLazyNode node, int chunkType,
                              int chunkSize) {
    size_t end = stream.Position + size_t(chunkSize);
    const std::string& d = *stream.Data;
    switch (chunkType) {
    case BaseChunk: {
        size_t at = stream.Position;
        uint32_t childCount = GetUInt32(d, at);
        uint32_t height = GetUInt32(d, at + 4);
        TLazyNodeStates states;
        if (version >= 2) {
            if (size_t(chunkSize) < BaseChunkSize2) DataAfterEnd();
            states = GetUInt16(d, at + 8);
            at += 10;
        } else {
            if (size_t(chunkSize) < BaseChunkSize1) DataAfterEnd();
            uint8_t old = uint8_t(d[at + 8]);
            states = TLazyNodeStates((old & 0x7F) | ((old & 0x80) << 1) | vsVisible);
            at += 9;
        }
        node->States = TLazyNodeStates(states & ~UnloadableStates);
        node->NodeHeight = uint16_t(std::min<uint32_t>(height, 0xFFFF));
        node->TotalHeight = node->NodeHeight;
        node->Align = uint8_t(d[at]);
        node->CheckState = TCheckState(std::min<uint8_t>(uint8_t(d[at + 1]), csMixedPressed));
        node->CheckType = TCheckType(std::min<uint8_t>(uint8_t(d[at + 2]), ctButton));
        node->ChildCount = 0; // counts the children really linked below
        if (node->States & vsSelected) {
            node->States &= ~vsSelected;
            if (FOptions->SelectionOptions() & toMultiSelect) LoadedSelection.push_back(node);
        }
        stream.Position += version >= 2 ? BaseChunkSize2 : BaseChunkSize1;
        for (uint32_t i = 0; i < childCount; ++i) {
            PLazyNode child = MakeNewNode();
            child->Index = node->LastChild ? node->LastChild->Index + 1 : 0;
            child->Parent = node;
            child->PrevSibling = node->LastChild;
            if (node->LastChild)
                node->LastChild->NextSibling = child;
            else
                node->FirstChild = child;
            node->LastChild = child;
            ++node->ChildCount;
            stream.Limit = end;
            ReadNode(stream, version, child);
        }
        if (node->ChildCount) node->States |= vsHasChildren;
        stream.Position = end; // room a later layout may use
        return true;
    }
    case UserChunk: {
        if (chunkSize <= 0) return true;
        TChunkBuffer buffer(d.data() + stream.Position, size_t(chunkSize));
        std::istream in(&buffer);
        DoLoadUserData(node, in);
        stream.Position = end;
        return buffer.Consumed() > 0;
    }
    default:
        stream.Position = end;
        return false;
    }
}

void TBaseLazyTree::SkipNode(TNodeReader& stream) {
    int32_t size = ReadNodeChunkHeader(stream, false);
    stream.Position += size_t(size);
}

} // namespace nuq
