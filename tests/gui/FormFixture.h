#pragma once
// Forms of the shapes the terminal and its dialogs have, for the placement
// and form storage tests; ini files and the registry store in a temporary
// folder of the test's own.

#include "foundation/gui/fhPlacemnt.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace formtest {

using namespace nuq;

// A panel as the program's forms have them: a windowed control that
// publishes nothing of its own, so its stored size is what the framework
// publishes for every control.
class TPanel : public TWinControl {
public:
    explicit TPanel(TComponent* owner, TWinControl* parent, const std::string& name)
        : TWinControl(owner) {
        Name = name;
        SetParent(parent);
        SetBounds(0, 0, 100, 100);
    }
};

// The terminal's main window: only the tree panel's width is kept.
class TfrmTerminal : public TForm {
public:
    explicit TfrmTerminal(const std::string& iniFile) {
        Name = "frmTerminal";
        SetBounds(100, 80, 640, 480);
        pnlTree = std::make_unique<TPanel>(this, this, "pnlTree");
        fsView = std::make_unique<TFormStorage>(this);
        fsView->Name = "fsView";
        fsView->UseRegistry = false;
        fsView->IniFileName = iniFile;
        fsView->Options = 0;
        fsView->SetStoredProps({{"pnlTree.Width", nullptr}});
    }
    std::unique_ptr<TPanel> pnlTree;
    std::unique_ptr<TFormStorage> fsView; // last: goes first
};

// A dialog that is not sizeable, with a field that can take the focus and
// one that cannot.
class TfrmDlgCommands : public TForm {
public:
    explicit TfrmDlgCommands(const std::string& iniFile, bool useRegistry = false) {
        Name = "frmDlgCommands";
        BorderStyle = bsDialog;
        SetBounds(200, 150, 300, 200);
        edtName = std::make_unique<TPanel>(this, this, "edtName");
        edtHidden = std::make_unique<TPanel>(this, this, "edtHidden");
        edtHidden->SetVisible(false);
        FormStorage = std::make_unique<TFormStorage>(this);
        FormStorage->Name = "FormStorage";
        FormStorage->UseRegistry = useRegistry;
        FormStorage->IniFileName = iniFile;
        FormStorage->Options = fpState | fpPosition | fpActiveControl;
    }
    std::unique_ptr<TPanel> edtName, edtHidden;
    std::unique_ptr<TFormStorage> FormStorage;
};

class FormFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nuq_forms_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) SavedConfig = old;
        setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
        SavedScreen = {Screen().Width, Screen().Height, Screen().PixelsPerInch};
        SetScreenSize(1024, 768);
        Screen().PixelsPerInch = 96;
    }
    void TearDown() override {
        SetScreenSize(SavedScreen[0], SavedScreen[1]);
        Screen().PixelsPerInch = SavedScreen[2];
        if (SavedConfig.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", SavedConfig.c_str(), 1);
        std::filesystem::remove_all(Dir);
    }
    std::string Ini() const { return Dir + "/nuq.INI"; }
    static std::string FileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void WriteFile(const std::string& text) { std::ofstream(Ini(), std::ios::binary) << text; }

    std::string Dir, SavedConfig;
    std::array<int, 3> SavedScreen{};
};

} // namespace formtest
