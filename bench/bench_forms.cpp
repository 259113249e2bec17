// What a form's memory costs when a dialog closes and opens: the placement
// keys written to and read from an ini file (each write rewrites the file),
// and a long string list through its own section.
#include "foundation/gui/fhPlacemnt.h"
#include "platform/EventLoop.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

using namespace nuq;

namespace {

class TfrmDialog : public TForm {
public:
    explicit TfrmDialog(const std::string& ini) {
        BorderStyle = bsDialog;
        SetBounds(10, 20, 300, 200);
        Storage = std::make_unique<TFormStorage>(this);
        Storage->UseRegistry = false;
        Storage->IniFileName = ini;
        Storage->Options = fpState | fpPosition | fpActiveControl;
    }
    std::unique_ptr<TFormStorage> Storage;
};

std::string TempIni() {
    char tmpl[] = "/tmp/nuq_bench_forms_XXXXXX";
    std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
    return dir + "/bench.INI";
}

// One close (save) and one show (restore) of a dialog.
void BM_DialogCloseAndShow(benchmark::State& state) {
    SetMainThread(); // windows belong to the thread that runs the loop
    const std::string ini = TempIni();
    auto f = CreateForm<TfrmDialog>(ini);
    for (auto _ : state) {
        f->Show();
        f->Close();
    }
    f->Storage->Active = false;
    f.reset();
    std::filesystem::remove_all(std::filesystem::path(ini).parent_path());
}
BENCHMARK(BM_DialogCloseAndShow);

class TLines : public TComponent {
public:
    TStringList Lines;
};

// A string list of N lines saved and loaded through an ini file.
void BM_StringListThroughIni(benchmark::State& state) {
    RegisterClass<TLines>(
        "TLines",
        TPublisher<TLines>().Object("Lines", [](TLines& l) -> TPersistent* { return &l.Lines; }));
    const std::string ini = TempIni();
    TLines obj;
    for (int i = 0; i < state.range(0); ++i) obj.Lines.Lines.push_back("line " + std::to_string(i));
    for (auto _ : state) {
        TIniFile file(ini);
        TPropsStorage ps;
        ps.Target = &obj;
        ps.Section = "S";
        ps.OnReadValue = [&](const std::string& s, const std::string& i, const std::string& d) {
            return file.ReadString(s, i, d);
        };
        ps.OnWriteValue = [&](const std::string& s, const std::string& i, const std::string& v) {
            file.WriteString(s, i, v);
        };
        ps.OnClearSection = [&](const std::string& s) { file.EraseSection(s); };
        ps.SaveListedProperties({"Lines"});
        ps.LoadListedProperties({"Lines"});
    }
    std::filesystem::remove_all(std::filesystem::path(ini).parent_path());
}
BENCHMARK(BM_StringListThroughIni)->Arg(10)->Arg(100);

} // namespace

BENCHMARK_MAIN();
