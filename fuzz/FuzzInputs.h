#pragma once
// What the fuzz targets do with one input, shared with the test that runs the initial corpus
// and every kept reproducer. Each function returns a description of the first broken promise,
// or an empty text when all held.

#include "check/XmlCheck.h"
#include "parse/XmlErrorCapture.h"
#include "results/ResultFile.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace fuzz {

inline bool hasControlCharacters(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() < 0x20 && c != QLatin1Char('\t')) || c.unicode() == 0x7F;
    });
}

// Promises of every report, whatever its fields hold.
inline QString reportProblem(const ParseErrorReport& report) {
    const QString text = ErrorReportText(report);
    const QString head = QStringLiteral(
                             "Your XML Document failed to loaddue the following error.\r\nError "
                             "#: ") +
                         QString::number(report.errorCode) + QStringLiteral(": ");
    if (!text.startsWith(head))
        return QStringLiteral("the report does not start with its heading and the code");
    if (!text.endsWith(QStringLiteral("\r\nDocument URL: ") + report.url))
        return QStringLiteral("the report does not end with the document's address");
    if (!text.contains(QStringLiteral("\r\nSource Text: ") + report.srcText +
                       QStringLiteral("\r\n")))
        return QStringLiteral("the source text is not on its own line");
    const QByteArray entry = ResultFileEntry(text);
    if (!entry.endsWith("\r\n") || entry.size() < text.size())
        return QStringLiteral("the saved entry lost text or its line end");
    return {};
}

// Fills `folder` with what the fuzzed documents may refer to beside them: a DTD that loads a
// parameter entity, and an external parsed entity.
inline void WriteReferencedFiles(const QString& folder) {
    const auto write = [&](const char* name, const QByteArray& content) {
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    };
    write("rules.dtd",
          "<!ELEMENT a (b*)>\n<!ELEMENT b (#PCDATA)>\n<!ATTLIST b n CDATA #IMPLIED>\n"
          "<!ENTITY % more SYSTEM \"more.ent\">\n%more;\n");
    write("more.ent", "<!ENTITY greeting \"hello\">\n");
    write("part.ent", "<b n='1'>&greeting;</b>");
}

// The check of one document given as bytes, at `path`.
inline QString checkProblem(QByteArrayView bytes, const QString& path) {
    const CheckResult result = CheckXmlBytes(bytes, path);
    if (result.failedStep != 0)
        return QStringLiteral("the check failed without a verdict: ") + result.failure;
    if (result.loaded)
        return result.error == ParseErrorReport{}
                   ? QString()
                   : QStringLiteral("a loaded document carries an error report");
    if (!result.error.reason.endsWith(QStringLiteral("\r\n")))
        return QStringLiteral("the reason does not end in CR LF");
    if (hasControlCharacters(result.error.srcText))
        return QStringLiteral("the source text holds control characters");
    if (result.error.srcText.size() > 2 * 200 + 10)
        return QStringLiteral("the source text is not cut");
    if (const QString problem = reportProblem(result.error); !problem.isEmpty())
        return problem;
    // Nothing of one check may reach the next.
    const CheckResult again = CheckXmlBytes(bytes, path);
    if (again.loaded != result.loaded || !(again.error == result.error))
        return QStringLiteral("a second check of the same bytes gives another verdict");
    return {};
}

// The composition of a report from raw fields: the first 16 bytes are the numbers, the next
// one picks the error's place in the source, and the rest holds the reason, the source and the
// address, separated by NUL bytes.
inline QString reportCompositionProblem(const std::uint8_t* data, std::size_t size) {
    if (size < 17)
        return {};
    std::int32_t numbers[4];
    std::memcpy(numbers, data, sizeof numbers);
    const std::uint8_t place = data[16];
    const QByteArray rest(reinterpret_cast<const char*>(data + 17),
                          static_cast<qsizetype>(size - 17));
    const QList<QByteArray> parts = rest.split('\0');
    const QByteArray source = parts.value(1);

    ParseErrorReport report;
    report.errorCode = numbers[0];
    report.line = numbers[1];
    report.linepos = numbers[2];
    report.filepos = numbers[3];
    report.reason = ReasonText(QString::fromUtf8(parts.value(0)));
    const auto* base = reinterpret_cast<const unsigned char*>(source.constData());
    const qsizetype at = source.isEmpty() ? 0 : (place * source.size()) / 255;
    report.srcText = SourceLineAround(base, base + at, base + source.size(), (place & 1) != 0);
    report.url = QString::fromUtf8(parts.value(2));

    if (!report.reason.endsWith(QStringLiteral("\r\n")) ||
        report.reason.chopped(2).endsWith(QLatin1Char('\n')) ||
        report.reason.chopped(2).endsWith(QLatin1Char('\r')))
        return QStringLiteral("the reason does not end in exactly one CR LF");
    if (hasControlCharacters(report.srcText))
        return QStringLiteral("the source text holds control characters");
    if (report.srcText.size() > 2 * 200 + 10)
        return QStringLiteral("the source text is not cut");
    return reportProblem(report);
}

}  // namespace fuzz
