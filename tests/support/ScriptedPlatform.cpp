#include "tests/support/ScriptedPlatform.h"

namespace {
template <class T>
T takeOr(std::deque<T>& answers, T fallback, QStringList& unexpected, const QString& what) {
    if (answers.empty()) {
        unexpected.append(what);
        return fallback;
    }
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}
}  // namespace

QList<PlatformCall> ScriptedPlatform::callsOf(const QString& kind) const {
    QList<PlatformCall> found;
    for (const PlatformCall& call : calls)
        if (call.kind == kind)
            found.append(call);
    return found;
}

QStringList ScriptedPlatform::messageTexts() const {
    QStringList texts;
    for (const PlatformCall& call : callsOf(QStringLiteral("message")))
        texts.append(call.text);
    return texts;
}

MessageAnswer ScriptedPlatform::showMessage(QWidget*, const QString& text, const QString& title,
                                            MessageButtons buttons, MessageIcon icon) {
    PlatformCall call{QStringLiteral("message"), text, title, buttons, icon, {}};
    calls.append(call);
    if (onMessage)
        onMessage(call);
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return takeOr(messageAnswers, MessageAnswer::No, unexpected,
                  QStringLiteral("message: ") + text);
}

QString ScriptedPlatform::inputBox(QWidget*, const QString& prompt, const QString& title,
                                   const QString& defaultText) {
    calls.append({QStringLiteral("input"), prompt, title, {}, {}, {defaultText}});
    return takeOr(inputAnswers, QString(), unexpected, QStringLiteral("input: ") + prompt);
}

QStringList ScriptedPlatform::openFileNames(QWidget*, const QString& title,
                                            const QStringList& filters) {
    calls.append({QStringLiteral("open"), {}, title, {}, {}, filters});
    return takeOr(openAnswers, QStringList(), unexpected, QStringLiteral("open: ") + title);
}

QString ScriptedPlatform::openFileName(QWidget*, const QString& title, const QStringList& filters,
                                       const QString& proposed) {
    calls.append({QStringLiteral("openFile"), proposed, title, {}, {}, filters});
    return takeOr(openFileAnswers, QString(), unexpected, QStringLiteral("openFile: ") + title);
}

QString ScriptedPlatform::saveFileName(QWidget*, const QString& title, const QStringList& filters) {
    calls.append({QStringLiteral("save"), {}, title, {}, {}, filters});
    return takeOr(saveAnswers, QString(), unexpected, QStringLiteral("save: ") + title);
}

QString ScriptedPlatform::chooseFolder(QWidget*, const QString& title, const QString& startFolder) {
    calls.append({QStringLiteral("folder"), {}, title, {}, {}, {startFolder}});
    return takeOr(folderAnswers, QString(), unexpected, QStringLiteral("folder: ") + title);
}

bool ScriptedPlatform::openUrl(const QUrl& url) {
    calls.append({QStringLiteral("url"), url.toString(), {}, {}, {}, {}});
    return urlResult;
}

bool ScriptedPlatform::openInTextEditor(const QString& file, QString* error) {
    calls.append({QStringLiteral("editor"), file, {}, {}, {}, {}});
    *error = editorFailure;
    return editorFailure.isEmpty();
}

bool ScriptedPlatform::openInEditorAt(const QString& file, int line, int column, QString* error) {
    calls.append({QStringLiteral("editor"),
                  file,
                  {},
                  {},
                  {},
                  {QString::number(line), QString::number(column)}});
    *error = editorFailure;
    return editorFailure.isEmpty();
}

bool ScriptedPlatform::showInFileManager(const QString& file, QString* error) {
    calls.append({QStringLiteral("fileManager"), file, {}, {}, {}, {}});
    *error = fileManagerFailure;
    return fileManagerFailure.isEmpty();
}

void ScriptedPlatform::setClipboardText(const QString& text) {
    calls.append({QStringLiteral("clipboard"), text, {}, {}, {}, {}});
    clipboard = text;
}

QString ScriptedPlatform::chooseMenuItem(QWidget*, QPoint, const QStringList& items) {
    calls.append({QStringLiteral("menu"), {}, {}, {}, {}, items});
    return takeOr(menuAnswers, QString(), unexpected, QStringLiteral("menu: ") + items.join('|'));
}

void ScriptedPlatform::endProgram() {
    calls.append({QStringLiteral("end"), {}, {}, {}, {}, {}});
    ended = true;
}
