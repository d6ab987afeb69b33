#pragma once
// One file list of the main window: a one-column list with a header. Positions count from 1;
// 0 stands for "no row".

#include <QElapsedTimer>
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

    // Lays out every row again. Qt does this after each change of the rows, at the next turn
    // of the event loop, at a cost that grows with the number of rows; a loop that appends a
    // row at every turn to a list of 100,000 would spend most of its time here. So a layout
    // asked for by that timer within a frame of the last one is postponed (the layout stays
    // pending); painting, hit tests and scrolling still lay out first whenever it is pending.
    void doItemsLayout() override;

protected:
    void timerEvent(QTimerEvent* event) override;
    // The list with the keyboard focus is framed in the highlight colour.
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    FileListModel* model_;
    QElapsedTimer sinceLayout_;
    bool inTimer_ = false;
};
