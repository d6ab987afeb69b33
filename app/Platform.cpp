#include "app/Platform.h"

#include "app/FileDialogs.h"
#include "app/TextEditor.h"
#include "common/LineBreaks.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

#include <unistd.h>
#include <cstdio>

MessageAnswer DesktopPlatform::showMessage(QWidget* owner, const QString& text,
                                           const QString& title, MessageButtons buttons,
                                           MessageIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(WithLineFeeds(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(icon == MessageIcon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::Ok;
}

QString DesktopPlatform::inputBox(QWidget* owner, const QString& prompt, const QString& title,
                                  const QString& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(owner, title, WithLineFeeds(prompt),
                                               QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

QStringList DesktopPlatform::openFileNames(QWidget* owner, const QString& title,
                                           const QStringList& filters) {
    return ShowOpenFilesDialog(owner, title, filters);
}

QString DesktopPlatform::saveFileName(QWidget* owner, const QString& title,
                                      const QStringList& filters) {
    return ShowSaveFileDialog(owner, title, filters);
}

QString DesktopPlatform::chooseFolder(QWidget* owner, const QString& title,
                                      const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

bool DesktopPlatform::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool DesktopPlatform::openInTextEditor(const QString& file, QString* error) {
    return OpenInTextEditor(file, DesktopEnvironment::current(), error);
}

void DesktopPlatform::endProgram() {
    // Closing the window ends the program wherever it is, also inside a loop that waits in its
    // event pump. Settings are written the moment they change, so nothing is pending here.
    std::fflush(nullptr);
    ::_exit(0);
}
