// The fuzz targets' initial corpus and every reproducer the fuzzers found, run through the
// same promises as in fuzzing (fuzz/FuzzInputs.h), and through the check of a file, which must
// agree with the check of the same bytes.

#include "fuzz/FuzzInputs.h"
#include "tests/support/FileContent.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList inputs(const char* kind) {
    QStringList files;
    for (const char* set : {"corpus", "reproducers"}) {
        QDirIterator it(QStringLiteral(BRELLIX_SOURCE_DIR "/fuzz/%1/%2").arg(set, kind),
                        QDir::Files);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    return files;
}

}  // namespace

class TestFuzzInputs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { InitXmlChecking(); }

    void checkInputsKeepTheirPromises() {
        QTemporaryDir dir;
        fuzz::WriteReferencedFiles(dir.path());
        const QString document = dir.filePath("input.xml");
        const QStringList files = inputs("check");
        QVERIFY(files.size() >= 30);
        for (const QString& file : files) {
            const QByteArray bytes = ContentOf(file);
            const QString problem = fuzz::checkProblem(bytes, document);
            QVERIFY2(problem.isEmpty(), qPrintable(file + ": " + problem));
            QFile out(document);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
            out.close();
            const CheckResult fromFile = CheckXmlFile(document);
            const CheckResult fromBytes = CheckXmlBytes(bytes, document);
            QVERIFY2(fromFile.loaded == fromBytes.loaded, qPrintable(file));
            QVERIFY2(fromFile.error == fromBytes.error, qPrintable(file));
        }
    }

    void reportInputsKeepTheirPromises() {
        const QStringList files = inputs("report");
        QVERIFY(!files.isEmpty());
        for (const QString& file : files) {
            const QByteArray bytes = ContentOf(file);
            const QString problem = fuzz::reportCompositionProblem(
                reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                static_cast<std::size_t>(bytes.size()));
            QVERIFY2(problem.isEmpty(), qPrintable(file + ": " + problem));
        }
    }
};

QTEST_MAIN(TestFuzzInputs)
#include "test_fuzz_inputs.moc"
