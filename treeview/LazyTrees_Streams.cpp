// Node streaming: the tree's own stream format, used for saving and loading
// and as its native clipboard and drag format. Chunks are {type, size}
// headers of two little-endian 32-bit integers; a node chunk (1) holds a
// base chunk (2: the node's fields and its children's node chunks) and,
// when the owner wrote any, a user chunk (4).

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/ScopeGuard.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <vector>

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

// Top-level nodes are read while data remains and the stored count (none
// in the oldest streams) lasts: a count larger than the nodes held loads those held.
bool MoreTopNodes(const TNodeReader& r, size_t end, int64_t& count) {
    if (r.Position >= end) return false;
    return count < 0 || count-- > 0;
}

// A node whose chunks are still being read.
struct TOpenNode {
    PLazyNode Node;
    size_t End;        // of the node chunk
    size_t OuterLimit; // the reader's limit again once the node is read
    size_t BaseEnd;    // of the base chunk, while its children are read
    uint32_t ChildrenLeft;
    bool InBase;
    bool BaseOnly; // the top of ReadChunk: a base chunk without its node chunk
    bool HadBase;  // a node chunk holds one base chunk
};

void OpenNodeChunk(TNodeReader& stream, std::vector<TOpenNode>& open, PLazyNode node) {
    int32_t size = ReadNodeChunkHeader(stream, false);
    open.push_back({node, stream.Position + size_t(size), stream.Limit, 0, 0, false, false, false});
}

// The base chunk's fixed fields; its children follow. A node stored as
// selected goes to Selected when the tree selects several nodes.
void ReadBaseFields(TNodeReader& stream, int version, int chunkSize, TOpenNode& f,
                    const TCustomLazyTreeOptions& options, std::vector<PLazyNode>& selected,
                    TLazyNodeSet& expanded, size_t most) {
    const size_t fixedSize = version >= 2 ? BaseChunkSize2 : BaseChunkSize1;
    if (size_t(chunkSize) < fixedSize) DataAfterEnd();
    const std::string& d = *stream.Data;
    PLazyNode node = f.Node;
    size_t at = stream.Position;
    uint32_t childCount = GetUInt32(d, at);
    uint32_t height = GetUInt32(d, at + 4);
    TLazyNodeStates states;
    if (version >= 2) {
        states = GetUInt16(d, at + 8);
        at += 10;
    } else {
        uint8_t old = uint8_t(d[at + 8]);
        states = TLazyNodeStates((old & 0x7F) | ((old & 0x80) << 1) | vsVisible);
        at += 9;
    }
    if (states & vsExpanded)
        expanded.Insert(node, most);
    else if (node->States & vsExpanded)
        expanded.Erase(node); // a node read again in place
    node->States = TLazyNodeStates(states & ~UnloadableStates);
    node->NodeHeight = uint16_t(std::min<uint32_t>(height, 0xFFFF));
    node->TotalHeight = node->NodeHeight;
    node->Align = uint8_t(d[at]);
    node->CheckState = TCheckState(std::min<uint8_t>(uint8_t(d[at + 1]), csMixedPressed));
    node->CheckType = TCheckType(std::min<uint8_t>(uint8_t(d[at + 2]), ctButton));
    node->ChildCount = 0; // counts the children really linked below
    if (node->States & vsSelected) {
        node->States &= ~vsSelected;
        if (options.SelectionOptions() & toMultiSelect) selected.push_back(node);
    }
    f.BaseEnd = stream.Position + size_t(chunkSize);
    f.ChildrenLeft = childCount;
    f.InBase = true;
    f.HadBase = true;
    stream.Position += fixedSize;
}

// Child, just made, becomes Node's last child.
void AppendLoadedChild(PLazyNode node, PLazyNode child) {
    child->Index = node->LastChild ? node->LastChild->Index + 1 : 0;
    child->Parent = node;
    child->PrevSibling = node->LastChild;
    if (node->LastChild)
        node->LastChild->NextSibling = child;
    else
        node->FirstChild = child;
    node->LastChild = child;
    ++node->ChildCount;
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
    WriteSubtree(stream, node, true);
}

void TBaseLazyTree::WriteChunks(std::string& stream, PLazyNode node) {
    WriteSubtree(stream, node, false);
}

void TBaseLazyTree::WriteSubtree(std::string& stream, PLazyNode top, bool nodeChunk) {
    // A node's chunks enclose its children's, and its user chunk follows
    // them. The nodes still open are kept here rather than on the call stack,
    // so that a deep subtree cannot exhaust it; the bytes and the order of
    // the owner's events are those of a walk that recurses from node to child.
    constexpr size_t NoChunk = size_t(-1);
    struct TOpenNode {
        PLazyNode Node;
        size_t NodeStart; // NoChunk for the top of WriteChunks, which has no node chunk
        size_t BaseStart;
    };
    std::vector<TOpenNode> open;

    // Writes everything up to the node's first child; returns that child.
    auto begin = [&](PLazyNode node, bool withNodeChunk) -> PLazyNode {
        size_t nodeStart = NoChunk;
        if (withNodeChunk) {
            if (FOptions->MiscOptions() & toInitOnSave) {
                if (!(node->States & vsInitialized)) InitNode(node);
                if ((node->States & vsHasChildren) && node->ChildCount == 0) InitChildren(node);
            }
            nodeStart = stream.size();
            PutInt32(stream, NodeChunk);
            PutInt32(stream, 0);
        }
        size_t baseStart = stream.size();
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
        open.push_back({node, nodeStart, baseStart});
        return (node->States & vsInitialized) ? node->FirstChild : nullptr;
    };

    PLazyNode next = begin(top, nodeChunk);
    while (!open.empty()) {
        if (next) {
            next = begin(next, true);
            continue;
        }
        TOpenNode done = open.back();
        open.pop_back();
        FinishChunkHeader(stream, done.BaseStart, stream.size());

        // The owner's data; a handler that writes nothing leaves no chunk at all.
        std::ostringstream user;
        DoSaveUserData(done.Node, user);
        std::string bytes = std::move(user).str();
        if (!bytes.empty()) {
            size_t start = stream.size();
            PutInt32(stream, UserChunk);
            PutInt32(stream, 0);
            stream += bytes;
            FinishChunkHeader(stream, start, stream.size());
        }
        if (done.NodeStart != NoChunk) FinishChunkHeader(stream, done.NodeStart, stream.size());
        if (!open.empty()) next = done.Node->NextSibling;
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
        bool HasBase; // of a node chunk: its one base chunk was met
    };
    std::vector<TFrame> stack;
    TNodeReader r{&data, from, data.size()};
    auto openNode = [&](size_t limit, bool atTop) {
        r.Limit = limit;
        int32_t size = ReadNodeChunkHeader(r, atTop);
        stack.push_back({r.Position + size_t(size), false, 0, false});
    };
    const size_t fixedSize = version >= 2 ? BaseChunkSize2 : BaseChunkSize1;
    while (MoreTopNodes(r, data.size(), count)) {
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
                // A second one would relink the node's children over the first ones'.
                if (f.HasBase || size_t(size) < fixedSize) DataAfterEnd();
                f.HasBase = true;
                uint32_t children = GetUInt32(data, r.Position);
                size_t end = r.Position + size_t(size);
                r.Position += fixedSize;
                stack.push_back({end, true, children, false});
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
    {
        TUpdateScope update(*this);
        while (MoreTopNodes(r, data.size(), count)) {
            r.Limit = data.size();
            InternalAddFromStream(r, version, FRoot, amAddChildLast);
        }
    }
    if (start != std::streampos(-1)) {
        stream.clear();
        stream.seekg(start + std::streamoff(r.Position)); // whatever follows the tree stays unread
    }
    DoNodeCopied(nullptr);
}

PLazyNode TBaseLazyTree::InternalAddFromStream(TNodeReader& stream, int version, PLazyNode target,
                                               TLTNodeAttachMode mode) {
    if (!ResolveAttachPlace(target, mode)) return nullptr;
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
    {
        TScopeExit forgetSelected([this] { LoadedSelection.clear(); });
        {
            TScopeExit keepRead(attach); // what was read stays, even when the rest is refused
            ReadNode(stream, version, node);
        }
        if (FOptions->SelectionOptions() & toMultiSelect) AddToSelection(LoadedSelection, true);
    }
    StructureChange(node->Parent == FRoot ? nullptr : node->Parent, crNodeAdded);
    return node;
}

void TBaseLazyTree::ReadNode(TNodeReader& stream, int version, PLazyNode node) {
    ReadSubtree(stream, version, node, -1);
}

bool TBaseLazyTree::ReadChunk(TNodeReader& stream, int version, PLazyNode node, int chunkType,
                              int chunkSize) {
    size_t end = stream.Position + size_t(chunkSize);
    const std::string& d = *stream.Data;
    switch (chunkType) {
    case BaseChunk:
        ReadSubtree(stream, version, node, chunkSize);
        return true;
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

void TBaseLazyTree::ReadSubtree(TNodeReader& stream, int version, PLazyNode top,
                                int baseChunkSize) {
    // The nodes still open are kept here rather than on the call stack, so
    // that a deep stream cannot exhaust it; nodes are created, linked and
    // handed to the owner in the order of a walk that recurses from node to
    // child. A base chunk is read here; every other chunk goes to ReadChunk.
    std::vector<TOpenNode> open;
    const size_t most = TLazyNodeSet::Worthwhile(FRoot->TotalCount);
    if (baseChunkSize < 0) {
        OpenNodeChunk(stream, open, top);
    } else {
        open.push_back({top, 0, 0, 0, 0, false, true, false});
        ReadBaseFields(stream, version, baseChunkSize, open.back(), *FOptions, LoadedSelection,
                       FExpandedNodes, most);
    }
    while (!open.empty()) {
        TOpenNode& f = open.back();
        if (f.InBase) {
            if (f.ChildrenLeft > 0) {
                --f.ChildrenLeft;
                PLazyNode child = MakeNewNode();
                AppendLoadedChild(f.Node, child);
                stream.Limit = f.BaseEnd;
                OpenNodeChunk(stream, open, child); // F is gone from here on
                continue;
            }
            if (f.Node->ChildCount) f.Node->States |= vsHasChildren;
            stream.Position = f.BaseEnd; // room a later layout may use
            f.InBase = false;
            if (f.BaseOnly) open.pop_back();
            continue;
        }
        if (stream.Position < f.End) {
            stream.Limit = f.End;
            if (stream.Remaining() < ChunkHeaderSize) DataAfterEnd();
            int32_t type = stream.ReadInt32();
            int32_t chunkSize = stream.ReadInt32();
            if (chunkSize < 0 || size_t(chunkSize) > stream.Remaining()) DataAfterEnd();
            if (type == BaseChunk) {
                if (f.HadBase) DataAfterEnd();
                ReadBaseFields(stream, version, chunkSize, f, *FOptions, LoadedSelection,
                               FExpandedNodes, most);
            } else {
                ReadChunk(stream, version, f.Node, type, chunkSize);
            }
            continue;
        }
        if (stream.Position != f.End) DataAfterEnd();
        stream.Limit = f.OuterLimit;
        open.pop_back();
    }
}

void TBaseLazyTree::SkipNode(TNodeReader& stream) {
    int32_t size = ReadNodeChunkHeader(stream, false);
    stream.Position += size_t(size);
}

} // namespace nuq
