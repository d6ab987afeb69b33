#pragma once
// A platform for benchmarks: every box is answered at once (OK / No) and counted, nothing
// else is ever shown or started.

#include "Platform.h"

#include <QStringList>

class BenchPlatform final : public Platform {
public:
    QStringList messages;

    MessageAnswer showMessage(QWidget*, const QString& text, const QString&, MessageButtons buttons,
                              MessageIcon) override {
        messages.append(text);
        return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
    }
    QString inputBox(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    QStringList openFileNames(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString openFileName(QWidget*, const QString&, const QStringList&, const QString&) override {
        return {};
    }
    QString saveFileName(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString chooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
    bool openUrl(const QUrl&) override { return false; }
    bool openInTextEditor(const QString&, QString*) override { return false; }
    bool openInEditorAt(const QString&, int, int, QString*) override { return false; }
    bool showInFileManager(const QString&, QString*) override { return false; }
    void setClipboardText(const QString&) override {}
    QString chooseMenuItem(QWidget*, QPoint, const QStringList&) override { return {}; }
    void endProgram() override {}
};
