#include "Platform.h"

#include "EditorAtLine.h"
#include "FileDialogs.h"
#include "TextEditor.h"
#include "common/LineBreaks.h"
#include "files/PathUtil.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>

#include <unistd.h>
#include <algorithm>
#include <cstdio>

MessageAnswer DesktopPlatform::showMessage(QWidget* owner, const QString& text,
                                           const QString& title, MessageButtons buttons,
                                           MessageIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(title);
    box.setText(WithLineFeeds(ShownText(text)));
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

QString DesktopPlatform::openFileName(QWidget* owner, const QString& title,
                                      const QStringList& filters, const QString& proposed) {
    return ShowOpenFileDialog(owner, title, filters, proposed);
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

bool DesktopPlatform::openInEditorAt(const QString& file, int line, int column, QString* error) {
    return OpenInEditorAt(file, line, column, DesktopEnvironment::current(), error);
}

bool DesktopPlatform::showInFileManager(const QString& file, QString* error) {
    // The freedesktop.org file manager interface selects the file; a desktop without one gets
    // the folder opened by its default handler.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    // Addresses made from the path's bytes, which a name that is not text keeps.
    const QString absolute = AbsolutePath(file);
    call << QStringList{QString::fromLatin1(FileUrlOf(absolute))} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    const QString folder =
        absolute.left(std::max<qsizetype>(1, absolute.lastIndexOf(QLatin1Char('/'))));
    if (QDesktopServices::openUrl(QUrl::fromEncoded(FileUrlOf(folder))))
        return true;
    *error = QStringLiteral("No file manager could show the folder %1").arg(folder);
    return false;
}

void DesktopPlatform::setClipboardText(const QString& text) {
    QGuiApplication::clipboard()->setText(ShownText(text));
}

QString DesktopPlatform::chooseMenuItem(QWidget* owner, QPoint globalPos,
                                        const QStringList& items) {
    QMenu menu(owner);
    for (const QString& item : items)
        menu.addAction(item);
    const QAction* chosen = menu.exec(globalPos);
    return chosen ? chosen->text() : QString();
}

void DesktopPlatform::endProgram() {
    // Closing the window ends the program wherever it is, also inside a loop that waits in its
    // event pump. Settings are written the moment they change, so nothing is pending here.
    std::fflush(nullptr);
    ::_exit(0);
}
