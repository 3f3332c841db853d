#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "window/window_frame_store.h"

namespace lumory {
namespace {

class WindowFrameStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("lumory-frames-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        path = (folder / "config" / "window-frames.ini").string();
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void write(const std::string& text) {
        std::filesystem::create_directories(folder / "config");
        std::ofstream(path) << text;
    }

    std::filesystem::path folder;
    std::string path;
};

TEST_F(WindowFrameStoreTest, RemembersEachNameSeparately) {
    WindowFrameStore store(path);
    EXPECT_EQ(store.load("LumoryMainWindow"), std::nullopt);
    ASSERT_TRUE(store.save("LumoryMainWindow", {10, -20, 1200, 800}));
    ASSERT_TRUE(store.save("LumoryLiveOverlay", {5, 6, 520, 460}));
    ASSERT_TRUE(store.save("LumoryMainWindow", {11, 12, 1300, 850}));

    auto main = WindowFrameStore(path).load("LumoryMainWindow");
    ASSERT_TRUE(main);
    EXPECT_EQ(main->x, 11);
    EXPECT_EQ(main->width, 1300);
    auto overlay = store.load("LumoryLiveOverlay");
    ASSERT_TRUE(overlay);
    EXPECT_EQ(overlay->height, 460);
}

TEST_F(WindowFrameStoreTest, IgnoresDamagedOrImplausibleFrames) {
    write(
        "[A]\nx=1\ny=2\nwidth=wide\nheight=3\n"
        "[B]\nx=1\ny=2\nwidth=0\nheight=600\n"
        "[C]\nx=1\ny=2\nwidth=900\n"
        "[D]\nx=99999999\ny=2\nwidth=900\nheight=600\n"
        "[E]\nx=1\ny=2\nwidth=900\nheight=600\n");
    WindowFrameStore store(path);
    for (auto name : {"A", "B", "C", "D"}) EXPECT_EQ(store.load(name), std::nullopt) << name;
    EXPECT_TRUE(store.load("E"));
}

TEST_F(WindowFrameStoreTest, AFileThatIsNotAKeyFileIsReplacedOnSave) {
    write("\x01\x02 not a key file [[[");
    WindowFrameStore store(path);
    EXPECT_EQ(store.load("LumoryMainWindow"), std::nullopt);
    ASSERT_TRUE(store.save("LumoryMainWindow", {1, 2, 900, 620}));
    EXPECT_TRUE(store.load("LumoryMainWindow"));
}

}  // namespace
}  // namespace lumory
