// The tree's drag hooks: the owner's drag manager, the framework's own drag
// kind (start, messages, end), and redrawing under a shown drag image.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct DragHookFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 200, 150);
    }
    void TearDown() override { Tree.reset(); }
};

using DragHooks = DragHookFixture;

// An owner's manager that counts the drop-target calls reaching it.
struct OwnerDragManager : TLTDragManager {
    using TLTDragManager::TLTDragManager;
    int Leaves = 0;
    HRESULT DragLeave() override {
        ++Leaves;
        return TLTDragManager::DragLeave();
    }
};

// The owner is asked for the drag manager first; the tree makes its own only
// when the owner gives none, and the window's drop target is that manager.
TEST_F(DragHooks, OwnerSuppliesTheDragManager) {
    for (bool ownerGivesOne : {true, false}) {
        Tree = NewComponent<TLazyStringTree>();
        std::shared_ptr<OwnerDragManager> given;
        int asked = 0;
        Tree->OnCreateDragManager = [&](TBaseLazyTree& t, std::shared_ptr<ILTDragManager>& m) {
            ++asked;
            if (ownerGivesOne) m = given = std::make_shared<OwnerDragManager>(&t);
        };
        HWND h = Tree->Handle();
        ILTDragManager* m = Tree->DragManager();
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(Tree->DragManager(), m) << "kept, not asked again";
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(RegisteredDropTarget(h), static_cast<IDropTarget*>(m));
        if (ownerGivesOne) {
            EXPECT_EQ(m, given.get());
            static_cast<IDropTarget*>(m)->DragLeave();
            EXPECT_EQ(given->Leaves, 1);
        } else
            EXPECT_NE(dynamic_cast<TLTDragManager*>(m), nullptr);
    }
}

} // namespace
