#include "Pointers.h"

#include "common/ErrorReport.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>
#include <QtEndian>

namespace {
// A .cur file is an icon directory of type 2 whose entries carry the hot spot where an icon
// has its planes and bit count.
QPoint curHotSpot(const QByteArray& bytes, QSize size) {
    if (bytes.size() < 6 + 16)
        return {-1, -1};
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    if (qFromLittleEndian<quint16>(data) != 0 || qFromLittleEndian<quint16>(data + 2) != 2)
        return {-1, -1};
    const int x = qFromLittleEndian<quint16>(data + 6 + 4);
    const int y = qFromLittleEndian<quint16>(data + 6 + 6);
    if (x >= size.width() || y >= size.height())
        return {-1, -1};
    return {x, y};
}
}  // namespace

QCursor LoadPointerFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw StepFailure(QStringLiteral("The pointer picture %1 could not be opened: %2")
                              .arg(path, file.errorString()));
    const QByteArray bytes = file.read(1 << 20);
    QPixmap picture;
    if (!picture.loadFromData(bytes, "ICO") && !picture.loadFromData(bytes))
        throw StepFailure(
            QStringLiteral("The pointer picture %1 is not a picture that can be read").arg(path));
    const QPoint hot = curHotSpot(bytes, picture.size());
    return QCursor(picture, hot.x(), hot.y());
}
