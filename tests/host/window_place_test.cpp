#include <gtest/gtest.h>

#include <utility>

#include "app/window_place.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(WindowPlace, KeptInTheIniCentredTheFirstRunAndBroughtOntoTheWorkArea) {
    const TempFolder folder;
    const std::string config = folder.File("pellmar.cfg");
    EXPECT_TRUE(KeepWindowPlace(config, {-1200, 80}, {400, 300}) &&
                KeptWindowPlace(config)->left == -1200);
    const WorkArea work{0, 0, 1000, 700};
    const WindowPlace places[][2] = {{CentredIn(work, 300, 200), {350, 250}},
                                     {BroughtInto(work, {1900, -50}, 300, 200), {700, 0}},
                                     {BroughtInto(work, {-40, 600}, 1200, 800), {0, 0}}};
    for (const auto& [found, wanted] : places) {
        EXPECT_EQ(found.left, wanted.left);
        EXPECT_EQ(found.top, wanted.top);
    }
}

TEST(WindowPlace, TheKeptSizeIsTakenOnlyBetweenTheTemplatesAndTheScreens) {
    const TempFolder folder;
    const std::string config = folder.File("pellmar.cfg");
    EXPECT_EQ(KeptWindowSize(config, {300, 200}, {0, 0, 1000, 700}), std::nullopt);
    ASSERT_TRUE(KeepWindowPlace(config, {10, 20}, {400, 300}));
    const struct {
        PixelSize smallest;
        WorkArea work;
        bool taken;
    } cases[] = {{{300, 200}, {0, 0, 1000, 700}, true},  {{400, 300}, {-500, 100, -100, 400}, true},
                 {{401, 200}, {0, 0, 1000, 700}, false}, {{300, 301}, {0, 0, 1000, 700}, false},
                 {{300, 200}, {0, 0, 399, 700}, false},  {{300, 200}, {0, 100, 1000, 399}, false}};
    for (const auto& one : cases) {
        const std::optional<PixelSize> kept = KeptWindowSize(config, one.smallest, one.work);
        EXPECT_EQ(kept.has_value(), one.taken) << one.smallest.width << " " << one.work.right;
        if (kept) {
            EXPECT_EQ(std::make_pair(kept->width, kept->height), std::make_pair(400, 300));
        }
    }
}

}  // namespace
