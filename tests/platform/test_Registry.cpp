#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace nuq;

namespace {

// Every test gets a configuration folder of its own.
class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/nuq_reg_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        Dir = tmpl;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) Saved = old;
        setenv("XDG_CONFIG_HOME", Dir.c_str(), 1);
    }
    void TearDown() override {
        if (Saved.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", Saved.c_str(), 1);
        std::filesystem::remove_all(Dir);
    }
    std::string Dir, Saved;
};

} // namespace

// Values come back exactly: quotes, blanks, separators and line breaks.
TEST_F(RegistryStore, KeepsValuesAsWritten) {
    const std::string values[] = {"'quoted'", "\"double\"",   "  padded  ",  "a=b",
                                  "[x]",      "two\nlines\r", "back\\slash", ""};
    {
        TRegIniFile reg("Software\\nuq");
        for (size_t i = 0; i < std::size(values); ++i)
            reg.WriteString("TfrmX", "V" + std::to_string(i), values[i]);
    }
    TRegIniFile reg("software\\NUQ", TRegRoot::CurrentUser, true);
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(reg.ReadString("tfrmx", "v" + std::to_string(i), "?"), values[i]) << i;
    EXPECT_EQ(reg.ReadString("TfrmX", "absent", "def"), "def");
}

TEST_F(RegistryStore, RootsSubkeysAndReadOnly) {
    TRegIniFile user("Software\\nuq");
    user.WriteInteger("Form", "Width", 250);
    user.WriteString("Form\\Inner", "x", "1");
    TRegIniFile machine("Software\\nuq", TRegRoot::LocalMachine);
    EXPECT_EQ(machine.ReadInteger("Form", "Width", 0), 0); // another root, another store
    EXPECT_EQ(TRegIniFile("Software").ReadInteger("nuq\\Form", "Width", 0), 250);

    TRegIniFile readOnly("Software\\nuq", TRegRoot::CurrentUser, true);
    EXPECT_THROW(readOnly.WriteString("Form", "x", "1"), EIniFileException);

    user.EraseSection("Form"); // with its subkeys
    TRegIniFile after("Software\\nuq");
    EXPECT_EQ(after.ReadInteger("Form", "Width", 0), 0);
    EXPECT_EQ(after.ReadString("Form\\Inner", "x", ""), "");
}
