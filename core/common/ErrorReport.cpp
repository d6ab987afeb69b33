#include "common/ErrorReport.h"

#include <exception>
#include <new>

QString LocationText(const QString& project, const QString& module, const QString& procedure) {
    return QStringLiteral("in ") + project + QStringLiteral("2021/08/31.") + module +
           QLatin1Char('.') + procedure + QLatin1Char(' ');
}

QString Form1Location(const QString& procedure) {
    return LocationText(QStringLiteral("Brellix"), QStringLiteral("Form1"), procedure);
}

QString ApplicationErrorMessage(const QString& description, const QString& location,
                                int statementNumber) {
    return description + QStringLiteral("\r\n") + location + QStringLiteral("at line ") +
           QString::number(statementNumber) + QStringLiteral("\r\r") +
           QStringLiteral("Please email screenshot of this message to ") +
           QLatin1String(kSupportAddress);
}

QString CurrentExceptionDescription() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unexpected error");
    }
}
