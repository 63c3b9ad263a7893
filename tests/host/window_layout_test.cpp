#include "app/window_layout.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowLayout, EachEdgeKeepsItsDistanceToTheEdgeItFollows) {
    const PixelRect at_smallest{10, 20, 30, 40};
    const PixelSize growth = GrowthBeyond({200, 150}, {205, 157});
    const struct {
        Follow across;
        Follow down;
        PixelRect wanted;
    } cases[] = {
        {Follow::kStays, Follow::kStays, {10, 20, 30, 40}},
        {Follow::kGrows, Follow::kStays, {10, 20, 35, 40}},
        {Follow::kStays, Follow::kMoves, {10, 27, 30, 47}},
        {Follow::kMoves, Follow::kMoves, {15, 27, 35, 47}},
        {Follow::kGrows, Follow::kGrows, {10, 20, 35, 47}},
    };
    for (const auto& one : cases) {
        const PixelRect found = Anchored(at_smallest, {0, one.across, one.down}, growth);
        EXPECT_EQ(found.left, one.wanted.left);
        EXPECT_EQ(found.top, one.wanted.top);
        EXPECT_EQ(found.right, one.wanted.right);
        EXPECT_EQ(found.bottom, one.wanted.bottom);
    }
}

TEST(WindowLayout, AWindowBelowTheTemplatesSizeLeavesTheControlsWhereTheTemplatePutThem) {
    const PixelSize growth = GrowthBeyond({200, 150}, {0, 160});
    EXPECT_EQ(growth.width, 0);
    EXPECT_EQ(growth.height, 10);
}

}  // namespace
