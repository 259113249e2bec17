// Window placement keys, form placement and form storage.

#include "FormFixture.h"

#include "foundation/fhStrUtils.h"
#include "foundation/gui/fhWinUtils.h"
#include "platform/gui/Filer.h"

using namespace nuq;
using namespace formtest;

namespace {

using PlacementKeys = FormFiles;
using FormStorage = FormFiles;

TRect WindowRect(TForm& f) {
    TRect r;
    GetWindowRect(f.Handle(), r);
    return r;
}

// Stores the heights of its panels and the place of a windowless picture.
class TfrmDlgReportParams : public TForm {
public:
    explicit TfrmDlgReportParams(const std::string& iniFile) {
        Name = "frmDlgReportParams";
        pnlBR = std::make_unique<TPanel>(this, this, "pnlBR");
        imgState = std::make_unique<TGraphicControl>(this);
        imgState->Name = "imgState";
        imgState->SetParent(this);
        imgState->SetBounds(0, 0, 50, 10);
        FormStorage = std::make_unique<TFormStorage>(this);
        FormStorage->UseRegistry = false;
        FormStorage->IniFileName = iniFile;
        FormStorage->Options = 0;
        FormStorage->SetStoredProps({{"pnlBR.Height", nullptr},
                                     {"pnlBR.Left", nullptr},
                                     {"imgState.Width", nullptr},
                                     {"imgState.Top", nullptr}});
    }
    std::unique_ptr<TPanel> pnlBR;
    std::unique_ptr<TGraphicControl> imgState;
    std::unique_ptr<TFormStorage> FormStorage;
};

} // namespace

TEST_F(PlacementKeys, DefaultNames) {
    auto dlg = CreateForm<TfrmDlgCommands>(Ini());
    TComponent loose;
    loose.Name = "fsLoose";
    TPanel orphanParent(nullptr, nullptr, "pnlOuter");
    TPanel orphan(nullptr, &orphanParent, "pnlInner");
    EXPECT_EQ(DefaultPlacementSection(nullptr), "");
    EXPECT_EQ(DefaultPlacementSection(dlg.get()), "TfrmDlgCommands");
    EXPECT_EQ(DefaultPlacementSection(dlg->edtName.get()), "TfrmDlgCommandsedtName");
    EXPECT_EQ(DefaultPlacementSection(dlg->FormStorage.get()), "TfrmDlgCommands.FormStorage");
    EXPECT_EQ(DefaultPlacementSection(&orphan), "pnlOuterpnlInner");
    EXPECT_EQ(DefaultPlacementSection(&loose), "fsLoose");
    EXPECT_EQ(DefaultIniFileName(), "test_gui.INI");
    EXPECT_EQ(DefaultRegistryKey(), "Software\\test_gui");
    // The title is preferred only when asked to, and only when there is one.
    struct Case {
        bool prefer;
        std::string title, company, key;
    };
    for (const Case& c : {Case{false, "Диспетчер", "", "Software\\test_gui"},
                          Case{true, "Диспетчер", "", "Software\\Диспетчер"},
                          Case{true, "", "", "Software\\test_gui"},
                          Case{true, "Диспетчер", "Nuq", "Nuq\\Software\\Диспетчер"}}) {
        RegistryKeyPrefersTitle = c.prefer;
        Application().Title = c.title;
        DefCompanyName = c.company;
        EXPECT_EQ(DefaultRegistryKey(), c.key) << c.prefer << c.title;
    }
    RegistryKeyPrefersTitle = false;
    Application().Title.clear();
    DefCompanyName.clear();
}

// Values that begin and end with one kind of quote survive the ini file's
// reader, which takes one pair off; the registry store keeps them as they are.
TEST_F(PlacementKeys, QuotedValuesReadBackUnchanged) {
    const std::string values[] = {"'single'", "\"double\"", "'mixed\"", "'", "plain"};
    TIniFile ini(Ini());
    TRegIniFile reg("Software\\nuq");
    for (const auto& v : values) {
        StorageWriteString(&ini, "S", "K", v);
        StorageWriteString(&reg, "S", "K", v);
        EXPECT_EQ(StorageReadString(&ini, "S", "K", ""), v);
        EXPECT_EQ(TIniFile(Ini()).ReadString("S", "K", ""), v);
        EXPECT_EQ(TRegIniFile("Software\\nuq").ReadString("S", "K", ""), v);
    }
    StorageWriteString(&ini, "S", "K", "'single'");
    EXPECT_NE(FileText(Ini()).find("K=\"'single'\""), std::string::npos);
}

// A stored position is taken only at the resolution it was written in; the
// key with the screen size wins over the plain one; a dialog keeps its size.
TEST_F(PlacementKeys, PositionIsRestoredByTheRules) {
    struct Case {
        const char* text;
        int screenPpi;
        TRect expected;
    } cases[] = {
        {"PixelsPerInch=96\nNormPos=10,20,410,320\n", 96, {10, 20, 310, 220}},
        {"PixelsPerInch=96\nNormPos=10,20,410,320\n", 120, {200, 150, 500, 350}},
        {"NormPos=10,20,410,320\n",
         96,
         {10, 20, 310, 220}}, // no resolution stored: the current one
        {"NormPos(1024x768)=30 40 50 60\nNormPos=10,20,410,320\n", 96, {30, 40, 330, 240}},
        {"NormPos(1024x768)=\nNormPos=10,20,410,320\n", 96, {10, 20, 310, 220}},
        {"NormPos=10,x\n", 96, {10, 150, 310, 350}}, // malformed numbers read as the form's own
        {"Flags=0\n", 96, {200, 150, 500, 350}},     // nothing found: nothing applied
    };
    for (const auto& c : cases) {
        WriteFile(std::string("[Dlg]\n") + c.text);
        Screen().PixelsPerInch = c.screenPpi;
        auto dlg = CreateForm<TfrmDlgCommands>(Ini());
        TIniFile ini(Ini());
        LoadWindowPlacement(dlg.get(), &ini, "Dlg", false, true);
        EXPECT_EQ(WindowRect(*dlg), c.expected) << c.text << " at " << c.screenPpi;
    }
}

// A damaged file keeps the form within the work area and no larger than it;
// numbers at the ends of the int range do not wrap.
TEST_F(PlacementKeys, DamagedPositionStaysWithinTheWorkArea) {
    struct Case {
        const char* normPos;
        bool dialog;
        TRect expected;
    } cases[] = {
        {"10,20,3010,2020", false, {0, 0, 1024, 768}},
        {"2147483567,0,2147483647,100", false, {944, 0, 1024, 100}},
        {"2147483567,0,2147483647,100", true, {724, 0, 1024, 200}},
        {"-2147483648,-2147483648,2147483647,2147483647", false, {0, 0, 1024, 768}},
        {"-500,-400,-100,-100", false, {0, 0, 400, 300}},
        {"900,700,1100,800", false, {824, 668, 1024, 768}},
        {"10,20,5,100", false, {100, 80, 740, 560}}, // left not below right: not applied
    };
    for (const auto& c : cases) {
        WriteFile(std::string("[Frm]\nNormPos=") + c.normPos + "\n");
        TFormPtr<TForm> f;
        if (c.dialog)
            f = CreateForm<TfrmDlgCommands>(Ini());
        else
            f = CreateForm<TfrmTerminal>(Ini());
        TIniFile ini(Ini());
        LoadWindowPlacement(f.get(), &ini, "Frm", false, true);
        EXPECT_EQ(WindowRect(*f), c.expected) << c.normPos;
    }
}

// The window state after a restore, by stored "ShowCmd" and by what the
// form starts as (maximised for a default-positioned form without a main form).
TEST_F(PlacementKeys, ShowCommandDecidesTheState) {
    struct Case {
        int showCmd;
        TPosition position;
        TWindowState expected;
    } cases[] = {
        {1, poDesigned, wsNormal}, {9, poDefault, wsNormal},    {3, poDesigned, wsMaximized},
        {4, poDesigned, wsNormal}, {4, poDefault, wsMaximized}, {0, poDefault, wsMaximized},
        {6, poDesigned, wsNormal}, // minimised main form: posted as a command, state stays normal
    };
    for (const auto& c : cases) {
        WriteFile("[Dlg]\nShowCmd=" + std::to_string(c.showCmd) + "\n");
        auto dlg = CreateForm<TfrmDlgCommands>(Ini());
        dlg->Position = c.position;
        dlg->SetWindowState(wsMaximized);
        TIniFile ini(Ini());
        LoadWindowPlacement(dlg.get(), &ini, "Dlg", true, false);
        EXPECT_EQ(dlg->WindowState(), c.expected) << c.showCmd << " " << c.position;
    }
}

TEST_F(PlacementKeys, SavedPlacementWritesEveryKeyTwice) {
    auto dlg = CreateForm<TfrmDlgCommands>(Ini());
    dlg->SetBounds(10, 20, 300, 200);
    {
        TRegIniFile reg("Software\\nuq");
        SaveWindowPlacement(dlg.get(), &reg, "Dlg");
    }
    TRegIniFile reg("Software\\nuq", TRegRoot::CurrentUser, true);
    EXPECT_EQ(reg.ReadString("Dlg", "NormPos(1024x768)", ""), "10,20,310,220");
    EXPECT_EQ(reg.ReadString("Dlg", "NormPos", ""), "10,20,310,220");
    EXPECT_EQ(reg.ReadString("Dlg", "ShowCmd", ""), "1");
    EXPECT_EQ(reg.ReadString("Dlg", "PixelsPerInch", ""), "96");
    EXPECT_FALSE(reg.ReadString("Dlg", "MinMaxPos(1024x768)", "").empty());
}

// The terminal keeps only its version and the tree panel's width.
TEST_F(FormStorage, TerminalGoldenText) {
    auto f = CreateForm<TfrmTerminal>(Ini());
    f->Show();
    f->pnlTree->SetWidth(250);
    ASSERT_TRUE(f->Close());
    EXPECT_EQ(FileText(Ini()), "[TfrmTerminal]\nFormVersion=0\npnlTree_Width=250\n");

    auto again = CreateForm<TfrmTerminal>(Ini());
    again->Show();
    EXPECT_EQ(again->pnlTree->Width(), 250);
}

// Controls whose classes publish nothing of their own keep what the
// framework publishes of every control.
TEST_F(FormStorage, PlainControlsKeepTheirPlaceAndSize) {
    {
        auto f = CreateForm<TfrmDlgReportParams>(Ini());
        f->Show();
        f->pnlBR->SetBounds(7, 0, 100, 40);
        f->imgState->SetBounds(0, 12, 33, 10);
        ASSERT_TRUE(f->Close());
    }
    EXPECT_EQ(FileText(Ini()), "[TfrmDlgReportParams]\nFormVersion=0\npnlBR_Height=40\n"
                               "pnlBR_Left=7\nimgState_Width=33\nimgState_Top=12\n");
    auto again = CreateForm<TfrmDlgReportParams>(Ini());
    again->Show();
    EXPECT_EQ(again->pnlBR->BoundsRect(), Bounds(7, 0, 100, 40));
    EXPECT_EQ(again->imgState->BoundsRect(), Bounds(0, 12, 33, 10));
    again->FormStorage->Active = false;
    again.reset();

    // A damaged file gives no place or size that a window cannot have.
    WriteFile("[TfrmDlgReportParams]\npnlBR_Height=2000000000\npnlBR_Left=-2000000000\n"
              "imgState_Width=-7\nimgState_Top=40000\n");
    auto damaged = CreateForm<TfrmDlgReportParams>(Ini());
    damaged->Show();
    EXPECT_EQ(damaged->pnlBR->BoundsRect(), Bounds(-32768, 0, 100, 32767));
    EXPECT_EQ(damaged->imgState->BoundsRect(), Bounds(0, 32767, 0, 10));
    damaged->FormStorage->Active = false;
}

// A dialog keeps its placement, whether it was visible and its active control.
TEST_F(FormStorage, DialogGoldenText) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    f->Show();
    f->SetBounds(10, 20, 300, 200);
    f->SetActiveControl(f->edtName.get());
    ASSERT_TRUE(f->Close());
    EXPECT_EQ(FileText(Ini()), "[TfrmDlgCommands]\n"
                               "FormVersion=0\n"
                               "Flags=0\n"
                               "ShowCmd=1\n"
                               "PixelsPerInch=96\n"
                               "MinMaxPos(1024x768)=-1,-1,-3,-3\n"
                               "MinMaxPos=-1,-1,-3,-3\n"
                               "NormPos(1024x768)=10,20,310,220\n"
                               "NormPos=10,20,310,220\n"
                               "Visible=0\n"
                               "ActiveControl=edtName\n");
}

TEST_F(FormStorage, ClosedBeforeShownSavesNothing) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    f->HandleNeeded();
    EXPECT_TRUE(f->Close());
    f.reset(); // destroyed unsaved: still never restored
    EXPECT_FALSE(std::filesystem::exists(Ini()));
}

// Destroying a shown form that was not closed saves it, as visible.
TEST_F(FormStorage, DestroyingAShownFormSavesOnce) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    f->Show();
    f.reset();
    EXPECT_EQ(TIniFile(Ini()).ReadString("TfrmDlgCommands", "Visible", ""), "1");
}

TEST_F(FormStorage, EmptyOptionsWriteOnlyVersionAndProperties) {
    auto f = CreateForm<TfrmTerminal>(Ini());
    f->fsView->Version = 3;
    f->fsView->SetStoredProps({});
    f->Show();
    f->Close();
    EXPECT_EQ(FileText(Ini()), "[TfrmTerminal]\nFormVersion=3\n");
}

// The stored properties alone, outside a save or restore, in either store:
// the storage is opened for the call and closed after it.
TEST_F(FormStorage, StoredPropsWrittenAndReadOnTheirOwn) {
    for (bool registry : {false, true}) {
        auto f = CreateForm<TfrmTerminal>(registry ? "Software\\nuq" : Ini());
        f->fsView->UseRegistry = registry;
        f->pnlTree->SetWidth(180);
        f->fsView->WriteStoredProps();
        EXPECT_EQ(f->fsView->Storage(), nullptr) << registry;
        std::unique_ptr<TCustomIniFile> store;
        if (registry)
            store = std::make_unique<TRegIniFile>("Software\\nuq", TRegRoot::CurrentUser, true);
        else
            store = std::make_unique<TIniFile>(Ini());
        EXPECT_EQ(store->ReadString("TfrmTerminal", "pnlTree_Width", ""), "180") << registry;

        f->pnlTree->SetWidth(90);
        f->fsView->ReadStoredProps();
        EXPECT_EQ(f->pnlTree->Width(), 180) << registry;
        EXPECT_EQ(f->fsView->Storage(), nullptr) << registry;
        f->fsView->Active = false;
    }
}

TEST_F(FormStorage, ActiveControlThatCannotTakeFocusIsIgnored) {
    for (const char* name : {"edtHidden", "edtMissing", "FormStorage", "edtName"}) {
        WriteFile(std::string("[TfrmDlgCommands]\nActiveControl=") + name + "\n");
        auto f = CreateForm<TfrmDlgCommands>(Ini());
        f->Show();
        TWinControl* expected = std::string(name) == "edtName" ? f->edtName.get() : nullptr;
        EXPECT_EQ(f->ActiveControl(), expected) << name;
    }
}

TEST_F(FormStorage, LowerStoredVersionSkipsTheRestore) {
    WriteFile("[TfrmTerminal]\nFormVersion=1\npnlTree_Width=250\n");
    for (int version : {2, 1}) {
        auto f = CreateForm<TfrmTerminal>(Ini());
        f->fsView->Version = version;
        f->Show();
        EXPECT_EQ(f->pnlTree->Width(), version == 1 ? 250 : 100) << version;
        f->fsView->Active = false; // the file stays as written
    }
}

TEST_F(FormStorage, OwnerThatIsNoFormKeepsOnlyItsVersion) {
    TComponent owner;
    owner.Name = "dmData";
    TFormPlacement p(&owner);
    p.Loaded();
    EXPECT_EQ(p.Options, 0u);
    p.SetPreventResize(true);
    p.UseRegistry = false;
    p.IniFileName = Ini();
    p.RestoreState();
    p.SaveState();
    EXPECT_EQ(FileText(Ini()), "[dmData]\nFormVersion=0\n");
}

// With PreventResize the size query answers the current size and the sizing
// border is no border at all; limits are handed out otherwise.
TEST_F(FormStorage, SizeQueriesAndHitTestsThroughTheHook) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    f->FormStorage->SetPreventResize(true);
    f->Show();
    EXPECT_EQ(f->BorderIcons() & biMaximize, 0u);
    TMinMaxInfo info;
    EXPECT_EQ(SendMessage(f->Handle(), WM_GETMINMAXINFO, 0, LPARAM(&info)), 1);
    EXPECT_EQ(info.MinTrackSize, (TPoint{300, 200}));
    EXPECT_EQ(info.MaxTrackSize, (TPoint{300, 200}));

    // The window's own hit test, seen after it: sizing codes become nowhere.
    TWindowHook border;
    border.SetWinControl(f.get());
    LRESULT fake = HTLEFT;
    border.BeforeMessage = [&](TWindowHook&, TMessage& m, bool& handled) {
        if (m.Msg == WM_NCHITTEST) {
            m.Result = fake;
            handled = true;
        }
    };
    for (LRESULT code :
         {LRESULT(HTLEFT), LRESULT(HTBOTTOMRIGHT), LRESULT(HTCLIENT), LRESULT(HTBORDER)}) {
        fake = code;
        LRESULT expected = code >= HTSIZEFIRST && code <= HTSIZELAST ? HTNOWHERE : code;
        EXPECT_EQ(SendMessage(f->Handle(), WM_NCHITTEST, 0, 0), expected) << code;
    }
    border.SetActive(false);

    f->FormStorage->SetPreventResize(false);
    f->FormStorage->MinMaxInfo().SetValue(TWinMinMaxInfo::MinTrackWidthF, 120);
    f->FormStorage->MinMaxInfo().SetValue(TWinMinMaxInfo::MaxTrackHeightF, 500);
    TMinMaxInfo limits;
    limits.MaxPosition = {7, 7};
    EXPECT_EQ(SendMessage(f->Handle(), WM_GETMINMAXINFO, 0, LPARAM(&limits)), 1);
    EXPECT_EQ(limits.MinTrackSize.X, 120);
    EXPECT_EQ(limits.MaxTrackSize.Y, 500);
    EXPECT_EQ(limits.MaxPosition, (TPoint{7, 7}));
    EXPECT_EQ(limits.MinTrackSize.Y, 0);
}

// Named values with and without a key; a duplicate name is refused.
TEST_F(FormStorage, StoredValuesKeyedAndPlain) {
    auto f = CreateForm<TfrmDlgCommands>(Ini());
    TStoredValue* password = f->FormStorage->StoredValues().Add();
    password->SetName("Password");
    password->KeyString = "k3y";
    password->Value = Variant("secret");
    TStoredValue* plain = f->FormStorage->StoredValues().Add();
    plain->SetName("Phone");
    plain->Value = Variant(12345);
    plain->OnSave = [](TStoredValue&, Variant& v) { v = Variant("+" + v.AsString()); };
    EXPECT_THROW(f->FormStorage->StoredValues().Add()->SetName("PASSWORD"), EStringListError);
    f->FormStorage->StoredValues().Delete(2);
    f->Show();
    f->Close();
    TIniFile ini(Ini());
    EXPECT_EQ(ini.ReadString("TfrmDlgCommands", "Password", ""), XorEncode("k3y", "secret"));
    EXPECT_EQ(ini.ReadString("TfrmDlgCommands", "Phone", ""), "+12345");

    password->Value = Variant("other");
    std::string restored;
    plain->OnRestore = [&](TStoredValue&, Variant& v) { restored = v.AsString(); };
    f->Show();
    EXPECT_EQ(password->Value.AsString(), "secret");
    EXPECT_EQ(restored, "+12345");
    EXPECT_EQ(f->FormStorage->StoredValues().IndexOf("phone"), 1);
    EXPECT_EQ(f->FormStorage->StoredValues().IndexOf("none"), -1);
}

// A storage that cannot be written fails the close, but not the destruction.
TEST_F(FormStorage, StorageErrorOnDestroyDoesNotEscape) {
    auto f = CreateForm<TfrmDlgCommands>(Dir + "/no-such-folder/nuq.INI");
    f->Show();
    EXPECT_THROW(f->Close(), EIniFileException);
    EXPECT_NO_THROW(f.reset());
}

// In a form resource: the settings, the stored properties under their
// components' current names, and the stored values (an empty one without
// its value).
TEST_F(FormStorage, FormResourceKeepsSettingsPropertiesAndValues) {
    auto f = CreateForm<TfrmTerminal>(Ini());
    TPanel old(f.get(), f.get(), "pnlOld");
    TFormStorage& fs = *f->fsView;
    fs.SetStoredProps({{"pnlTree.Width", nullptr}, {"pnlOld.Height", nullptr}});
    old.Name = "pnlNew";
    fs.Active = false;
    fs.Options = fpActiveControl;
    fs.RegistryRoot = prUsers;
    fs.Version = 3;
    fs.MinMaxInfo().SetValue(TWinMinMaxInfo::MinTrackWidthF, 200);
    TStoredValue* none = fs.StoredValues().Add();
    none->SetName("Empty");
    TStoredValue* kept = fs.StoredValues().Add();
    kept->SetName("Kept");
    kept->KeyString = "k";
    kept->Value = Variant(250);
    TWriter w;
    w.WriteComponent(fs);
    EXPECT_EQ(w.Data.find("\x05Value"), w.Data.rfind("\x05Value")); // once only

    auto copy = std::make_unique<TFormStorage>(f.get());
    TReader(w.Data).ReadComponent(*copy);
    EXPECT_EQ(copy->Name, "fsView");
    EXPECT_FALSE(copy->Active);
    EXPECT_FALSE(copy->UseRegistry);
    EXPECT_EQ(copy->IniFileName, Ini());
    EXPECT_EQ(copy->Options, unsigned(fpActiveControl));
    EXPECT_EQ(copy->RegistryRoot, prUsers);
    EXPECT_EQ(copy->Version, 3);
    EXPECT_EQ(copy->MinMaxInfo().MinTrackWidth(), 200);
    ASSERT_EQ(copy->StoredProps().size(), 2u);
    EXPECT_EQ(copy->StoredProps()[0].Text, "pnlTree.Width");
    EXPECT_EQ(copy->StoredProps()[0].Component, f->pnlTree.get());
    EXPECT_EQ(copy->StoredProps()[1].Text, "pnlNew.Height");
    EXPECT_EQ(copy->StoredProps()[1].Component, &old);
    ASSERT_EQ(copy->StoredValues().Count(), 2);
    EXPECT_EQ(copy->StoredValues().Item(0)->Name(), "Empty");
    EXPECT_TRUE(copy->StoredValues().Item(0)->Value.IsEmpty());
    EXPECT_EQ(copy->StoredValues().Item(1)->Value, Variant(250));
    EXPECT_EQ(copy->StoredValues().Item(1)->KeyString, "k");
}

TEST_F(FormStorage, RemovedComponentLeavesTheStoredList) {
    auto f = CreateForm<TfrmTerminal>(Ini());
    ASSERT_EQ(f->fsView->StoredProps().size(), 1u);
    EXPECT_EQ(f->fsView->StoredProps()[0].Component, f->pnlTree.get());
    f->pnlTree.reset();
    EXPECT_TRUE(f->fsView->StoredProps().empty());
}
