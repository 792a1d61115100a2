// Where a dialog goes when it is centred over its parent window: centred, then
// moved back onto the screen where it would leave it. Pure arithmetic, shared by
// the Windows dialog and the tests.
#pragma once

namespace utils::port {

struct DialogRect {
  long left, top, right, bottom;
};

struct DialogOrigin {
  long x, y;
};

// The dialog's new top-left corner: centred over parent (divisions truncate
// toward zero), kept inside a screen of the given size. A dialog larger than the
// screen keeps its top-left corner on it.
inline DialogOrigin centredOnScreen(const DialogRect& dialog, const DialogRect& parent, long screenWidth,
                                    long screenHeight) {
  const long width = dialog.right - dialog.left;
  const long height = dialog.bottom - dialog.top;
  long x = parent.left + ((parent.right - parent.left) - width) / 2;
  long y = parent.top + ((parent.bottom - parent.top) - height) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x + width > screenWidth) x = screenWidth - width;
  if (y + height > screenHeight) y = screenHeight - height;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  return {x, y};
}

}  // namespace utils::port
