// Reordering the input list by dragging, and the pointer over the input list.
//
// A press on a row selects it and makes it the dragged row; moving with the button held over
// another row exchanges the two texts, so the dragged path travels with the pointer. Only two
// rows change per move, whatever the rows in between hold. None of this looks at the busy
// state: during a checking run the user may still reorder the rows the run has not reached.

#include "EdgeScroll.h"
#include "FileList.h"
#include "FileListModel.h"
#include "Form1.h"
#include "Pointers.h"
#include "files/PathUtil.h"

namespace {

// The picture shown while a row is dragged: "drag.ico" of the program folder, read anew at
// every press, or the closed hand when that file is missing or cannot be read.
QCursor dragPointer(const QString& programFolder) {
    const QString path = programFolder + QStringLiteral("/drag.ico");
    if (IsOpenableFile(path)) {
        try {
            return LoadPointerFile(path);
        } catch (const StepFailure&) {
            // An unreadable picture is no reason to stop the drag: the fallback shows instead.
        }
    }
    return QCursor(Qt::ClosedHandCursor);
}

}  // namespace

// The end of a drag: the list shows the window's pointer again (the arrow, or the hourglass
// while the window is busy).
void Form1::endListDrag() {
    listButtonDown_ = false;
    ListView1->viewport()->unsetCursor();
}

bool Form1::ListView1_MouseDown() {
    listButtonDown_ = true;
    return false;  // the list selects the row under the pointer and reports the item click
}

void Form1::ListView1_ItemClick() {
    ListView1->viewport()->setCursor(dragPointer(programFolder()));
    ListView1->setDragEnabled(false);  // rows never leave the list as dragged data
    const int selected = ListView1->selectedRow();
    draggedRow_ = selected > 0 ? QPersistentModelIndex(ListView1->model().index(selected - 1))
                               : QPersistentModelIndex();
}

bool Form1::ListView1_MouseMove(Qt::MouseButtons buttons, QPoint pos) {
    Form_MouseMove();
    if (!listButtonDown_)
        return false;
    if (buttons == Qt::NoButton) {
        // The release went elsewhere (a box opened during the drag): the drag is over.
        endListDrag();
        return false;
    }
    // From here on the move belongs to the drag: the list must not select rows by itself.
    const int under = ListView1->rowAt(pos);
    const int dragged = draggedRow_.isValid() ? draggedRow_.row() + 1 : 0;
    if (under == 0 || dragged == 0)
        return true;
    const QString draggedText = ListView1->text(dragged);
    const QString underText = ListView1->text(under);
    if (draggedText == underText)
        return true;

    ListView1->setText(dragged, underText);
    ListView1->setText(under, draggedText);
    ListView1->select(under);
    draggedRow_ = QPersistentModelIndex(ListView1->model().index(under - 1));

    const EdgeScroll scroll = EdgeScrollAt(pos.y(), ListView1->viewport()->height());
    if (const int row = RowToScrollIntoView(scroll, under, ListView1->count()); row > 0)
        ListView1->scrollIntoView(row);
    return true;
}

bool Form1::ListView1_MouseUp() {
    endListDrag();
    return false;  // the list ends its own press handling
}
