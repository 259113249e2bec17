// The modal drag loop over plain windows: which target hears what, and what
// the drag reports, driven by mouse and key messages posted before it runs.

#include "platform/gui/Ole.h"

#include "platform/EventLoop.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Windows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace nuq;

namespace {

struct Source : IDropSource {
    // The rules of a plain drag: Escape or both buttons cancel, no button drops.
    HRESULT QueryContinueDrag(bool escape, DWORD keys) override {
        if (escape || (keys & (MK_LBUTTON | MK_RBUTTON)) == (MK_LBUTTON | MK_RBUTTON))
            return DRAGDROP_S_CANCEL;
        return keys & (MK_LBUTTON | MK_RBUTTON) ? S_OK : DRAGDROP_S_DROP;
    }
    HRESULT GiveFeedback(DWORD) override {
        return DefaultCursors ? DRAGDROP_S_USEDEFAULTCURSORS : S_OK;
    }
    bool DefaultCursors = false;
};

struct Target : IDropTarget {
    Target(std::string name, std::vector<std::string>* log) : Name(std::move(name)), Log(log) {}
    std::string Name;
    std::vector<std::string>* Log;
    DWORD Answer = DROPEFFECT_MOVE | DROPEFFECT_LINK;
    HWND RevokeOnOver = 0;
    HCURSOR CursorAtDrop = nullptr;
    void Note(const std::string& what) { Log->push_back(Name + " " + what); }
    HRESULT DragEnter(IDataObject*, DWORD, TPoint, DWORD& effect) override {
        Note("enter");
        effect &= Answer;
        return S_OK;
    }
    HRESULT DragOver(DWORD keys, TPoint pt, DWORD& effect) override {
        Note("over " + std::to_string(pt.X) + (keys & MK_CONTROL ? " ctrl" : ""));
        if (RevokeOnOver) RevokeDragDrop(std::exchange(RevokeOnOver, 0));
        effect &= Answer;
        return S_OK;
    }
    HRESULT DragLeave() override {
        Note("leave");
        return S_OK;
    }
    HRESULT Drop(IDataObject*, DWORD keys, TPoint, DWORD& effect) override {
        Note(std::string("drop") + (keys & MK_LBUTTON ? " left" : ""));
        CursorAtDrop = GetCursor();
        effect &= Answer;
        return S_OK;
    }
};

// Data is never looked at by the loop; any object does.
struct NoData : IDataObject {
    HRESULT GetData(const TFormatEtc&, TStgMedium&) override { return E_NOTIMPL; }
    HRESULT GetDataHere(const TFormatEtc&, TStgMedium&) override { return E_NOTIMPL; }
    HRESULT QueryGetData(const TFormatEtc&) override { return E_NOTIMPL; }
    HRESULT GetCanonicalFormatEtc(const TFormatEtc&, TFormatEtc&) override { return E_NOTIMPL; }
    HRESULT SetData(const TFormatEtc&, TStgMedium&, bool) override { return E_NOTIMPL; }
    HRESULT EnumFormatEtc(DWORD, std::shared_ptr<IEnumFORMATETC>&) override { return E_NOTIMPL; }
    HRESULT DAdvise(const TFormatEtc&, DWORD, std::shared_ptr<IAdviseSink>, DWORD&) override {
        return E_NOTIMPL;
    }
    HRESULT DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT EnumDAdvise(std::vector<DWORD>&) override { return E_NOTIMPL; }
};

struct DragLoop : ::testing::Test {
    std::vector<std::string> Log;
    HWND Left = 0, Right = 0, Child = 0;
    Target L{"L", &Log}, R{"R", &Log};
    Source S;
    NoData D;
    HWND Make(int x, HWND parent = 0) {
        TCreateParams p;
        p.Style = WS_VISIBLE | (parent ? WS_CHILD : WS_POPUP);
        p.X = x;
        p.Width = 100;
        p.Height = 100;
        p.Parent = parent;
        return CreateWindowEx(p);
    }
    void SetUp() override {
        SetMainThread();
        Left = Make(0);
        Right = Make(200);
        Child = Make(10, Right); // no target of its own: its parent's takes its drops
        RegisterDragDrop(Left, &L);
        RegisterDragDrop(Right, &R);
        SetCursorPos({5, 5});
    }
    void TearDown() override {
        RevokeDragDrop(Left);
        RevokeDragDrop(Right);
        for (HWND w : {Child, Left, Right}) DestroyWindow(w);
        for (int vk : {VK_CONTROL}) SetKeyState(vk, false);
    }
    void Move(HWND w, int x, WPARAM keys = MK_LBUTTON) {
        PostMessage(w, WM_MOUSEMOVE, keys, MakeLParam(x, 5));
    }
};

} // namespace

TEST_F(DragLoop, TargetsFollowThePointerAndTheDropTakesTheirEffect) {
    Move(Child, 20);                                       // screen 230, over Right
    Move(Left, 50);                                        // back over Left
    PostMessage(Left, WM_KEYDOWN, VK_CONTROL, 0);          // Ctrl goes down: asked again
    PostMessage(Left, WM_LBUTTONUP, 0, MakeLParam(50, 5)); // dropped on Left
    SetKeyState(VK_CONTROL, true);
    DWORD effect = 99;
    EXPECT_EQ(DoDragDrop(&D, &S, DROPEFFECT_COPY | DROPEFFECT_MOVE, effect), DRAGDROP_S_DROP);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_MOVE)) << "what both allow";
    EXPECT_EQ(Log, (std::vector<std::string>{"L enter", "L over 5 ctrl", "L leave", "R enter",
                                             "R over 230", "R leave", "L enter", "L over 50",
                                             "L over 50 ctrl", "L drop left"}));
    EXPECT_EQ(GetCapture(), HWND(0));
}

TEST_F(DragLoop, RefusalsCancelsAndRevokedTargets) {
    struct Case {
        const char* name;
        UINT last;
        WPARAM lastParam;
        HRESULT result;
    };
    for (const Case& c :
         {Case{"escape", WM_KEYDOWN, VK_ESCAPE, DRAGDROP_S_CANCEL},
          Case{"both buttons", WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, DRAGDROP_S_CANCEL},
          Case{"refused", WM_LBUTTONUP, 0, DRAGDROP_S_DROP}}) {
        Log.clear();
        L.Answer = DROPEFFECT_NONE;
        PostMessage(Left, c.last, c.lastParam, MakeLParam(5, 5));
        DWORD effect = 99;
        EXPECT_EQ(DoDragDrop(&D, &S, DROPEFFECT_COPY, effect), c.result) << c.name;
        EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE)) << c.name;
        EXPECT_EQ(Log, (std::vector<std::string>{"L enter", "L over 5", "L leave"}))
            << c.name << ": no drop where nothing was accepted";
    }
    // A target revoked during the drag hears nothing more, not even the leave.
    Log.clear();
    L.Answer = DROPEFFECT_COPY;
    L.RevokeOnOver = Left;
    Move(Left, 6);
    PostMessage(Left, WM_LBUTTONUP, 0, MakeLParam(6, 5));
    DWORD effect = 99;
    EXPECT_EQ(DoDragDrop(&D, &S, DROPEFFECT_COPY, effect), DRAGDROP_S_DROP);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
    EXPECT_EQ(Log, (std::vector<std::string>{"L enter", "L over 5"}));
    EXPECT_EQ(DoDragDrop(nullptr, &S, DROPEFFECT_COPY, effect), E_INVALIDARG);
}

TEST_F(DragLoop, DefaultCursorsShowTheEffectUntilTheEnd) {
    struct Case {
        const char* Name;
        DWORD Answer;
        int Cursor; // at the drop, or while over the target
    } cases[] = {
        {"move", DROPEFFECT_MOVE, crDrag},
        {"copy", DROPEFFECT_COPY, crMultiDrag},
        {"refused", DROPEFFECT_NONE, crNoDrop},
    };
    S.DefaultCursors = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        L.Answer = c.Answer;
        L.CursorAtDrop = nullptr;
        HCURSOR before = SetCursor(LoadCursor(IDC_IBEAM));
        Move(Left, 6);
        // Refused: the cursor is read while the pointer is still over the target.
        if (c.Answer == DROPEFFECT_NONE) PostMessage(Left, WM_NULL, 0, 0);
        PostMessage(Left, WM_LBUTTONUP, 0, MakeLParam(6, 5));
        DWORD effect = 0;
        HCURSOR during = nullptr;
        if (c.Answer == DROPEFFECT_NONE) {
            TWindowProc old = GetWindowProc(Left);
            SetWindowProc(Left, {[&](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                                     if (m == WM_NULL) during = GetCursor();
                                     return CallWindowProc(old, w, m, wp, lp);
                                 },
                                 nullptr});
            DoDragDrop(&D, &S, DROPEFFECT_COPY | DROPEFFECT_MOVE, effect);
            SetWindowProc(Left, old);
        } else {
            DoDragDrop(&D, &S, DROPEFFECT_COPY | DROPEFFECT_MOVE, effect);
            during = L.CursorAtDrop;
        }
        EXPECT_EQ(during, Screen().Cursor(c.Cursor));
        EXPECT_EQ(GetCursor(), LoadCursor(IDC_IBEAM)) << "the cursor from before the drag";
        SetCursor(before);
    }
}

TEST_F(DragLoop, RealKeysReachTheLoopNotTheFocusedWindow) {
    std::vector<UINT> heard; // by the focused window
    TWindowProc old = GetWindowProc(Left);
    SetWindowProc(Left, {[&](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                             if (m == WM_KEYDOWN || m == WM_CHAR) heard.push_back(m);
                             // Escape arrives from the host while the loop runs.
                             if (m == WM_NULL) DeliverKey(w, WM_KEYDOWN, VK_ESCAPE, 0);
                             return CallWindowProc(old, w, m, wp, lp);
                         },
                         nullptr});
    SetFocus(Left);
    PostMessage(Left, WM_NULL, 0, 0);
    PostMessage(Left, WM_LBUTTONUP, 0, MakeLParam(5, 5)); // ends a loop that missed Escape
    DWORD effect = 99;
    EXPECT_EQ(DoDragDrop(&D, &S, DROPEFFECT_MOVE, effect), DRAGDROP_S_CANCEL);
    EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
    TMsg unused; // the release after the cancel
    PeekMessage(unused, 0, 0, 0, PM_REMOVE);
    EXPECT_TRUE(heard.empty());
    DeliverKey(Left, WM_KEYDOWN, 'A', 'a'); // after the drag the focus hears keys again
    EXPECT_EQ(heard, (std::vector<UINT>{WM_KEYDOWN, WM_CHAR}));
    SetWindowProc(Left, old);
    SetFocus(0);
}
