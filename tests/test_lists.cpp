// The three lists: the row model, removal by double-click and Delete, "Clear List", and the
// rules while the window is busy.

#include "FileList.h"
#include "FileListModel.h"
#include "Widgets.h"
#include "tests/support/TestEnv.h"

#include <QAbstractItemModelTester>
#include <QPushButton>
#include <QTest>

namespace {

// Double-clicks a row the way a person does: the first press selects it.
void doubleClickRow(FileList* list, int position) {
    const QRect rect = list->visualRect(list->model().index(position - 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

const QString kReportRow =
    "/x/bad.xml - Your XML Document failed to loaddue the following error.\r\nError #: 76: "
    "Opening and ending tag mismatch: b line 1 and a\r\nLine #: 1\r\nLine Position: 11\r\n"
    "Position In File: 10\r\nSource Text: <a><b></a>\r\nDocument URL: /x/bad.xml";

}  // namespace

class TestLists : public QObject {
    Q_OBJECT
private slots:
    void modelKeepsQtsContract() {
        FileListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setHeader("XML File(s)");
        model.append("/a.xml");
        model.appendAll({"/b.xml", "/c.xml", "/b.xml"});
        model.appendAll({});
        QCOMPARE(model.count(), 4);
        model.setText(2, "/B.xml");
        model.remove(1);
        model.remove(0);  // no such row: nothing happens
        model.remove(9);
        QCOMPARE(model.texts(), (QStringList{"/B.xml", "/c.xml", "/b.xml"}));
        QCOMPARE(model.text(3), "/b.xml");
        QVERIFY_THROWS_EXCEPTION(StepFailure, model.text(4));
        QVERIFY_THROWS_EXCEPTION(StepFailure, model.text(0));
        model.clear();
        QCOMPARE(model.count(), 0);
        QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "XML File(s)");
    }

    // While batching, the rows are there at once for the program and reach the views together;
    // any other change of the rows first shows the views what is pending, so indexes agree.
    void batchedRowsReachTheViewsTogether() {
        FileList list;
        FileListModel& model = list.model();
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        int insertions = 0;
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&] { ++insertions; });
        model.setBatching(true);
        for (int i = 1; i <= 50; ++i)
            list.append(QStringLiteral("/%1.xml").arg(i));
        QCOMPARE(list.count(), 50);
        QCOMPARE(list.text(50), "/50.xml");
        QCOMPARE(model.rowCount(), 0);
        QTRY_COMPARE(model.rowCount(), 50);  // within a tenth of a second, in one piece
        QCOMPARE(insertions, 1);

        list.append("/51.xml");
        list.select(51);  // selecting a row not yet shown shows it first
        QCOMPARE(list.selectedRow(), 51);
        list.append("/52.xml");
        list.setText(52, "/fifty-two.xml");
        QCOMPARE(model.rowCount(), 52);
        QCOMPARE(model.data(model.index(51), Qt::DisplayRole).toString(), "/fifty-two.xml");
        list.append("/53.xml");
        list.remove(1);
        QCOMPARE(model.rowCount(), 52);
        QCOMPARE(list.text(52), "/53.xml");
        list.append("/54.xml");
        list.clear();  // pending rows go with the rest
        QCOMPARE(model.rowCount(), 0);
        list.append("/55.xml");
        model.setBatching(false);  // the end of batching shows what is pending
        QCOMPARE(model.rowCount(), 1);
        list.append("/56.xml");  // and rows arrive one by one again
        QCOMPARE(model.rowCount(), 2);
    }

    void reportRowsReadOnOneLineAndKeepTheirText() {
        FileListModel model;
        model.append(kReportRow);
        model.append("/plain.xml");
        const QModelIndex report = model.index(0);
        QCOMPARE(model.text(1), kReportRow);  // stored unchanged, line breaks included
        const QString shown = model.data(report, Qt::DisplayRole).toString();
        QVERIFY(!shown.contains('\r') && !shown.contains('\n'));
        QVERIFY(
            shown.startsWith("/x/bad.xml - Your XML Document failed to loaddue the following "
                             "error.  \u23CE  Error #: 76"));
        QCOMPARE(model.data(report, Qt::ToolTipRole).toString(),
                 QString(kReportRow).replace("\r\n", "\n"));
        QCOMPARE(model.data(model.index(1), Qt::DisplayRole).toString(), "/plain.xml");
        QVERIFY(!model.data(model.index(1), Qt::ToolTipRole).isValid());
    }

    void doubleClickRemovesTheClickedRowOfThatListOnly() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3})
            list->appendAll({"/1.xml", "/2.xml", "/2.xml", kReportRow});
        doubleClickRow(form->ListView1, 2);
        QCOMPARE(form->ListView1->texts(), (QStringList{"/1.xml", "/2.xml", kReportRow}));
        doubleClickRow(form->ListView2, 1);
        QCOMPARE(form->ListView2->texts(), (QStringList{"/2.xml", "/2.xml", kReportRow}));
        doubleClickRow(form->ListView3, 4);  // a report row goes whole
        QCOMPARE(form->ListView3->texts(), (QStringList{"/1.xml", "/2.xml", "/2.xml"}));
        QCOMPARE(form->ListView1->count(), 3);
        QCOMPARE(form->ListView2->count(), 3);
        QVERIFY(env.platform.calls.isEmpty());
    }

    void deleteRemovesInTheResultListsOnly() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3}) {
            list->appendAll({"/1.xml", "/2.xml", "/3.xml"});
            list->select(2);
        }
        QTest::keyClick(form->ListView1, Qt::Key_Delete);
        QCOMPARE(form->ListView1->count(), 3);
        QTest::keyClick(form->ListView2, Qt::Key_Delete, Qt::ShiftModifier);  // Shift not consulted
        QCOMPARE(form->ListView2->texts(), (QStringList{"/1.xml", "/3.xml"}));
        QTest::keyClick(form->ListView3, Qt::Key_Backspace);
        QTest::keyClick(form->ListView3, Qt::Key_D);
        QCOMPARE(form->ListView3->count(), 3);
        QTest::keyClick(form->ListView3, Qt::Key_Delete);
        QCOMPARE(form->ListView3->texts(), (QStringList{"/1.xml", "/3.xml"}));
        QCOMPARE(form->ListView1->count(), 3);
    }

    void nothingToRemoveChangesNothing() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        // Empty lists.
        form->ListView1_DblClick();
        QTest::keyClick(form->ListView2, Qt::Key_Delete);
        form->ListView3_DblClick();
        // Rows but none selected.
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3})
            list->appendAll({"/1.xml", "/2.xml"});
        form->ListView1_DblClick();
        form->ListView2_KeyDown(Qt::Key_Delete);
        form->ListView3_DblClick();
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3})
            QCOMPARE(list->count(), 2);
        QVERIFY(env.platform.calls.isEmpty());
    }

    void busyWindowKeepsRowsButClearsResultLists() {
        TestEnv env;
        auto form = env.makeForm();
        form->show();
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3}) {
            list->appendAll({"/1.xml", "/2.xml"});
            list->select(1);
        }
        form->SetWindowPointer(WindowPointer::Busy);
        doubleClickRow(form->ListView1, 1);
        doubleClickRow(form->ListView2, 1);
        doubleClickRow(form->ListView3, 1);
        QTest::keyClick(form->ListView2, Qt::Key_Delete);
        QTest::keyClick(form->ListView3, Qt::Key_Delete);
        QTest::mouseClick(form->PushButton11, Qt::LeftButton);
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3})
            QCOMPARE(list->count(), 2);
        QTest::mouseClick(form->PushButton9, Qt::LeftButton);
        QCOMPARE(form->ListView2->count(), 0);
        QTest::mouseClick(form->PushButton2, Qt::LeftButton);
        QCOMPARE(form->ListView3->count(), 0);
        QCOMPARE(form->ListView1->count(), 2);
        QCOMPARE(form->windowPointer(), WindowPointer::Busy);
    }

    void clearListEmptiesOneListAndTouchesNothingElse() {
        TestEnv env;
        auto form = env.makeForm();
        for (FileList* list : {form->ListView1, form->ListView2, form->ListView3})
            list->appendAll({"/1.xml", "/2.xml"});
        form->ProgressBar1->setValue(30);
        form->ProgressBar1->setText("Processing: 1.xml");
        const QString option = env.settings.read("Check1", "");
        QTest::mouseClick(form->PushButton11, Qt::LeftButton);
        QCOMPARE(form->ListView1->count(), 0);
        QCOMPARE(form->ListView2->count(), 2);
        QCOMPARE(form->ListView3->count(), 2);
        QCOMPARE(form->ProgressBar1->value(), 30);
        QCOMPARE(form->ProgressBar1->text(), "Processing: 1.xml");
        QTest::mouseClick(form->PushButton11, Qt::LeftButton);  // already empty: no message
        QTest::mouseClick(form->PushButton2, Qt::LeftButton);
        QCOMPARE(form->ListView2->count(), 2);
        QCOMPARE(form->ListView3->count(), 0);
        QCOMPARE(env.settings.read("Check1", ""), option);
        QVERIFY(env.platform.calls.isEmpty());
    }
};

QTEST_MAIN(TestLists)
#include "test_lists.moc"
