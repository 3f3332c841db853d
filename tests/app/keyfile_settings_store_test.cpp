// The settings key file under a private folder: types, what survives a write, and what a damaged
// file does.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "gtk/system/keyfile_settings_store.h"

namespace lumory::gtk {
namespace {

namespace fs = std::filesystem;

class KeyFileDefaultsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "lumory-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        path = folder + "/lumory/settings.ini";
    }
    void TearDown() override { fs::remove_all(folder); }

    void write(const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << text;
    }
    std::string contents() const {
        std::ifstream file(path);
        return std::string((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    }

    std::string folder;
    std::string path;
};

TEST_F(KeyFileDefaultsStoreTest, AMissingFileHasNoValuesAndIsCreatedOnTheFirstWrite) {
    KeyFileSettingsStore store(path);
    EXPECT_FALSE(store.boolValue("LumoryUpdateCheck"));
    EXPECT_FALSE(store.doubleValue("LumoryUpdateLastCheck"));
    EXPECT_FALSE(store.stringValue("LumoryUpdateSkipped"));

    store.setDouble("LumoryUpdateLastCheck", 1796731200.123456);
    store.setString("LumoryUpdateSkipped", "1.5.0 \"beta\"\n=#");
    EXPECT_EQ(store.doubleValue("LumoryUpdateLastCheck"), 1796731200.123456);
    EXPECT_EQ(KeyFileSettingsStore(path).stringValue("LumoryUpdateSkipped"), "1.5.0 \"beta\"\n=#");
    struct stat folderStatus {};
    ASSERT_EQ(stat(fs::path(path).parent_path().c_str(), &folderStatus), 0);
    EXPECT_EQ(folderStatus.st_mode & 0777, 0700u);
}

TEST_F(KeyFileDefaultsStoreTest, AValueOfAnotherTypeReadsAsAbsent) {
    write(
        "[Defaults]\n"
        "LumoryUpdateCheck=false\n"
        "Yes=yes\nMaybe=maybe\nEmpty=\nNumber=2\n"
        "LumoryUpdateLastCheck=1796731200.5\nText=soon\n");
    KeyFileSettingsStore store(path);
    EXPECT_EQ(store.boolValue("LumoryUpdateCheck"), false);
    EXPECT_FALSE(store.boolValue("Yes"));
    EXPECT_FALSE(store.boolValue("Maybe"));
    EXPECT_FALSE(store.boolValue("Empty"));
    EXPECT_FALSE(store.boolValue("Number"));
    EXPECT_FALSE(store.boolValue("LumoryUpdateLastCheck"));
    EXPECT_EQ(store.doubleValue("LumoryUpdateLastCheck"), 1796731200.5);
    EXPECT_FALSE(store.doubleValue("Text"));
    EXPECT_FALSE(store.doubleValue("LumoryUpdateCheck"));
    EXPECT_EQ(store.stringValue("Text"), "soon");

    write("[Defaults]\nLumoryUpdateCheck=true\n");
    EXPECT_EQ(store.boolValue("LumoryUpdateCheck"), true) << "read again, not cached";
}

TEST_F(KeyFileDefaultsStoreTest, AWriteKeepsOtherKeysGroupsAndComments) {
    write("# kept by hand\n[Defaults]\nLumoryUpdateCheck=false\n\n[Other]\nkey=value\n");
    KeyFileSettingsStore store(path);
    store.setDouble("LumoryUpdateLastCheck", 5);
    std::string text = contents();
    EXPECT_NE(text.find("# kept by hand"), std::string::npos) << text;
    EXPECT_NE(text.find("LumoryUpdateCheck=false"), std::string::npos) << text;
    EXPECT_NE(text.find("[Other]\nkey=value"), std::string::npos) << text;
    EXPECT_EQ(store.doubleValue("LumoryUpdateLastCheck"), 5);
}

// Written to a new file that then replaces the old one, so a crash mid-write leaves one whole.
TEST_F(KeyFileDefaultsStoreTest, AWriteReplacesTheFileWholeAndLeavesNothingBeside) {
    write("[Defaults]\nLumoryUpdateSkipped=1.0\n");
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    KeyFileSettingsStore store(path);
    store.setString("LumoryUpdateSkipped", "2.0");
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path())) {
        names.push_back(entry.path().filename());
    }
    EXPECT_EQ(names, std::vector<std::string>{"settings.ini"});
}

TEST_F(KeyFileDefaultsStoreTest, AFileThatIsNotAKeyFileIsNeverOverwritten) {
    for (const std::string& damaged : {std::string("LumoryUpdateCheck=false\n"),
                                       std::string("[Defaults]\nthis line has no equals sign\n"),
                                       std::string("[Defaults\nLumoryUpdateCheck=false\n")}) {
        write(damaged);
        KeyFileSettingsStore store(path);
        EXPECT_FALSE(store.boolValue("LumoryUpdateCheck"));
        store.setDouble("LumoryUpdateLastCheck", 5);
        store.setString("LumoryUpdateSkipped", "2.0");
        EXPECT_EQ(contents(), damaged);
    }
}

}  // namespace
}  // namespace lumory::gtk
