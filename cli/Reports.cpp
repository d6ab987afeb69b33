#include "cli/Reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

namespace {

QString withoutFinalLineBreak(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

// XML 1.0 cannot hold most control characters, not even as references; a report about a
// binary file may quote some. They are shown as U+FFFD.
QString xmlSafe(const QString& text) {
    QString safe = text;
    for (QChar& c : safe) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0x9 && u != 0xA && u != 0xD) || u == 0xFFFE || u == 0xFFFF)
            c = QChar(0xFFFD);
    }
    return safe;
}

}  // namespace

QByteArray JsonReport(const QList<FileVerdict>& verdicts, double seconds) {
    QJsonArray files;
    int valid = 0;
    for (const FileVerdict& v : verdicts) {
        QJsonObject file{{QStringLiteral("path"), v.path},
                         {QStringLiteral("valid"), v.result.loaded}};
        if (v.result.loaded) {
            ++valid;
        } else if (v.result.failedStep != 0) {
            file.insert(QStringLiteral("failure"), v.result.failure);
        } else {
            const ParseErrorReport& e = v.result.error;
            file.insert(QStringLiteral("error"),
                        QJsonObject{{QStringLiteral("code"), e.errorCode},
                                    {QStringLiteral("reason"), withoutFinalLineBreak(e.reason)},
                                    {QStringLiteral("line"), e.line},
                                    {QStringLiteral("linePosition"), e.linepos},
                                    {QStringLiteral("filePosition"), e.filepos},
                                    {QStringLiteral("sourceText"), e.srcText},
                                    {QStringLiteral("url"), e.url}});
            file.insert(QStringLiteral("report"), ErrorReportText(e));
        }
        files.append(file);
    }
    const QJsonObject summary{{QStringLiteral("files"), static_cast<int>(verdicts.size())},
                              {QStringLiteral("valid"), valid},
                              {QStringLiteral("invalid"), static_cast<int>(verdicts.size()) - valid},
                              {QStringLiteral("seconds"), seconds}};
    return QJsonDocument(QJsonObject{{QStringLiteral("files"), files},
                                     {QStringLiteral("summary"), summary}})
        .toJson(QJsonDocument::Indented);
}

QByteArray JunitReport(const QList<FileVerdict>& verdicts, double seconds) {
    int failures = 0;
    for (const FileVerdict& v : verdicts)
        failures += v.result.loaded ? 0 : 1;
    QByteArray xml;
    QXmlStreamWriter w(&xml);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("brellix-check"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(verdicts.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    w.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
    for (const FileVerdict& v : verdicts) {
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("classname"), QStringLiteral("xml"));
        w.writeAttribute(QStringLiteral("name"), xmlSafe(v.path));
        if (!v.result.loaded) {
            w.writeStartElement(QStringLiteral("failure"));
            const bool checkFailed = v.result.failedStep != 0;
            const QString message = checkFailed ? v.result.failure
                                                : withoutFinalLineBreak(v.result.error.reason);
            w.writeAttribute(QStringLiteral("message"), xmlSafe(message));
            w.writeAttribute(QStringLiteral("type"),
                             checkFailed ? QStringLiteral("check-failed")
                                         : QStringLiteral("invalid-xml"));
            if (!checkFailed)
                w.writeCharacters(xmlSafe(ErrorReportText(v.result.error)));
            w.writeEndElement();
        }
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return xml;
}
