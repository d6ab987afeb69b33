#pragma once
// One file list of the main window: a one-column list with a header. Positions count from 1;
// 0 stands for "no row".

#include <QPoint>
#include <QString>
#include <QTreeView>

class FileListModel;

class FileList final : public QTreeView {
    Q_OBJECT
public:
    explicit FileList(QWidget* parent = nullptr);

    FileListModel& model() const { return *model_; }

    int count() const;
    QString text(int position) const;
    QStringList texts() const;
    void append(const QString& text);
    void appendAll(const QStringList& texts);
    void remove(int position);
    void clear();
    int selectedRow() const;
    void setText(int position, const QString& text);
    void select(int position);
    void scrollIntoView(int position);
    // The row under a point in the list's viewport coordinates, or 0.
    int rowAt(QPoint viewportPoint) const;

    // The list's column: its header text and width in pixels.
    void addColumn(const QString& header);
    QString headerText() const;

private:
    FileListModel* model_;
};
