// Checking and splitting a large script, and decoding one packet through its blocks.

#include "acquisition/uNuqClasses.h"
#include "acquisition/uScriptClasses.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A script of N byte sections cycling through the seven types.
std::string MakeScript(int sections) {
    std::string s = "#script;\n#length = " + std::to_string(sections * 2) + ";\n";
    for (int i = 0; i < sections; ++i) {
        const int byteNo = i * 2 + 1;
        s += "#defbyte " + std::to_string(byteNo) + ";\n";
        switch (i % 7) {
        case 0:
            s += "  Type = IsByte;\n  Caption = 'Температура " + std::to_string(i) +
                 "';\n  MetricUnit = '°C';\n";
            break;
        case 1:
            s += "  Type = IsShortInt;\n  Caption = 'Наружная';\n  MetricUnit = '°C';\n";
            break;
        case 2:
            s += "  Type = IsComposite;\n  Caption = 'Состояние';\n";
            for (int b = 1; b <= 8; ++b)
                s += "  #defbit " + std::to_string(b) + ";\n    Caption = 'Бит " +
                     std::to_string(b) +
                     "';\n    On0 = 'Выкл';\n    On1 = 'Вкл';\n    Error = 1;\n  #enddefbit;\n";
            break;
        case 3:
            s += "  Type = IsParameter;\n  Caption = 'Режим';\n  #defparam;\n    DefNumber 0 -> "
                 "'Лето';\n"
                 "    DefNumber 1 -> 'Зима';\n  #enddefparam;\n";
            break;
        case 4:
            s += "  Type = IsInteger;\n  Caption = 'Расход';\n  MetricUnit = 'м3';\n";
            break;
        case 5:
            s += "  Type = IsReal;\n  Caption = 'Давление';\n  MetricUnit = 'МПа';\n  Dimension = "
                 "1000;\n"
                 "  BottomLimit = 0;\n  TopLimit = 1,6;\n";
            break;
        default:
            s += "  Type = IsFloat;\n  Caption = 'Мощность';\n  MetricUnit = 'Гкал';\n";
            break;
        }
        s += "#enddefbyte;\n";
    }
    s += "#defcrash;\n  Code 1 -> 'Перегрев';\n  Code 2 -> 'Нет "
         "тяги';\n#enddefcrash;\n#endscript;\n";
    return s;
}

void BM_CheckAndSplit(benchmark::State& state) {
    const std::string script = MakeScript(int(state.range(0)));
    for (auto _ : state) {
        nuq::tScriptAnalyser analyser;
        analyser.Analyse(script);
        if (!analyser.Passed() || analyser.Sections.Count() != state.range(0))
            state.SkipWithError("script did not pass");
        benchmark::DoNotOptimize(analyser.Sections.Count());
    }
    state.counters["sections/s"] = benchmark::Counter(double(state.iterations() * state.range(0)),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CheckAndSplit)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_DecodePacket(benchmark::State& state) {
    nuq::TBoilerRoom room;
    room.LoadScript(MakeScript(int(state.range(0))));
    std::string packet(size_t(state.range(0) * 2 + 4), '\0');
    for (size_t i = 0; i < packet.size(); ++i) packet[i] = char(i * 37 + 11);
    int64_t lines = 0;
    for (auto _ : state) {
        room.DecodePacket(packet);
        for (int i = 0; i < room.Blocks.Count(); ++i)
            lines += room.Blocks.Items(i).DecodeList.Count();
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
    state.counters["blocks"] = double(room.Blocks.Count());
}
BENCHMARK(BM_DecodePacket)->Arg(200)->Unit(benchmark::kMicrosecond);

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The sample packets kept beside the example script: "title|hex bytes".
std::vector<std::string> SamplePackets(const std::string& path) {
    std::vector<std::string> packets;
    std::istringstream lines(ReadFile(path));
    for (std::string line; std::getline(lines, line);) {
        const size_t bar = line.find('|');
        if (line.empty() || line[0] == '#' || bar == std::string::npos) continue;
        std::string bytes, digits;
        for (char c : line.substr(bar + 1))
            if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
        for (size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes += char(std::stoi(digits.substr(i, 2), nullptr, 16));
        packets.push_back(bytes);
    }
    return packets;
}

// The example boiler room decoding Packets in turn.
void DecodeBoiler(benchmark::State& state, const std::vector<std::string>& packets) {
    nuq::TBoilerRoom room;
    room.LoadScript(ReadFile(NUQ_SOURCE_DIR "/examples/scripts/boiler.nqs"));
    if (room.Blocks.Count() == 0 || packets.size() < 2) {
        state.SkipWithError("example script or packets missing");
        return;
    }
    int64_t lines = 0;
    size_t next = 0;
    for (auto _ : state) {
        room.DecodePacket(packets[next]);
        next = (next + 1) % packets.size();
        for (int i = 0; i < room.Blocks.Count(); ++i)
            lines += room.Blocks.Items(i).DecodeList.Count();
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}

// The sample packets in turn: the figure that says how many objects one
// terminal can follow.
void BM_DecodeBoiler(benchmark::State& state) {
    DecodeBoiler(state, SamplePackets(NUQ_SOURCE_DIR "/examples/scripts/boiler.packets"));
}
BENCHMARK(BM_DecodeBoiler);

// 64 packets whose bytes differ, as a real line brings them: the two sample
// packets and variations of their bytes, so no value's text is made from
// the same bits twice in a row.
void BM_DecodeBoilerVaried(benchmark::State& state) {
    std::vector<std::string> packets =
        SamplePackets(NUQ_SOURCE_DIR "/examples/scripts/boiler.packets");
    if (packets.size() > 2) packets.resize(2);
    uint32_t seed = 12345;
    auto random = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 16; };
    while (packets.size() >= 2 && packets.size() < 64) {
        std::string p = packets[packets.size() % 2];
        for (char& b : p) b = char(uint8_t(b) ^ uint8_t(random()));
        packets.push_back(p);
    }
    DecodeBoiler(state, packets);
}
BENCHMARK(BM_DecodeBoilerVaried);

} // namespace

BENCHMARK_MAIN();
