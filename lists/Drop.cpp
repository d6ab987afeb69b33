// Dropping files and folders onto the input list.

#include "app/Form1.h"

#include <QMimeData>

bool Form1::ListView1_OLEDragOver(const QMimeData* /*data*/) {
    return false;
}

void Form1::ListView1_OLEDragDrop(const QMimeData* /*data*/) {}
