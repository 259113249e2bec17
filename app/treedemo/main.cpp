// A window with a string tree of 1,000,000 nodes (1,000 groups of 999 items)
// under a header with three columns. Focus, expansion and selection changes
// are logged to stdout, one line each; once shown it prints "ready N nodes at
// X Y" (the screen position of the first row's top-left corner) and ends on a
// "quit" line or the end of its input. "--screenshot FILE" saves the window
// as PNG and exits instead of showing it.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

using namespace nuq;

namespace {

constexpr uint32_t Groups = 1000, ItemsPerGroup = 999;

std::u16string U16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

std::string NodeName(TBaseLazyTree& tree, PLazyNode node) {
    if (!node) return "none";
    if (tree.GetNodeLevel(node) == 0) return "group " + std::to_string(node->Index + 1);
    return "item " + std::to_string(node->Parent->Index + 1) + "." +
           std::to_string(node->Index + 1);
}

class TDemoForm : public TCustomControl {
public:
    using TCustomControl::TCustomControl;

protected:
    void Paint() override {
        Canvas().Brush.Color = clBtnFace;
        Canvas().FillRect(ClientRect());
    }
};

void SetUpTree(TLazyStringTree& tree) {
    TLTHeader& header = tree.Header();
    const char16_t* captions[] = {u"Name", u"Level", u"Value"};
    const int widths[] = {260, 140, 160};
    for (int i = 0; i < 3; ++i) {
        TLazyTreeColumn* c = header.Columns().Add();
        c->SetText(captions[i]);
        c->SetWidth(widths[i]);
    }
    header.SetOptions(header.Options() | hoVisible);
    tree.OnInitNode = [](TBaseLazyTree& t, PLazyNode parent, PLazyNode,
                         TLazyNodeInitStates& states) {
        if (!parent || parent == t.RootNode()) states |= ivsHasChildren;
    };
    tree.OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& count) { count = ItemsPerGroup; };
    tree.OnGetText = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column, int,
                        std::u16string& text) {
        bool group = t.GetNodeLevel(node) == 0;
        switch (column) {
        case 0:
            text = U16(NodeName(t, node));
            break;
        case 1:
            text = group ? u"group" : u"item";
            break;
        default:
            text = U16(std::to_string((node->Index + 1) * (group ? 1000 : 7) % 100000));
            break;
        }
    };
    tree.OnFocusChanged = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column) {
        std::cout << "focus " << NodeName(t, node) << " column " << column << std::endl;
    };
    tree.OnExpanded = [](TBaseLazyTree& t, PLazyNode node) {
        std::cout << "expanded " << NodeName(t, node) << std::endl;
    };
    tree.OnCollapsed = [](TBaseLazyTree& t, PLazyNode node) {
        std::cout << "collapsed " << NodeName(t, node) << std::endl;
    };
    tree.OnChange = [](TBaseLazyTree& t, PLazyNode node) {
        std::cout << "selection " << NodeName(t, node) << " count " << t.SelectedCount()
                  << std::endl;
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

} // namespace

int main(int argc, char** argv) {
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
    SetUpTree(*tree);
    TWindowHost host(h);
    if (argc == 3 && std::strcmp(argv[1], "--screenshot") == 0) {
        ProcessMessagesUntil([] { return false; }, 100);
        UpdateWindow(tree->WindowHandle());
        if (!host.SaveImage(argv[2])) {
            std::cerr << "cannot save " << argv[2] << "\n";
            return 1;
        }
        return 0;
    }
    host.Show();
    // The host's corner, the form's client area, the tree in it and the tree's client area.
    TRect at = host.Geometry();
    TPoint formOrigin = ClientOrigin(h), treeOrigin = ClientOrigin(tree->WindowHandle());
    std::cout << "ready " << tree->TotalCount() << " nodes at "
              << at.Left + formOrigin.X + tree->Left() + treeOrigin.X << " "
              << at.Top + formOrigin.Y + tree->Top() + treeOrigin.Y << std::endl;
    std::string input;
    TFdWatch commands(0, fdRead, [&](short) {
        char buffer[256];
        ssize_t n = read(0, buffer, sizeof buffer);
        if (n > 0) input.append(buffer, size_t(n));
        if (n <= 0 || input.find("quit") != std::string::npos) {
            commands.Stop();
            QuitGuiApplication(0);
        }
    });
    int result = RunGuiApplication();
    tree.reset();
    return result;
}
