#pragma once
// The rows of one file list: an ordered sequence of texts, one column. Positions count from 1.

#include <QAbstractListModel>
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

    // The text a row shows: a report's line breaks become a visible mark so that every row
    // stays one line high; the whole text is the row's tool tip.
    static QString displayText(const QString& text);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QStringList rows_;
    QString header_;
};
