#pragma once
// A platform whose dialogs answer from a script prepared by the test, and which records every
// box, dialog and launch it was asked for. A dialog without a scripted answer is recorded as
// unexpected and answered with Cancel / No, so a test never blocks on a modal box.

#include "Platform.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>

struct PlatformCall {
    // "message", "input", "open", "openFile", "save", "folder", "url", "editor", "fileManager",
    // "clipboard", "menu", "end"
    QString kind;
    // message text, prompt, address, file opened, proposed or shown, or clipboard text
    QString text;
    QString title;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    // filters, default text, start folder, menu items, or an editor's line and column
    QStringList arguments;
};

class ScriptedPlatform final : public Platform {
public:
    // Answers, consumed in order by the dialogs of their kind.
    std::deque<MessageAnswer> messageAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QStringList> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<QString> openFileAnswers;  // of openFileName
    std::deque<QString> folderAnswers;
    bool urlResult = true;
    // The reason an editor gives for not opening; empty: every file opens.
    QString editorFailure;
    // The reason the file manager gives for not showing a file; empty: it shows every file.
    QString fileManagerFailure;
    // Answers of pop-up menus: the item to choose ("" closes the menu without a choice).
    std::deque<QString> menuAnswers;
    // Called inside each message box before it returns (lets a test look at the window while
    // a modal box is "open").
    std::function<void(const PlatformCall&)> onMessage;

    QList<PlatformCall> calls;
    QStringList unexpected;  // dialogs that had no scripted answer
    bool ended = false;

    QList<PlatformCall> callsOf(const QString& kind) const;
    QStringList messageTexts() const;

    MessageAnswer showMessage(QWidget* owner, const QString& text, const QString& title,
                              MessageButtons buttons, MessageIcon icon) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    QStringList openFileNames(QWidget* owner, const QString& title,
                              const QStringList& filters) override;
    QString openFileName(QWidget* owner, const QString& title, const QStringList& filters,
                         const QString& proposed) override;
    QString saveFileName(QWidget* owner, const QString& title, const QStringList& filters) override;
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    bool openUrl(const QUrl& url) override;
    bool openInTextEditor(const QString& file, QString* error) override;
    bool openInEditorAt(const QString& file, int line, int column, QString* error) override;
    bool showInFileManager(const QString& file, QString* error) override;
    void setClipboardText(const QString& text) override;
    QString chooseMenuItem(QWidget* owner, QPoint globalPos, const QStringList& items) override;
    // The clipboard's text (the last text put there).
    QString clipboard;
    void endProgram() override;
};
