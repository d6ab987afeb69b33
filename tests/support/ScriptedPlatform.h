#pragma once
// A platform whose dialogs answer from a script prepared by the test, and which records every
// box, dialog and launch it was asked for. A dialog without a scripted answer is recorded as
// unexpected and answered with Cancel / No, so a test never blocks on a modal box.

#include "app/Platform.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>

struct PlatformCall {
    QString kind;  // "message", "input", "open", "save", "folder", "url", "editor", "end"
    QString text;  // message text, prompt, address, or the file opened in the editor
    QString title;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    QStringList arguments;  // filters, default text, or start folder
};

class ScriptedPlatform final : public Platform {
public:
    // Answers, consumed in order by the dialogs of their kind.
    std::deque<MessageAnswer> messageAnswers;
    std::deque<QString> inputAnswers;
    std::deque<QStringList> openAnswers;
    std::deque<QString> saveAnswers;
    std::deque<QString> folderAnswers;
    bool urlResult = true;
    // The reason an editor gives for not opening; empty: every file opens.
    QString editorFailure;
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
    QString saveFileName(QWidget* owner, const QString& title, const QStringList& filters) override;
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    bool openUrl(const QUrl& url) override;
    bool openInTextEditor(const QString& file, QString* error) override;
    void endProgram() override;
};
