#include "app/window_layout.h"

#include <algorithm>

namespace {

// A control's near and far edge along one direction.
void FollowAlong(Follow follow, int growth, int* near_edge, int* far_edge) {
    if (follow == Follow::kMoves) {
        *near_edge += growth;
    }
    if (follow != Follow::kStays) {
        *far_edge += growth;
    }
}

}  // namespace

PixelSize GrowthBeyond(PixelSize smallest, PixelSize size) {
    return {std::max(0, size.width - smallest.width), std::max(0, size.height - smallest.height)};
}

PixelRect Anchored(const PixelRect& at_smallest, const ControlAnchor& anchor, PixelSize growth) {
    PixelRect rect = at_smallest;
    FollowAlong(anchor.across, growth.width, &rect.left, &rect.right);
    FollowAlong(anchor.down, growth.height, &rect.top, &rect.bottom);
    return rect;
}
