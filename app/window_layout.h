// How the Main window's controls follow its size. The template gives each control its
// rectangle at the smallest size; the window never gets smaller than that. As the window
// grows, each edge of a control either keeps its distance to the window's left or top edge or
// keeps its distance to the right or bottom edge. The Connect log pane takes what the window
// grows by in both directions and the echo line above it takes the width; everything below the
// pane moves down with its bottom edge, and the column under the WPM box, whose right edge
// lines up with the pane's, moves right with it, so the gaps the template gives between the
// pane and the controls stay as they are.
#pragma once

#include "app/resource_ids.h"

// A rectangle in pixels: a control's within the window's client area, or a screen's.
struct PixelRect {
    int left;
    int top;
    int right;
    int bottom;
};

struct PixelSize {
    int width;
    int height;
};

// Which edges of a control keep their distance to the window's far edge (right or bottom):
// none (it stays), both (it moves) or only the far one (it grows).
enum class Follow { kStays, kMoves, kGrows };

struct ControlAnchor {
    int id;
    Follow across;
    Follow down;
};

// Every control of the Main window's template, and how it follows the window.
inline constexpr ControlAnchor kMainWindowAnchors[] = {
    {IDC_ECHO_LINE, Follow::kGrows, Follow::kStays},
    {IDC_LOG_PANE, Follow::kGrows, Follow::kGrows},
    {IDC_MSGS_GROUP, Follow::kStays, Follow::kMoves},
    {IDC_M1, Follow::kStays, Follow::kMoves},
    {IDC_M2, Follow::kStays, Follow::kMoves},
    {IDC_M3, Follow::kStays, Follow::kMoves},
    {IDC_M4, Follow::kStays, Follow::kMoves},
    {IDC_M5, Follow::kStays, Follow::kMoves},
    {IDC_M6, Follow::kStays, Follow::kMoves},
    {IDC_CONTROL_GROUP, Follow::kStays, Follow::kMoves},
    {IDC_CLEAR, Follow::kStays, Follow::kMoves},
    {IDC_TUNE, Follow::kStays, Follow::kMoves},
    {IDC_PAUSE, Follow::kStays, Follow::kMoves},
    {IDC_OPEN_CLOSE, Follow::kStays, Follow::kMoves},
    {IDC_WAIT_STATUS, Follow::kStays, Follow::kMoves},
    {IDC_BUSY_STATUS, Follow::kStays, Follow::kMoves},
    {IDC_PADDLES, Follow::kStays, Follow::kMoves},
    {IDC_LOCAL_STATUS, Follow::kStays, Follow::kMoves},
    {IDC_REMOTE_STATUS, Follow::kStays, Follow::kMoves},
    {IDC_NET_STATUS, Follow::kStays, Follow::kMoves},
    {IDC_LINK_HEALTH, Follow::kGrows, Follow::kMoves},
    {IDC_WPM_GROUP, Follow::kMoves, Follow::kMoves},
    {IDC_WPM, Follow::kMoves, Follow::kMoves},
    {IDC_WPM_SPIN, Follow::kMoves, Follow::kMoves},
    {IDC_HEARTBEAT, Follow::kMoves, Follow::kMoves},
    {IDC_SETUP, Follow::kMoves, Follow::kMoves},
    {IDC_EXIT, Follow::kMoves, Follow::kMoves},
};

// The link field's text (the round trip, the paddle delay, the key) is longer than the
// template's field; the row to its right is empty, so it reaches the pane's right edge.
inline constexpr int kWidenedToThePane = IDC_LINK_HEALTH;

// How much a client area of `size` is larger than the template's `smallest`; never less than
// nothing, so that a window squeezed below the template (as when minimised) leaves the
// controls where the template put them.
PixelSize GrowthBeyond(PixelSize smallest, PixelSize size);

// The rectangle the template gives as `at_smallest`, in a window grown by `growth`.
PixelRect Anchored(const PixelRect& at_smallest, const ControlAnchor& anchor, PixelSize growth);
