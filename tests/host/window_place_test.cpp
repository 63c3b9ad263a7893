#include <gtest/gtest.h>

#include <fstream>

#include "app/window_place.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(WindowPlace, KeptInTheIniAndNothingUntilThen) {
    const TempFolder folder;
    const std::string config = folder.File("pellmar.cfg");
    EXPECT_FALSE(KeptWindowPlace(config));
    ASSERT_TRUE(KeepWindowPlace(config, {-1200, 80}));
    const std::optional<WindowPlace> kept = KeptWindowPlace(config);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->left, -1200);
    EXPECT_EQ(kept->top, 80);
    std::ofstream(folder.File("pellmar.ini")) << "[Window]\nLeft = left\nTop = 80\n";
    EXPECT_FALSE(KeptWindowPlace(config));
}

TEST(WindowPlace, CentredOrBroughtOntoTheWorkArea) {
    const WorkArea work{0, 0, 1000, 700};
    EXPECT_EQ(CentredIn(work, 300, 200).left, 350);
    EXPECT_EQ(CentredIn(work, 300, 200).top, 250);
    const WindowPlace off_right = BroughtInto(work, {1900, -50}, 300, 200);
    EXPECT_EQ(off_right.left, 700);
    EXPECT_EQ(off_right.top, 0);
    const WindowPlace larger = BroughtInto(work, {-40, 600}, 1200, 800);
    EXPECT_EQ(larger.left, 0);
    EXPECT_EQ(larger.top, 0);
}

}  // namespace
