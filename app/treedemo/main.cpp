// A window with a string tree of 1,000,000 nodes (1,000 groups of 999 items)
// under a header with three columns, with what a person meets in the tree
// switched on: multi-selection, in-place editing (F2 or a slow click), node
// drag and drop within the tree, check boxes on the items, hot tracking, tool
// tips for cut-off captions and a header popup menu. The tree follows the
// window's size.
//
// What happens is logged to stdout, one line each; once shown it prints
// "window ID" (the native window) and "ready N nodes at X Y" (the screen
// position of the first row's top-left corner). It reads commands from its
// input: "cursor" prints the cursor shown now, "layout" the tree's client size
// and its header's height ("layout W H HEADER"), "repaint" paints the whole
// window afresh ("repaint done"), "quit" ends it, and so does the end of the
// input.

#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace nuq;

namespace {

constexpr uint32_t Groups = 1000, ItemsPerGroup = 999;

const char* const Usage =
    "usage: nuq-treedemo [--screenshot FILE] [--russian]\n"
    "Shows a tree of 1,000,000 nodes in a window and logs what happens in it.\n"
    "  --screenshot FILE  saves the window as PNG and exits instead of showing it\n"
    "  --russian          Russian captions (\"Котельная 1\", \"т.1.1\") in the first column\n"
    "  --help             prints this text\n"
    "Input lines: \"cursor\" prints the cursor shown now, \"layout\" the tree's\n"
    "client size and header height, \"repaint\" paints the window afresh; \"quit\"\n"
    "(or the end of the input) ends it.\n";

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::string NodeName(TBaseLazyTree& tree, PLazyNode node) {
    if (!node) return "none";
    if (tree.GetNodeLevel(node) == 0) return "group " + std::to_string(node->Index + 1);
    // The place from the group down, so that a node dropped deeper is named
    // by where it is ("item 1.28.1").
    std::string place = std::to_string(node->Index + 1);
    for (PLazyNode p = node->Parent; p && p != tree.RootNode(); p = p->Parent)
        place = std::to_string(p->Index + 1) + "." + place;
    return "item " + place;
}

std::string CursorName(HCURSOR c) {
    if (!c) return "arrow";
    switch (c->SystemId) {
    case 0:
        for (int n : {14000, 14001, crHeaderSplit, crVertSplit})
            if (Screen().Cursor(n) == c) return "screen " + std::to_string(n);
        return "picture";
    case IDC_ARROW:
        return "arrow";
    case IDC_SIZEWE:
        return "size-we";
    case IDC_HAND:
        return "hand";
    default:
        return "system " + std::to_string(c->SystemId);
    }
}

// Captions changed by editing; the others are made from the node's place.
std::map<PLazyNode, std::u16string> edited;
bool russian = false; // boiler rooms and their measuring points ("т.") in Russian

std::u16string PlaceCaption(TBaseLazyTree& tree, PLazyNode node) {
    if (!russian) return U16(NodeName(tree, node));
    if (tree.GetNodeLevel(node) == 0)
        return Utf8ToUtf16("Котельная " + std::to_string(node->Index + 1));
    return Utf8ToUtf16("т." + std::to_string(node->Parent->Index + 1) + "." +
                       std::to_string(node->Index + 1));
}

// The caption a person sees: an edited one, or the one made from its place.
std::u16string ShownCaption(TBaseLazyTree& tree, PLazyNode node) {
    auto it = edited.find(node);
    return it != edited.end() ? it->second : PlaceCaption(tree, node);
}

std::string Caption(TBaseLazyTree& tree, PLazyNode node) {
    return Utf16ToUtf8(ShownCaption(tree, node));
}

class TDemoForm : public TCustomControl {
public:
    using TCustomControl::TCustomControl;
    TWinControl* Tree = nullptr;

    void Dispatch(TMessage& m) override {
        TCustomControl::Dispatch(m);
        if (m.Msg == WM_SIZE && Tree) {
            TRect r = ClientRect();
            Tree->SetBounds(0, 0, r.Width(), r.Height());
            std::cout << "tree size " << Tree->Width() << " " << Tree->Height() << std::endl;
        }
    }

protected:
    void Paint() override {
        Canvas().Brush.Color = clBtnFace;
        Canvas().FillRect(ClientRect());
    }
};

void SetUpHeader(TLazyStringTree& tree, TPopupMenu* menu) {
    TLTHeader& header = tree.Header();
    const char16_t* captions[] = {u"Name", u"Level", u"Value"};
    const int widths[] = {260, 140, 160};
    for (int i = 0; i < 3; ++i) {
        TLazyTreeColumn* c = header.Columns().Add();
        c->SetText(captions[i]);
        c->SetWidth(widths[i]);
    }
    header.SetOptions(header.Options() | hoVisible | hoShowHint | hoHotTrack);
    // The header's popup menu shows or hides a column.
    menu->OnPopup = [&header](TPopupMenu& m, TPoint at) {
        m.Items.clear();
        for (int i = 0; i < header.Columns().Count(); ++i) {
            TLazyTreeColumn& column = header.Columns()[i];
            m.Items.emplace_back();
            m.Items.back().Caption = Utf16ToUtf8(column.Text());
            m.Items.back().Checked = column.Options() & coVisible;
            m.Items.back().OnClick = [&column](TPopupMenu&, TMenuItem&) {
                column.SetOptions(column.Options() ^ coVisible);
            };
        }
        std::cout << "popup at " << at.X << " " << at.Y << std::endl;
    };
    menu->OnClose = [](TPopupMenu&, int chosen) {
        std::cout << "popup closed " << chosen << std::endl;
    };
    header.PopupMenu = menu;
    tree.OnColumnResize = [](TLTHeader& h, TColumnIndex column) {
        std::cout << "column " << column << " width " << h.Columns()[column].Width() << std::endl;
    };
    // Dropped next to itself a column keeps its place: nothing moved.
    tree.OnHeaderDragged = [](TLTHeader& h, TColumnIndex column, int oldPosition) {
        const int position = int(h.Columns()[column].Position());
        if (position == oldPosition)
            std::cout << "column " << column << " stays at " << position << std::endl;
        else
            std::cout << "column " << column << " moved from " << oldPosition << " to " << position
                      << std::endl;
    };
}

void SetUpTree(TLazyStringTree& tree, TPopupMenu* headerMenu) {
    SetUpHeader(tree, headerMenu);
    auto& options = tree.TreeOptions();
    options.SetSelectionOptions(options.SelectionOptions() | toMultiSelect);
    options.SetMiscOptions(options.MiscOptions() | toEditable | toCheckSupport);
    options.SetPaintOptions(options.PaintOptions() | toHotTrack);
    // A node dragged to an edge scrolls the tree there.
    options.SetAutoOptions(options.AutoOptions() | toAutoScroll);
    tree.HotCursor = crHandPoint;
    tree.HintMode = hmTooltip;
    tree.OnInitNode = [](TBaseLazyTree& t, PLazyNode parent, PLazyNode node,
                         TLazyNodeInitStates& states) {
        if (!parent || parent == t.RootNode())
            states |= ivsHasChildren;
        else
            node->CheckType = ctCheckBox;
    };
    tree.OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& count) { count = ItemsPerGroup; };
    tree.OnGetText = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column, int,
                        std::u16string& text) {
        bool group = t.GetNodeLevel(node) == 0;
        switch (column) {
        case 0: {
            text = ShownCaption(t, node);
            break;
        }
        case 1:
            text = group ? u"group" : u"item";
            break;
        default:
            text = U16(std::to_string((node->Index + 1) * (group ? 1000 : 7) % 100000));
            // The groups' values are cut off by their column: a tool tip shows them whole.
            if (group) text += u" measured in the boiler room's flow line, in degrees Celsius";
            break;
        }
    };
    tree.OnNewText = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column,
                        const std::u16string& text) {
        if (column == 0) edited[node] = text;
        std::cout << "edited " << NodeName(t, node) << " column " << column << " \""
                  << Utf16ToUtf8(text) << "\"" << std::endl;
    };
    tree.OnFreeNode = [](TBaseLazyTree&, PLazyNode node) { edited.erase(node); };
    tree.OnFocusChanged = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column) {
        std::cout << "focus " << NodeName(t, node) << " column " << column << std::endl;
    };
    // A node without children opens or closes nothing a person sees.
    auto hasChildren = [](PLazyNode node) {
        return node->ChildCount > 0 || (node->States & vsHasChildren);
    };
    tree.OnExpanded = [hasChildren](TBaseLazyTree& t, PLazyNode node) {
        if (hasChildren(node)) std::cout << "expanded " << NodeName(t, node) << std::endl;
    };
    tree.OnCollapsed = [hasChildren](TBaseLazyTree& t, PLazyNode node) {
        if (hasChildren(node)) std::cout << "collapsed " << NodeName(t, node) << std::endl;
    };
    tree.OnChange = [](TBaseLazyTree& t, PLazyNode node) {
        std::cout << "selection " << NodeName(t, node) << " count " << t.SelectedCount()
                  << std::endl;
    };
    tree.OnChecked = [](TBaseLazyTree& t, PLazyNode node) {
        std::cout << "checked " << NodeName(t, node) << " state " << int(node->CheckState)
                  << std::endl;
    };
    tree.OnHotChange = [](TBaseLazyTree& t, PLazyNode, PLazyNode node) {
        std::cout << "hot " << NodeName(t, node) << std::endl;
    };
    tree.OnScroll = [](TBaseLazyTree& t, int, int) {
        std::cout << "offset " << t.OffsetX() << " " << t.OffsetY() << std::endl;
    };
    // Nodes dragged within the tree: dropped on a node they become its last children.
    tree.OnDragAllowed = [](TBaseLazyTree&, PLazyNode, TColumnIndex, bool& allowed) {
        allowed = true;
    };
    tree.OnDragOver = [](TBaseLazyTree&, TPersistent*, TShiftState, TDragState, TPoint,
                         TDropMode mode, DWORD& effect, bool& accept) {
        accept = mode == dmOnNode;
        effect = DROPEFFECT_MOVE;
    };
    tree.OnDragDrop = [](TBaseLazyTree& t, TPersistent* source, IDataObject*,
                         const std::vector<WORD>&, TShiftState, TPoint, DWORD& effect,
                         TDropMode mode) {
        PLazyNode target = t.DropTargetNode();
        // Only this tree's own selection is moved.
        if (mode != dmOnNode || !target || source != &t) return;
        // Named as they showed when dropped, all before the first moves: captions made
        // from places change with each move, and so do the places of the nodes after it.
        const std::string onto = Caption(t, target);
        std::vector<std::pair<PLazyNode, std::string>> moved;
        for (PLazyNode node : t.GetSortedSelection(true))
            if (node != target && !t.HasAsParent(target, node))
                moved.emplace_back(node, Caption(t, node));
        for (const auto& [node, name] : moved) t.MoveTo(node, target, amAddChildLast);
        // Each where it went, once all have moved.
        for (const auto& [node, name] : moved)
            std::cout << "moved " << name << " onto " << onto << " as " << NodeName(t, node)
                      << "\n";
        std::cout.flush();
        effect = DROPEFFECT_NONE; // moved here; the source deletes nothing
    };
    // Typing a caption's first letters finds the node.
    tree.SetIncrementalSearch(isAll);
    tree.SetRootNodeCount(Groups);
    // Every item made now, so the tree holds its million nodes from the start.
    for (PLazyNode group = tree.RootNode()->FirstChild; group; group = group->NextSibling)
        tree.SetChildCount(group, ItemsPerGroup);
    // The first group open, so lines and buttons of both levels show.
    tree.SetExpanded(tree.GetFirst(), true);
}

bool HasDisplay() {
    const char* platform = getenv("QT_QPA_PLATFORM");
    if (platform && std::strcmp(platform, "offscreen") == 0) return false;
    const char* x = getenv("DISPLAY");
    const char* wayland = getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

} // namespace

int main(int argc, char** argv) {
    std::string screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::cout << Usage;
            return 0;
        }
        if (std::strcmp(argv[i], "--russian") == 0) {
            russian = true;
            continue;
        }
        if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
            screenshot = argv[++i];
            continue;
        }
        std::cerr << "nuq-treedemo: unknown argument \"" << argv[i] << "\"\n" << Usage;
        return 2;
    }
    if (screenshot.empty() && !HasDisplay()) {
        std::cerr << "nuq-treedemo: no display to show the window on (set DISPLAY, or use "
                     "--screenshot FILE)\n";
        return 2;
    }
    InitGuiApplication(argc, argv);
    InitializeGlobalStructures();
    auto form = NewComponent<TDemoForm>();
    form->SetBounds(100, 100, 640, 420);
    HWND h = form->Handle();
    SetWindowText(h, "Lazy tree: 1,000,000 nodes");
    auto tree = NewComponent<TLazyStringTree>(form.get());
    tree->SetParent(form.get());
    tree->SetBounds(0, 0, 640, 420);
    tree->Color = clWindow;
    tree->Handle();
    form->Tree = tree.get();
    auto headerMenu = NewComponent<TPopupMenu>(tree.get());
    SetUpTree(*tree, headerMenu.get());
    // The host follows the window both ways, so the window's screen position is the host's.
    TWindowHost host(h, true);
    if (!screenshot.empty()) {
        ProcessMessagesUntil([] { return false; }, 100);
        UpdateWindow(tree->WindowHandle());
        if (!host.SaveImage(screenshot)) {
            std::cerr << "cannot save " << screenshot << "\n";
            return 1;
        }
        return 0;
    }
    host.Show();
    // The host's corner, the form's client area, the tree in it and the tree's client area.
    TRect at = host.Geometry();
    TPoint formOrigin = ClientOrigin(h), treeOrigin = ClientOrigin(tree->WindowHandle());
    std::cout << "window " << host.NativeWindow() << std::endl;
    std::cout << "ready " << tree->TotalCount() << " nodes at "
              << at.Left + formOrigin.X + tree->Left() + treeOrigin.X << " "
              << at.Top + formOrigin.Y + tree->Top() + treeOrigin.Y << std::endl;
    std::string input;
    TFdWatch commands(0, fdRead, [&](short) {
        char buffer[256];
        ssize_t n = read(0, buffer, sizeof buffer);
        if (n > 0) input.append(buffer, size_t(n));
        for (size_t end; (end = input.find('\n')) != std::string::npos;) {
            std::string line = input.substr(0, end);
            input.erase(0, end + 1);
            if (line == "cursor") std::cout << "cursor " << CursorName(GetCursor()) << std::endl;
            if (line == "layout") {
                TRect client;
                GetClientRect(tree->WindowHandle(), client);
                std::cout << "layout " << client.Width() << " " << client.Height() << " "
                          << tree->Header().Height << std::endl;
            }
            if (line == "repaint") {
                // Everything painted afresh: what the screen must already show.
                for (HWND w : {form->Handle(), tree->WindowHandle()})
                    RedrawWindow(w, nullptr,
                                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW);
                std::cout << "repaint done" << std::endl;
            }
            if (line == "quit") n = 0;
        }
        if (n <= 0) {
            commands.Stop();
            QuitGuiApplication(0);
        }
    });
    int result = RunGuiApplication();
    // A million nodes take a while to free; the process ends without it.
    std::cout.flush();
    std::_Exit(result);
}
