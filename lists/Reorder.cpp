// Reordering the input list by dragging, and the pointer over the input list.

#include "app/Form1.h"

bool Form1::ListView1_MouseDown(Qt::MouseButton /*button*/, Qt::KeyboardModifiers /*shift*/,
                                QPoint /*pos*/) {
    return false;
}

void Form1::ListView1_ItemClick() {}

bool Form1::ListView1_MouseMove(Qt::MouseButtons /*buttons*/, QPoint /*pos*/) {
    Form_MouseMove();
    return false;
}

bool Form1::ListView1_MouseUp(Qt::MouseButton /*button*/, QPoint /*pos*/) {
    return false;
}
