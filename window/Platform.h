#pragma once
// Every modal dialog, message box, browser or process launch of the program goes through this
// interface, so the window can be driven by tests with scripted answers.

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

enum class MessageButtons { Ok, YesNo };  // YesNo always has Yes as the default button
enum class MessageIcon { None, Exclamation };
enum class MessageAnswer { Ok, Yes, No };

class Platform {
public:
    virtual ~Platform() = default;

    // A modal message box. `text` may hold CR, LF and CR LF; each shows as one line break.
    virtual MessageAnswer showMessage(QWidget* owner, const QString& text, const QString& title,
                                      MessageButtons buttons, MessageIcon icon) = 0;

    // A modal input box with OK and Cancel; returns the text, or an empty text on Cancel.
    virtual QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;

    // A multi-selection open dialog; returns the chosen files' full paths in the dialog's
    // order, or nothing on Cancel. A typed name is returned whether or not the file exists.
    // Each filter is "label|patterns" (patterns separated by ';'; "*.*" matches every name).
    virtual QStringList openFileNames(QWidget* owner, const QString& title,
                                      const QStringList& filters) = 0;

    // A dialog that opens one existing file, starting at `proposed`: the file selected when it
    // names one (hidden files are shown), else the folder it names. Empty on Cancel.
    virtual QString openFileName(QWidget* owner, const QString& title, const QStringList& filters,
                                 const QString& proposed) = 0;

    // A save dialog without an overwrite prompt of its own and without a default extension;
    // returns the chosen path, or an empty text on Cancel. Filters as for openFileNames.
    virtual QString saveFileName(QWidget* owner, const QString& title,
                                 const QStringList& filters) = 0;

    // A folder chooser opening in `startFolder` (when it exists); empty on Cancel.
    virtual QString chooseFolder(QWidget* owner, const QString& title,
                                 const QString& startFolder) = 0;

    // Opens an address with the desktop's default handler; false when nothing could be started.
    virtual bool openUrl(const QUrl& url) = 0;

    // Opens `file` in the desktop's plain-text editor without waiting for it. Returns false
    // (with a reason in `error`) when no editor was found or it could not be started.
    virtual bool openInTextEditor(const QString& file, QString* error) = 0;
    // The same at a line and column (from 1; 0: not known), in the form that editor takes.
    virtual bool openInEditorAt(const QString& file, int line, int column, QString* error) = 0;

    // Shows the folder of `file` in the desktop's file manager with the file selected, or else
    // opens the folder. False (with a reason in `error`) when neither could be done.
    virtual bool showInFileManager(const QString& file, QString* error) = 0;

    // Puts `text` on the clipboard.
    virtual void setClipboardText(const QString& text) = 0;

    // A pop-up menu of `items` at `globalPos`; returns the chosen item, or an empty text when
    // the menu was closed without a choice.
    virtual QString chooseMenuItem(QWidget* owner, QPoint globalPos, const QStringList& items) = 0;

    // Ends the program at once: called when the main window is closed, possibly from inside a
    // long loop that is waiting in its event pump.
    virtual void endProgram() = 0;
};

// The platform of the running desktop: Qt dialogs, QMessageBox, QDesktopServices, the desktop's
// text editor.
class DesktopPlatform final : public Platform {
public:
    MessageAnswer showMessage(QWidget* owner, const QString& text, const QString& title,
                              MessageButtons buttons, MessageIcon icon) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                     const QString& defaultText) override;
    QString openFileName(QWidget* owner, const QString& title, const QStringList& filters,
                         const QString& proposed) override;
    QStringList openFileNames(QWidget* owner, const QString& title,
                              const QStringList& filters) override;
    QString saveFileName(QWidget* owner, const QString& title, const QStringList& filters) override;
    QString chooseFolder(QWidget* owner, const QString& title, const QString& startFolder) override;
    bool openUrl(const QUrl& url) override;
    bool openInTextEditor(const QString& file, QString* error) override;
    bool openInEditorAt(const QString& file, int line, int column, QString* error) override;
    bool showInFileManager(const QString& file, QString* error) override;
    void setClipboardText(const QString& text) override;
    QString chooseMenuItem(QWidget* owner, QPoint globalPos, const QStringList& items) override;
    void endProgram() override;
};
