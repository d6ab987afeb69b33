// Removing rows and clearing the three lists.

#include "FileList.h"
#include "Form1.h"

namespace {

// Removes the list's selected row, unless the window is busy or no row is selected.
void removeSelectedRow(const Form1& form, FileList& list) {
    if (form.IsBusy() || list.count() == 0)
        return;
    const int row = list.selectedRow();
    if (row > 0)
        list.remove(row);
}

}  // namespace

void Form1::ListView1_DblClick() {
    removeSelectedRow(*this, *ListView1);
}

void Form1::ListView2_DblClick() {
    removeSelectedRow(*this, *ListView2);
}

void Form1::ListView3_DblClick() {
    removeSelectedRow(*this, *ListView3);
}

void Form1::ListView2_KeyDown(int keyCode) {
    if (keyCode == Qt::Key_Delete)
        removeSelectedRow(*this, *ListView2);
}

void Form1::ListView3_KeyDown(int keyCode) {
    if (keyCode == Qt::Key_Delete)
        removeSelectedRow(*this, *ListView3);
}

void Form1::PushButton11_Click() {
    if (IsBusy())
        return;
    guardOf(QStringLiteral("PushButton11_Click")).step(100, [this] { ListView1->clear(); });
}

void Form1::PushButton9_Click() {
    guardOf(QStringLiteral("PushButton9_Click")).step(100, [this] { ListView2->clear(); });
}

void Form1::PushButton2_Click() {
    guardOf(QStringLiteral("PushButton2_Click")).step(100, [this] { ListView3->clear(); });
}
