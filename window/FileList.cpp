#include "FileList.h"

#include "FileListModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>

FileList::FileList(QWidget* parent) : QTreeView(parent), model_(new FileListModel(this)) {
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    setAllColumnsShowFocus(true);
}

int FileList::count() const {
    return model_->count();
}

QString FileList::text(int position) const {
    return model_->text(position);
}

QStringList FileList::texts() const {
    return model_->texts();
}

void FileList::append(const QString& text) {
    model_->append(text);
}

void FileList::appendAll(const QStringList& texts) {
    model_->appendAll(texts);
}

void FileList::remove(int position) {
    model_->remove(position);
}

void FileList::clear() {
    model_->clear();
}

int FileList::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : rows.constFirst().row() + 1;
}

void FileList::setText(int position, const QString& text) {
    model_->setText(position, text);
}

void FileList::select(int position) {
    if (position < 1 || position > count())
        return;
    model_->publish();
    const QModelIndex index = model_->index(position - 1);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void FileList::scrollIntoView(int position) {
    if (position < 1 || position > count())
        return;
    model_->publish();
    scrollTo(model_->index(position - 1), QAbstractItemView::EnsureVisible);
}

int FileList::rowAt(QPoint viewportPoint) const {
    const QModelIndex index = indexAt(viewportPoint);
    return index.isValid() ? index.row() + 1 : 0;
}

void FileList::addColumn(const QString& header) {
    model_->setHeader(header);
}

QString FileList::headerText() const {
    return model_->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString();
}

void FileList::doItemsLayout() {
    constexpr qint64 frameMs = 25;
    if (inTimer_ && sinceLayout_.isValid() && sinceLayout_.elapsed() < frameMs) {
        scheduleDelayedItemsLayout();
        return;
    }
    sinceLayout_.start();
    QTreeView::doItemsLayout();
}

void FileList::timerEvent(QTimerEvent* event) {
    inTimer_ = true;
    QTreeView::timerEvent(event);
    inTimer_ = false;
}

bool FileList::event(QEvent* event) {
    const bool handled = QTreeView::event(event);
    if (event->type() == QEvent::Paint && hasFocus()) {
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
    return handled;
}

void FileList::focusInEvent(QFocusEvent* event) {
    QTreeView::focusInEvent(event);
    update();
}

void FileList::focusOutEvent(QFocusEvent* event) {
    QTreeView::focusOutEvent(event);
    update();
}
