#pragma once
// The main window. Its controls keep their designer names; each control event has one handler,
// named after the control and the event. The handlers are defined in the folder of the
// subsystem that owns them, in files named Form1_*.cpp outside app/: app/ (start-up, pointers,
// Help, the option), check/ (the checking run), lists/ (the lists and every way of filling the
// input list), output/ (saving).

#include "ApplicationError.h"
#include "Platform.h"
#include "running/CheckRunSettings.h"

#include <QCursor>
#include <QEvent>
#include <QHash>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>

class FileList;
class ProjectChecks;
class OptionCheckBox;
class QGroupBox;
class QKeyEvent;
class QMimeData;
class QPushButton;
class SettingsStore;
class TextProgressBar;

// The main window's pointer; the busy state doubles as the program's busy flag.
enum class WindowPointer { Default, Busy, Custom };

class Form1 final : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs its load step. `programFolder` is the folder that holds the
    // program's data files (the folder of the executable when the program runs).
    Form1(Platform& platform, SettingsStore& settings, QString programFolder,
          QWidget* parent = nullptr);
    ~Form1() override;

    // Controls, in the order of their place in the keyboard focus order where they have one.
    FileList* ListView1;            // the input list, header "XML File(s)"
    QPushButton* PushButton5;       // "Add XML File(s)"
    QPushButton* PushButton3;       // "Add All XML File(s) In Folder"
    QPushButton* PushButton11;      // "Clear List" (input list)
    QPushButton* PushButton7;       // "Load Sample/Example Files"
    QPushButton* PushButton4;       // "Start Checking"
    FileList* ListView2;            // the valid list, header " Valid XML File(s)"
    QPushButton* PushButton6;       // "Save Results" (valid list)
    QPushButton* PushButton9;       // "Clear List" (valid list)
    FileList* ListView3;            // the invalid list, header "Invalid XML File(s)"
    QPushButton* PushButton1;       // "Save Results" (invalid list)
    QPushButton* PushButton2;       // "Clear List" (invalid list)
    QGroupBox* Frame1;              // "Option For Invalid Results"
    OptionCheckBox* Check1;         // "Show XML error message in invalid results"
    TextProgressBar* ProgressBar1;  // "Progress Bar"
    QPushButton* PushButton8;       // "Help"

    // The title of every message box and input box that names no title of its own.
    QString ApplicationTitle;

    // --- start-up, pointers, Help, the option ------------------------------------------------
    void Form_Load();
    void Form_Unload();
    void Form_MouseMove();
    void PushButton_MouseMove();
    void PushButton8_Click();
    void Check1_Click();
    void ApplyWindowSkin();
    void SetApplicationTitle();

    // --- checking ----------------------------------------------------------------------------
    void PushButton4_Click();

    // --- the three lists ---------------------------------------------------------------------
    void ListView1_DblClick();
    void ListView2_DblClick();
    void ListView3_DblClick();
    // keyCode: the Qt key pressed (Qt::Key_Delete removes the selected row).
    void ListView2_KeyDown(int keyCode);
    void ListView3_KeyDown(int keyCode);
    void PushButton11_Click();
    void PushButton9_Click();
    void PushButton2_Click();

    // --- filling the input list --------------------------------------------------------------
    void PushButton5_Click();
    void PushButton3_Click();
    // True when the dragged data can be dropped on the input list.
    bool ListView1_OLEDragOver(const QMimeData* data);
    void ListView1_OLEDragDrop(const QMimeData* data);
    void PushButton7_Click();

    // --- reordering the input list and the lists' pointers -----------------------------------
    // The mouse handlers of the input list get positions in its viewport's coordinates and
    // return true when they consumed the event (the list then does not act on it itself).
    bool ListView1_MouseDown();
    void ListView1_ItemClick();
    bool ListView1_MouseMove(Qt::MouseButtons buttons, QPoint pos);
    bool ListView1_MouseUp();
    void ListView2_MouseMove();
    void ListView3_MouseMove();
    void Frame1_MouseMove();

    // --- a row's menu, its report and the clipboard -------------------------------------------
    // The pop-up menu of row `row` of `list` (0: no row, no menu but on the input list, whose
    // menu then offers only the schema commands) at `globalPos`, and what the chosen item does.
    void RowMenu(FileList& list, int row, QPoint globalPos);

    // --- checking against schemas, from the input list's menu ----------------------------------
    // "Start Checking Against Schema...": an XML Schema or RELAX NG schema chosen in a file
    // dialog, compiled once, then a run exactly as "Start Checking" with the schema added. A
    // schema that cannot be used shows one box, and the lists stay as they are.
    void StartCheckingAgainstSchema();
    // "Start Checking With The Documents' Own Schemas": the same with the XML Schemas that each
    // document names itself.
    void StartCheckingWithOwnSchemas();
    // "Start Checking With Project Settings...": a project configuration chosen in a file dialog
    // (the one nearest to the first row offered), its catalogs added and its schemas compiled,
    // then a run with each file checked as brellix-check checks it with that configuration. A
    // configuration that cannot be used shows one box, and the lists stay as they are.
    void StartCheckingWithProjectSettings();
    // A key pressed in a list that does the same for the selected row: Ctrl+C copies it, the
    // Menu key and Shift+F10 open its menu, Return and Enter show an invalid row's report.
    // True when the key did something.
    bool RowKey(FileList& list, const QKeyEvent& key);
    // The report of the invalid list's row `row` in a window of its own; false when the row has
    // no report (the file could not be checked).
    bool ShowReport(int row);

    // --- saving ------------------------------------------------------------------------------
    void PushButton6_Click();
    void PushButton1_Click();

    // --- shared services of the window -------------------------------------------------------
    WindowPointer windowPointer() const { return pointer_; }
    void SetWindowPointer(WindowPointer pointer);
    bool IsBusy() const { return pointer_ == WindowPointer::Busy; }
    // The hand shown over the push buttons (the picture loaded at start, or the platform's).
    const QCursor& customPointer() const { return customPointer_; }

    // Lets pending window events run once. Returns false when the window was closed meanwhile:
    // the caller's loop must then stop at once.
    bool PumpEvents();
    bool unloaded() const { return unloaded_; }

    // A message box without icon, titled with ApplicationTitle.
    MessageAnswer MsgBox(const QString& text, MessageButtons buttons = MessageButtons::Ok);
    // The "Application Error" box of this window.
    FailureReporter& errorBox() { return errorBox_; }
    // The step runner of one of the window's guarded procedures.
    Guard guardOf(const QString& procedure) { return Guard(errorBox_, Form1Location(procedure)); }
    // Runs an unguarded handler; a failure inside it is shown in the "Application Error" box
    // with the handler's name and line 0 instead of ending the program.
    template <class F>
    auto unguarded(const char* handler, F&& body) -> decltype(body());

    Platform& platform() { return platform_; }
    SettingsStore& settings() { return settings_; }
    const QString& programFolder() const { return programFolder_; }

    // True while the mouse button pressed on the input list is held (a reordering drag).
    bool listButtonDown() const { return listButtonDown_; }
    // The dragged row of the input list; invalid once the row is removed or the list cleared.
    const QPersistentModelIndex& draggedRow() const { return draggedRow_; }
    // How "Start Checking" checks its files on worker threads.
    CheckRunSettings& checkRunSettings() { return checkRunSettings_; }

    // The reference page that "Help" offers.
    static QString helpAddress();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A handler of an event of one control; true when it consumed the event.
    using EventHandler = std::function<bool(QEvent*)>;

    void buildControls();
    void wireEvents();
    // Sends events of `type` on `watched` to `handler`, which runs unguarded as `name`.
    void route(QObject* watched, QEvent::Type type, const char* name, EventHandler handler);
    void reportUnguardedFailure(const char* handler);
    void endListDrag();

    // The path a row stands for, and the report of an invalid row (null when it has none).
    QString rowPath(const FileList& list, int row) const;
    const ParseErrorReport* rowReport(const FileList& list, int row) const;
    void openAtError(const QString& path, const ParseErrorReport& report);
    void reportPlatformFailure(const QString& error);
    // Runs "Start Checking" with `schemas` added to each file's check, or each file checked by
    // the rules of `project`.
    void startCheckingWith(std::shared_ptr<const SchemaSet> schemas,
                           std::shared_ptr<const ProjectChecks> project = nullptr);
    // Runs `work` on a thread of its own while the window repaints and answers, and takes no
    // run meanwhile; false when the window was closed meanwhile (the program is ending).
    bool whileWorking(const std::function<void()>& work);

    Platform& platform_;
    SettingsStore& settings_;
    QString programFolder_;
    ApplicationErrorBox errorBox_{platform_, this};
    WindowPointer pointer_ = WindowPointer::Default;
    QCursor customPointer_{Qt::PointingHandCursor};
    bool unloaded_ = false;
    bool centred_ = false;
    QHash<std::pair<const QObject*, int>, EventHandler> eventRoutes_;
    bool listButtonDown_ = false;
    QPersistentModelIndex draggedRow_;
    // True while "Start Checking" runs (a second click meanwhile is ignored).
    bool checkRunActive_ = false;
    CheckRunSettings checkRunSettings_;
    // The schemas of the run being started from the input list's menu (null: a plain run).
    std::shared_ptr<const SchemaSet> runSchemas_;
    std::shared_ptr<const ProjectChecks> runProject_;  // ... or its project rules
    // The file and report of each invalid row that a run filed, by the row's text.
    struct InvalidRow {
        QString path;
        ParseErrorReport report;
    };
    QHash<QString, InvalidRow> invalidRows_;
};

template <class F>
auto Form1::unguarded(const char* handler, F&& body) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        reportUnguardedFailure(handler);
        if constexpr (!std::is_void_v<decltype(body())>)
            return decltype(body()){};
    }
}

// Where a window frame of `frame`'s size opens: centred on the `available` part of the screen,
// but never with its top or left edge off it.
QPoint CentredPosition(QSize frame, QRect available);

// Twips (1/1440 inch) to the window's logical pixels: 15 twips are one pixel at 96 dpi, and
// Qt scales logical pixels to the screen's resolution.
constexpr int Twips(int twips) {
    return (twips + 7) / 15;
}
