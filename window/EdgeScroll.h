#pragma once
// Scrolling the input list by one row while a row is dragged near its upper or lower edge.

enum class EdgeScroll { None, Up, Down };

// The pointer at height `y` of the list's visible rows (0 at their top, `height` high): in the
// upper quarter the list scrolls up, in the lower quarter down, in between not at all.
EdgeScroll EdgeScrollAt(int y, int height);

// The row to scroll into view after a dragged row has arrived at `row` (positions from 1) of
// `count` rows: the row above or below it, or 0 when there is none.
int RowToScrollIntoView(EdgeScroll scroll, int row, int count);
