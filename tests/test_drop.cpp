// Dropping files and folders onto the input list of the real window.

#include "common/PathUtil.h"
#include "app/FileList.h"
#include "tests/support/FolderTree.h"
#include "tests/support/TestEnv.h"

#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace {

std::unique_ptr<QMimeData> filesData(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

// Drags the data over the input list and drops it there, as the mouse would. Returns whether
// the list accepted the drag (the pointer shows the drop is possible).
bool dragAndDrop(Form1& form, const QMimeData& data) {
    QWidget* target = form.ListView1->viewport();
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    if (enter.isAccepted() != move.isAccepted())
        qFatal("the drag was judged differently on entering and moving");
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return enter.isAccepted();
}

}  // namespace

class TestDrop : public QObject {
    Q_OBJECT
private slots:
    void dataWithoutLocalFilesCannotBeDropped() {
        TestEnv env;
        auto form = env.makeForm();
        QMimeData text;
        text.setText("/tmp/a.xml");
        QVERIFY(!dragAndDrop(*form, text));
        QMimeData web;
        web.setUrls({QUrl("https://example.org/a.xml")});
        QVERIFY(!dragAndDrop(*form, web));
        QCOMPARE(form->ListView1->count(), 0);
        QVERIFY(env.platform.calls.isEmpty());
    }

    void filesAreAddedExactlyAsDelivered() {
        TestEnv env;
        const QString a = env.write("a.txt", "text");
        const QString b = env.write("b.xml", "<b/>");
        const QString tilde = env.write("~c.xml", "<c/>");
        const QString missing = env.path("not there.doc");
        auto form = env.makeForm();
        QVERIFY(dragAndDrop(*form, *filesData({b, a, tilde, missing})));
        QCOMPARE(form->ListView1->texts(), QStringList({b, a, tilde, missing}));
    }

    void foldersAddTheirWholeTreesInTheOrderDropped() {
        TestEnv env;
        const QString first = env.path("first");
        for (const char* file : {"a.xml", "b.txt", "~c.xml", ".hidden", "sub/d.doc"})
            tree::makeFile(first + "/" + file);
        tree::makeLink(first, first + "/sub/loop");
        const QString second = env.path("second");
        tree::makeFile(second + "/e");
        const QString file = env.write("between.xml", "<x/>");
        env.settings.write("Extension", "keep");
        auto form = env.makeForm();
        WindowPointer during = WindowPointer::Custom;
        QTimer::singleShot(0, form.get(), [&] { during = form->windowPointer(); });

        QVERIFY(dragAndDrop(*form, *filesData({first, file, second})));
        QCOMPARE(form->ListView1->texts(),
                 QStringList({first + "/a.xml", first + "/b.txt", first + "/sub/d.doc", file,
                              second + "/e"}));
        // No question, no hourglass, the scan's settings untouched.
        QCOMPARE(during, WindowPointer::Default);
        QVERIFY(env.platform.calls.isEmpty());
        QCOMPARE(env.settings.read("Extension", ""), "keep");
        QCOMPARE(env.settings.read("LastFolder", "<absent>"), "<absent>");
    }

    void aFailureIsReportedAndTheDropGoesOn() {
        TestEnv env;
        // A folder whose path is as long as a path may be: it can be dropped, but with the
        // separator added its files cannot be listed.
        QString folder = env.path("long");
        int remaining = PathLengthLimit() - 1 - int(QFile::encodeName(folder).size());
        for (int parts = (remaining + 200) / 201; parts > 0; --parts) {
            const int share = remaining / parts;  // a separator and share - 1 letters
            folder += "/" + QString(share - 1, 'd');
            remaining -= share;
        }
        QCOMPARE(QFile::encodeName(folder).size(), PathLengthLimit() - 1);
        tree::makeFolder(folder);
        const QString file = env.write("after.xml", "<x/>");
        const QString other = env.path("other");
        tree::makeFile(other + "/a.xml");
        auto form = env.makeForm();

        QVERIFY(dragAndDrop(*form, *filesData({folder, file, other})));
        const QStringList boxes = env.platform.messageTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(
            boxes[0].startsWith("File name too long: " + folder +
                                "/\r\n"
                                "in Brellix2021/08/31.Form1.ListView1_OLEDragDrop at line 120"),
            qPrintable(boxes[0]));
        // The drop went on with the next items, and the program with the next drop.
        QCOMPARE(form->ListView1->texts(), QStringList({file, other + "/a.xml"}));
        QVERIFY(dragAndDrop(*form, *filesData({file})));
        QCOMPARE(form->ListView1->count(), 3);
    }
};

QTEST_MAIN(TestDrop)
#include "test_drop.moc"
