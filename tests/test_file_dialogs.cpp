// The real open and save dialogs of the desktop platform, answered by typing and clicking as a
// person would.

#include "FileDialogs.h"
#include "Platform.h"
#include "tests/support/TestEnv.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

const QStringList kXmlFilter{"XML Files (*.xml)|*.xml"};
const QStringList kTextFilters{"Text Files (*.txt)|*.txt", "All Files (*.*)|*.*"};

// Runs `answer` on the file dialog as soon as it is open; the dialog is rejected if `answer`
// leaves it open, so a failing test never hangs.
void whenDialogOpens(std::function<void(QFileDialog&)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        // Typing goes to the focused name field only once the dialog is the active window.
        if (QTest::qWaitForWindowActive(dialog))
            answer(*dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    timer->start();
}

void typeAndPressReturn(QFileDialog& dialog, const QString& text) {
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    name->setFocus();
    QVERIFY(name->hasFocus());
    name->setText(text);
    QTest::keyClick(name, Qt::Key_Return);
}

// The labels the dialog's "Files of type" box offers.
QStringList filterLabels(QFileDialog& dialog) {
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QStringList labels;
    for (int i = 0; i < types->count(); ++i)
        labels.append(types->itemText(i));
    return labels;
}

// The names the dialog's file view lists in its current folder.
QStringList listedNames(QFileDialog& dialog) {
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    QStringList names;
    const QModelIndex root = view->rootIndex();
    for (int r = 0; r < view->model()->rowCount(root); ++r)
        names.append(view->model()->index(r, 0, root).data().toString());
    names.sort();
    return names;
}

}  // namespace

class TestFileDialogs : public QObject {
    Q_OBJECT
private slots:
    void nameFiltersKeepTheLabelsAndMatchEveryNameForStarDotStar() {
        QCOMPARE(QtNameFilters(kTextFilters),
                 QStringList({"Text Files (*.txt) (*.txt)", "All Files (*.*) (*)"}));
        QCOMPARE(QtNameFilters({"Mixed|*.xml; *.xsd"}), QStringList{"Mixed (*.xml *.xsd)"});
    }

    void dialogsShowTheirLabelsAndAllFilesListsEveryName() {
        TestEnv env;
        env.write("a.xml", "<a/>");
        env.write("README", "text");
        env.write("b.txt", "text");
        QString title;
        QStringList labels;
        QStringList allNames;
        whenDialogOpens([&](QFileDialog& dialog) {
            title = dialog.windowTitle();
            labels = filterLabels(dialog);
        });
        DesktopPlatform platform;
        QCOMPARE(platform.openFileNames(nullptr, "Pick", kXmlFilter), QStringList());
        QCOMPARE(title, "Pick");
        QCOMPARE(labels, QStringList{"XML Files (*.xml)"});

        // "All Files (*.*)" lists a name without a dot too.
        whenDialogOpens([&](QFileDialog& dialog) {
            labels = filterLabels(dialog);
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            dialog.setDirectory(env.dir.path());
            QTRY_COMPARE(listedNames(dialog), QStringList{"b.txt"});
            types->setFocus();
            QTest::keyClick(types, Qt::Key_Down);
            QTRY_COMPARE(listedNames(dialog), QStringList({"README", "a.xml", "b.txt"}));
            allNames = listedNames(dialog);
        });
        QCOMPARE(platform.saveFileName(nullptr, "Save List", kTextFilters), QString());
        QCOMPARE(labels, QStringList({"Text Files (*.txt)", "All Files (*.*)"}));
        QCOMPARE(allNames, QStringList({"README", "a.xml", "b.txt"}));
    }

    void openDialogReturnsTypedNamesWhetherOrNotTheyExist() {
        TestEnv env;
        env.write("a.xml", "<a/>");
        DesktopPlatform platform;
        const QString missing = env.path("missing.xml");
        whenDialogOpens([&](QFileDialog& dialog) { typeAndPressReturn(dialog, missing); });
        QCOMPARE(platform.openFileNames(nullptr, "Pick", kXmlFilter), QStringList{missing});

        // A typed folder is opened and leaves the name field empty for the names.
        QString afterFolder = "<not run>";
        whenDialogOpens([&](QFileDialog& dialog) {
            typeAndPressReturn(dialog, env.dir.path());
            QCOMPARE(dialog.directory().absolutePath(), env.dir.path());
            afterFolder = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            typeAndPressReturn(dialog, "\"new.xml\" \"a.xml\"");
        });
        QCOMPARE(platform.openFileNames(nullptr, "Pick", kXmlFilter),
                 QStringList({env.path("new.xml"), env.path("a.xml")}));
        QCOMPARE(afterFolder, "");
    }

    void openDialogTakesSeveralFilesSelectedInItsList() {
        TestEnv env;
        env.write("a.xml", "<a/>");
        env.write("b.xml", "<b/>");
        env.write("c.xml", "<c/>");
        DesktopPlatform platform;
        whenDialogOpens([&](QFileDialog& dialog) {
            dialog.setDirectory(env.dir.path());
            QTRY_COMPARE(listedNames(dialog), QStringList({"a.xml", "b.xml", "c.xml"}));
            // The view the dialog shows (the detail view, unless switched to the list).
            QAbstractItemView* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
            if (!view->isVisible())
                view = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"));
            QVERIFY(view->isVisible());
            // A click on c.xml, then Ctrl and a click on a.xml.
            const auto rowOf = [&](const QString& name) {
                const QModelIndex root = view->rootIndex();
                for (int r = 0; r < view->model()->rowCount(root); ++r)
                    if (view->model()->index(r, 0, root).data().toString() == name)
                        return view->visualRect(view->model()->index(r, 0, root)).center();
                return QPoint();
            };
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rowOf("c.xml"));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              rowOf("a.xml"));
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QCOMPARE(name->text(), "\"c.xml\" \"a.xml\"");
            auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            QPushButton* open = buttons->button(QDialogButtonBox::Open);
            QVERIFY(open->isEnabled());
            QTest::mouseClick(open, Qt::LeftButton);
        });
        QCOMPARE(platform.openFileNames(nullptr, "Pick", kXmlFilter),
                 QStringList({env.path("c.xml"), env.path("a.xml")}));
    }

    void saveDialogTakesTheTypedNameAsItStands() {
        TestEnv env;
        const QString existing = env.write("old.txt", "old");
        DesktopPlatform platform;
        // No extension is added, and an existing file brings no question of the dialog's own.
        whenDialogOpens(
            [&](QFileDialog& dialog) { typeAndPressReturn(dialog, env.path("plain")); });
        QCOMPARE(platform.saveFileName(nullptr, "Save List", kTextFilters), env.path("plain"));
        whenDialogOpens([&](QFileDialog& dialog) { typeAndPressReturn(dialog, existing); });
        QCOMPARE(platform.saveFileName(nullptr, "Save List", kTextFilters), existing);

        // Choosing "All Files (*.*)" leaves the typed name's extension alone.
        whenDialogOpens([&](QFileDialog& dialog) {
            dialog.setDirectory(env.dir.path());
            auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            name->setText("results.txt");
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            types->setFocus();
            QTest::keyClick(types, Qt::Key_Down);
            QCOMPARE(types->currentText(), "All Files (*.*)");
            QCOMPARE(name->text(), "results.txt");
            name->setFocus();
            QTest::keyClick(name, Qt::Key_Return);
        });
        QCOMPARE(platform.saveFileName(nullptr, "Save List", kTextFilters),
                 env.path("results.txt"));
    }
};

QTEST_MAIN(TestFileDialogs)
#include "test_file_dialogs.moc"
