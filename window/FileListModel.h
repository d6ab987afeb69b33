#pragma once
// The rows of one file list: an ordered sequence of texts, one column. Positions count from 1.

#include <QAbstractListModel>
#include <QBasicTimer>
#include <QString>
#include <QStringList>

class FileListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int count() const { return static_cast<int>(rows_.size()); }
    // Throws StepFailure for a position that holds no row.
    const QString& text(int position) const;
    const QStringList& texts() const { return rows_; }

    void append(const QString& text);
    void appendAll(const QStringList& texts);
    void remove(int position);
    void clear();
    void setText(int position, const QString& text);
    void setHeader(const QString& header);

    // While batching, appended rows reach the views together, a tenth of a second apart at most
    // (and before any other change of the rows), instead of one at a time: a view lays out all its
    // rows again after each insertion it is told of. count() and text() have them at once.
    void setBatching(bool on);
    // Tells the views of every row appended so far.
    void publish();

    // The text a row shows: a report's line breaks become a visible mark so that every row
    // stays one line high; the whole text is the row's tool tip.
    static QString displayText(const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QStringList rows_;
    QString header_;
    int shown_ = 0;  // the rows the views have been told of: the first ones of rows_
    bool batching_ = false;
    QBasicTimer publishTimer_;
};
