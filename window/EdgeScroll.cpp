#include "EdgeScroll.h"

EdgeScroll EdgeScrollAt(int y, int height) {
    if (height <= 0)
        return EdgeScroll::None;
    if (y < height / 4)
        return EdgeScroll::Up;
    if (y >= height - height / 4)
        return EdgeScroll::Down;
    return EdgeScroll::None;
}

int RowToScrollIntoView(EdgeScroll scroll, int row, int count) {
    switch (scroll) {
        case EdgeScroll::Up:
            return row >= 2 ? row - 1 : 0;
        case EdgeScroll::Down:
            return row + 1 <= count ? row + 1 : 0;
        case EdgeScroll::None:
            break;
    }
    return 0;
}
