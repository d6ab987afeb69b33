#include "FileListModel.h"

#include "common/ErrorReport.h"
#include "files/PathUtil.h"

#include <QTimerEvent>

const QString& FileListModel::text(int position) const {
    if (position < 1 || position > count())
        throw StepFailure(
            QStringLiteral("Index out of bounds: the list has no row %1").arg(position));
    return rows_.at(position - 1);
}

namespace {

// How long appended rows may wait for the views while batching. Each batch costs the views a
// layout of all their rows and a repaint of the rows in sight, which during a checking run
// would take more of the window's time than the run itself at 40 batches a second; ten a
// second still look like a list that grows smoothly.
constexpr int kBatchMs = 100;

}  // namespace

// Rows are appended behind the views' backs and then published: one insertion for the views
// whether or not they are batched.
void FileListModel::append(const QString& text) {
    rows_.append(text);
    if (!batching_)
        publish();
    else if (!publishTimer_.isActive())
        publishTimer_.start(kBatchMs, this);
}

void FileListModel::appendAll(const QStringList& texts) {
    rows_.append(texts);
    publish();
}

void FileListModel::remove(int position) {
    if (position < 1 || position > count())
        return;
    publish();
    beginRemoveRows({}, position - 1, position - 1);
    rows_.removeAt(position - 1);
    shown_ = count();
    endRemoveRows();
}

void FileListModel::clear() {
    publishTimer_.stop();
    beginResetModel();
    rows_.clear();
    rows_.squeeze();
    shown_ = 0;
    endResetModel();
}

void FileListModel::setText(int position, const QString& text) {
    if (position < 1 || position > count())
        return;
    publish();
    rows_[position - 1] = text;
    const QModelIndex changed = index(position - 1);
    emit dataChanged(changed, changed);
}

void FileListModel::setBatching(bool on) {
    batching_ = on;
    if (!on)
        publish();
}

void FileListModel::publish() {
    publishTimer_.stop();
    if (shown_ >= count())
        return;
    // The rows are in place already; the views see them from endInsertRows() on, as rowCount()
    // counts only the rows they were told of.
    beginInsertRows({}, shown_, count() - 1);
    shown_ = count();
    endInsertRows();
}

void FileListModel::timerEvent(QTimerEvent* event) {
    if (event->timerId() == publishTimer_.timerId())
        publish();
    else
        QAbstractListModel::timerEvent(event);
}

void FileListModel::setHeader(const QString& header) {
    header_ = header;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

QString FileListModel::displayText(const QString& text) {
    QString shown = ShownText(text);  // the bytes of a name that are not text as U+FFFD
    if (!shown.contains(QLatin1Char('\r')) && !shown.contains(QLatin1Char('\n')))
        return shown;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("  \u23CE  "));
    shown.replace(QLatin1Char('\r'), QStringLiteral("  \u23CE  "));
    shown.replace(QLatin1Char('\n'), QStringLiteral("  \u23CE  "));
    return shown;
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_ || index.column() != 0)
        return {};
    const QString& text = rows_.at(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return displayText(text);
        case Qt::ToolTipRole:
            // Rows with a report show it whole; other rows leave the list's own tool tip.
            if (text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
                QString tip = ShownText(text);
                tip.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
                tip.replace(QLatin1Char('\r'), QLatin1Char('\n'));
                return tip;
            }
            return {};
        case Qt::EditRole:
            return text;
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return header_;
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
