#include "foundation/uClasses.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

tVarList Filled() {
    tVarList list;
    list.Add("Port", 5);
    list.Add("Name", "Котельная");
    list.Add("port", 7);
    list.Add("Port", 9);
    return list;
}

} // namespace

// Exact names only: case counts, and the first of equal names wins.
TEST(VarList, FindByNameIsExact) {
    tVarList list = Filled();
    struct Case {
        const char* Name;
        int Found; // index, -1 for none
    };
    for (const Case& c : {Case{"Port", 0}, Case{"port", 2}, Case{"PORT", -1}, Case{"Name", 1},
                          Case{"name", -1}, Case{"Name ", -1}, Case{"", -1}})
        EXPECT_EQ(list.FindByName(c.Name), c.Found < 0 ? nullptr : list.Items(c.Found)) << c.Name;
    EXPECT_EQ(tVarList().FindByName("Port"), nullptr);
}

TEST(VarList, DeleteRemovesAndShifts) {
    tVarList list = Filled();
    list.Delete(0);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.FindByName("Port")->Value.AsInteger(), 9);
    EXPECT_EQ(list.Items(0)->Name, "Name");
    for (int bad : {-1, 3, 100}) {
        EXPECT_THROW(list.Delete(bad), EListError) << bad;
        EXPECT_THROW(list.Items(bad), EListError) << bad;
    }
    EXPECT_EQ(list.Count(), 3);
}

TEST(VarList, ClearEmptiesAnyList) {
    tVarList empty;
    empty.Clear();
    EXPECT_EQ(empty.Count(), 0);
    tVarList list = Filled();
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.FindByName("Port"), nullptr);
    list.Add("Port", 1);
    EXPECT_EQ(list.Items(0)->Value.AsInteger(), 1);
}

TEST(ModuleAboutInfo, CursorsAndAboutRecord) {
    static_assert(crFHHandCur == 14000 && crFHDragCur == 14001);
    tModuleAboutInfo about{"Терминал", "1.0", "Теплосеть"};
    EXPECT_EQ(about.ModuleName, "Терминал");
    EXPECT_EQ(about.Company, "Теплосеть");
}
