#include "ReportWindow.h"

#include "Platform.h"
#include "common/LineBreaks.h"
#include "files/PathUtil.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

QString CaretLine(const QString& source, int column) {
    if (column < 1)
        return {};
    QString line;
    for (qsizetype i = 0; i + 1 < column; ++i)
        line += i < source.size() && source[i] == QLatin1Char('\t') ? QLatin1Char('\t')
                                                                    : QLatin1Char(' ');
    return line + QLatin1Char('^');
}

namespace {

QPlainTextEdit* textView(QWidget* parent, const QString& text) {
    auto* view = new QPlainTextEdit(text, parent);
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return view;
}

}  // namespace

ReportWindow::ReportWindow(QWidget* owner, Platform& platform, const QString& title,
                           const QString& path, const ParseErrorReport& report,
                           std::function<void()> openAtError)
    : QWidget(owner, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(title);
    resize(640, 360);

    report_ = textView(
        this, ShownText(path + QLatin1Char('\n') + WithLineFeeds(ErrorReportText(report))));
    report_->setObjectName(QStringLiteral("ReportText"));
    QString source = report.srcText;
    if (const QString caret = CaretLine(report.srcText, report.linepos); !caret.isEmpty())
        source += QLatin1Char('\n') + caret;
    source_ = textView(this, ShownText(source));
    source_->setObjectName(QStringLiteral("SourceText"));
    source_->setLineWrapMode(QPlainTextEdit::NoWrap);
    source_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    source_->setFixedHeight(source_->fontMetrics().lineSpacing() * 3 + 12);
    source_->setTabStopDistance(source_->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 8);

    openAtError_ = new QPushButton(QStringLiteral("Open at Error"), this);
    copy_ = new QPushButton(QStringLiteral("Copy"), this);
    connect(openAtError_, &QPushButton::clicked, this, [openAtError = std::move(openAtError)] {
        if (openAtError)
            openAtError();
    });
    connect(copy_, &QPushButton::clicked, this,
            [this, &platform] { platform.setClipboardText(report_->toPlainText()); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(openAtError_);
    buttons->addWidget(copy_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(report_, 1);
    auto* sourceLabel = new QLabel(QStringLiteral("Source line:"), this);
    layout->addWidget(sourceLabel);
    layout->addWidget(source_);
    layout->addLayout(buttons);
    openAtError_->setDefault(true);
    report_->setFocus();
}

QString ReportWindow::reportText() const {
    return report_->toPlainText();
}

QString ReportWindow::sourceText() const {
    return source_->toPlainText();
}

void ReportWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
