#include <gtest/gtest.h>

#include "app/window_place.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(WindowPlace, KeptInTheIniCentredTheFirstRunAndBroughtOntoTheWorkArea) {
    const TempFolder folder;
    const std::string config = folder.File("pellmar.cfg");
    EXPECT_TRUE(KeepWindowPlace(config, {-1200, 80}) && KeptWindowPlace(config)->left == -1200);
    const WorkArea work{0, 0, 1000, 700};
    const WindowPlace places[][2] = {{CentredIn(work, 300, 200), {350, 250}},
                                     {BroughtInto(work, {1900, -50}, 300, 200), {700, 0}},
                                     {BroughtInto(work, {-40, 600}, 1200, 800), {0, 0}}};
    for (const auto& [found, wanted] : places) {
        EXPECT_EQ(found.left, wanted.left);
        EXPECT_EQ(found.top, wanted.top);
    }
}

}  // namespace
