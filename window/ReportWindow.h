#pragma once
// The report of an invalid file in a window of its own: the whole report as selectable text,
// the source line with a caret under the error's column, and the buttons "Open at Error" and
// "Copy".

#include "check/XmlCheck.h"

#include <QString>
#include <QWidget>

#include <functional>

class Platform;
class QPlainTextEdit;
class QPushButton;

// The line to show under `source` so that a caret stands below its `column` (from 1): the
// blanks and tabs before the column kept as they are, any other character a blank. Empty when
// the column is not known.
QString CaretLine(const QString& source, int column);

class ReportWindow final : public QWidget {
    Q_OBJECT
public:
    // A window owned by `owner` (closed with it); `openAtError` runs for "Open at Error".
    ReportWindow(QWidget* owner, Platform& platform, const QString& title, const QString& path,
                 const ParseErrorReport& report, std::function<void()> openAtError);

    // The report as the window shows it, and its source line with the caret line below.
    QString reportText() const;
    QString sourceText() const;
    QPushButton* openAtErrorButton() const { return openAtError_; }
    QPushButton* copyButton() const { return copy_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPlainTextEdit* report_;
    QPlainTextEdit* source_;
    QPushButton* openAtError_;
    QPushButton* copy_;
};
