#include "acquisition/uNuqClasses.h"

#include "acquisition/uScriptClasses.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uUtils.h"
#include "platform/EventLoop.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace nuq {

namespace {

const TCharSet kByte1{'\x01'};

// The blocks and alarm texts a script makes; EScriptError when it fails its check.
void CompileScript(const std::string& script, tBlocks& blocks, tCrashList& crashList) {
    tScriptAnalyser analyser;
    analyser.Analyse(script);
    const int sectionCount = analyser.GetSectionCount();
    if (!analyser.Passed() && sectionCount > 0) {
        std::string message = "Скрипт не прошёл проверку:";
        for (const auto& e : analyser.Errors) message += "\n" + e.Text;
        throw EScriptError(message);
    }

    for (int i = 0; i < sectionCount; ++i) {
        const tScriptSection& section = analyser.Sections.Items(i);
        const int type = section.GetType();
        if (type < 1 || type > 7) continue;
        tBlock& block = blocks.Items(blocks.Add(type));
        block.Caption = section.GetCaption();
        block.Visible = section.GetVisible();
        if (auto* measured = dynamic_cast<tMeasuredBlock*>(&block)) {
            measured->NaNText = section.GetNaN();
            measured->MetricUnit = section.GetMetricUnit();
        } else {
            block.NaNText.clear();
        }
        if (auto* bits = dynamic_cast<tBitMaskBlock*>(&block)) {
            const tBitDescriptions described = section.GetBits();
            for (size_t k = 0; k < 8; ++k)
                bits->Bits[k] = {described[k].Caption, described[k].On0, described[k].On1,
                                 described[k].Error};
        } else if (auto* parameter = dynamic_cast<tParameterBlock*>(&block)) {
            for (const std::string& line : SplitLines(Trim(section.GetParameters()))) {
                int number;
                if (!TryStrToInt(ExtractWord(1, line, kByte1), number)) continue;
                parameter->Parameters.Add(number, Trim(ExtractWord(2, line, kByte1)));
            }
        } else if (auto* real = dynamic_cast<tRealBlock*>(&block)) {
            real->Dimension = section.GetDimension();
            real->BottomLimit = section.GetBottomLimit();
            real->TopLimit = section.GetTopLimit();
        }
        block.ByteNo = section.GetByteNumber();
    }

    for (const std::string& line : SplitLines(Trim(analyser.CrashText))) {
        int code;
        // A line whose code does not read (a commented-out entry) names no alarm.
        if (!TryStrToInt(Trim(ExtractWord(1, line, kByte1)), code)) continue;
        crashList.Add(code, ExtractWord(2, line, kByte1));
    }
}

// A compiled script, kept for the objects that load the same text.
struct TCompiledScript {
    std::string Script;
    tBlocks Blocks;
    tCrashList CrashList;
};

// Objects of one kind share a script: the few scripts compiled last are
// kept, so loading thousands of objects checks and compiles each text once.
class TCompiledScripts {
public:
    std::shared_ptr<const TCompiledScript> Find(const std::string& script) {
        std::lock_guard<std::mutex> hold(Lock);
        for (auto it = Recent.begin(); it != Recent.end(); ++it)
            if ((*it)->Script == script) {
                auto found = *it;
                Recent.erase(it);
                Recent.push_back(found);
                return found;
            }
        return nullptr;
    }
    void Keep(std::shared_ptr<const TCompiledScript> compiled) {
        std::lock_guard<std::mutex> hold(Lock);
        if (Recent.size() == Kept) Recent.erase(Recent.begin());
        Recent.push_back(std::move(compiled));
    }

private:
    static constexpr size_t Kept = 8;
    std::mutex Lock;
    std::vector<std::shared_ptr<const TCompiledScript>> Recent; // newest last
};

TCompiledScripts compiledScripts;

} // namespace

void TBoilerRoom::LoadScript(const std::string& script) {
    if (const auto compiled = compiledScripts.Find(script)) {
        Blocks.Append(compiled->Blocks);
        CrashList.Append(compiled->CrashList);
        return;
    }
    // Compiled in place, so a script that fails halfway leaves the blocks
    // made before the fault, then kept for the next object.
    const int firstBlock = Blocks.Count();
    const int firstCrash = CrashList.Count();
    CompileScript(script, Blocks, CrashList);
    auto compiled = std::make_shared<TCompiledScript>();
    compiled->Script = script;
    compiled->Blocks.Append(Blocks, firstBlock);
    compiled->CrashList.Append(CrashList, firstCrash);
    compiledScripts.Keep(std::move(compiled));
}

void TBoilerRoom::DecodePacket(const PacketBuffer& buffer, int length) {
    DecodePacket(std::string_view(reinterpret_cast<const char*>(buffer.data()),
                                  size_t(std::clamp(length, 0, PacketBufferSize))));
}

void TBoilerRoom::DecodePacket(const TPacketBytes& buffer, int length) {
    // A copy first: the buffer may be this object's own.
    DecodePacket(buffer.Bytes(size_t(std::clamp(length, 0, PacketBufferSize))));
}

void TBoilerRoom::DecodePacket(std::string_view bytes) {
    const size_t count = std::min<size_t>(bytes.size(), PacketBufferSize);
    TMutexHold hold(SIPMutex);
    Packet.Assign(bytes.substr(0, count));
    PacketLength = int(count);
    DecodeBlocks();
}

namespace {
// Decodes running on this thread, outermost first.
thread_local int decodeDepth = 0;
} // namespace

void TBoilerRoom::DecodeBlocks() {
    const uint64_t generation = ++DecodeGeneration;
    auto byteAt = [this](int index) -> uint8_t { return Packet[size_t(index)]; };
    struct Depth {
        Depth() { ++decodeDepth; }
        ~Depth() { --decodeDepth; }
    } depth;
    const bool outermost = decodeDepth == 1;
    // Blocks are walked by index: a handler run between blocks may add some.
    for (int i = 0; i < Blocks.Count(); ++i) {
        // Only the outermost decode lets the loop run: a decode started from
        // inside that pass runs straight through, so packets of many objects
        // arriving together cannot nest decodes without bound.
        if (outermost) ProcessMessages();
        if (generation != DecodeGeneration) return; // a newer packet was decoded meanwhile
        if (i >= Blocks.Count()) break;
        tBlock& block = Blocks.Items(i);
        // Any byte number a script holds, the lowest integer included, is
        // compared without overflow; the reads below stay inside the buffer.
        const int64_t firstByte = int64_t(block.ByteNo) - 1;
        const int span = block.ByteSpan();
        block.OutOfBuffer = firstByte < 0 || firstByte > PacketBufferSize - span;
        const int first = int(firstByte);
        if (block.OutOfBuffer) {
            // Reads nothing outside the buffer: the block shows its no-data state.
            if (auto* f = dynamic_cast<tFloatBlock*>(&block)) f->Raw.fill(0xFF);
            if (auto* n = dynamic_cast<tIntegerBlock*>(&block)) n->High = n->Low = 0xFF;
            if (auto* r = dynamic_cast<tRealBlock*>(&block)) r->High = r->Low = 0xFF;
            block.SetValue(0xFF);
            if (auto* f = dynamic_cast<tFloatBlock*>(&block)) f->SetValue(f->GetFloatValue());
            if (auto* n = dynamic_cast<tIntegerBlock*>(&block)) n->SetValue(n->GetIntValue());
            if (auto* r = dynamic_cast<tRealBlock*>(&block)) r->SetValue(r->GetRealValue());
            continue;
        }
        // The multi-byte types decode once, from all their bytes.
        switch (block.BlockType) {
        case 5: {
            auto& f = static_cast<tFloatBlock&>(block);
            for (int k = 0; k < 4; ++k) f.Raw[size_t(k)] = byteAt(first + k);
            f.SetValue(f.GetFloatValue());
            break;
        }
        case 6: {
            auto& n = static_cast<tIntegerBlock&>(block);
            n.High = byteAt(first);
            n.Low = byteAt(first + 1);
            n.SetValue(n.GetIntValue());
            break;
        }
        case 7: {
            auto& r = static_cast<tRealBlock&>(block);
            r.High = byteAt(first);
            // A one-byte reading at the buffer's last byte has no low byte to read.
            r.Low = first + 1 < PacketBufferSize ? byteAt(first + 1) : 0xFF;
            r.SetValue(r.GetRealValue());
            break;
        }
        default:
            block.SetValue(byteAt(first));
            break;
        }
    }
}

void TBoilerRoom::ClearValues() {
    for (int i = 0; i < Blocks.Count(); ++i) Blocks.Items(i).SetValue(0);
}

void TBoilerRoom::DecodePacketBuffer() {
    {
        TMutexHold hold(SIPMutex);
        Packet.Clear();
        DecodeBlocks();
    }
    PacketLength = -1;
}

} // namespace nuq
