#include "files/PathUtil.h"

#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <climits>
#include <vector>

namespace {

bool statPath(const QString& path, struct stat* info) {
    const QByteArray name = EncodedPath(path);
    return !name.isEmpty() && ::stat(name.constData(), info) == 0;
}

// One pass over `text`, replacing each pair of separators by one; pairs do not overlap.
QString collapsePairs(const QString& text, QChar separator) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        out.append(text[i]);
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i;
    }
    return out;
}

}  // namespace

QString PathFromBytes(QByteArrayView bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    QString text;
    text.reserve(n);
    const auto continuation = [&](qsizetype at, unsigned char low, unsigned char high) {
        return at < n && b[at] >= low && b[at] <= high;
    };
    for (qsizetype i = 0; i < n;) {
        const unsigned char lead = b[i];
        // The length of the well-formed UTF-8 sequence that starts here, 0 for none: no
        // overlong forms, no surrogates, nothing beyond U+10FFFF.
        int length = 0;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = continuation(i + 1, 0x80, 0xBF) ? 2 : 0;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = continuation(i + 1, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF) &&
                             continuation(i + 2, 0x80, 0xBF)
                         ? 3
                         : 0;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = continuation(i + 1, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF) &&
                             continuation(i + 2, 0x80, 0xBF) && continuation(i + 3, 0x80, 0xBF)
                         ? 4
                         : 0;
        if (length == 0) {
            text.append(QChar(char16_t(0xDC00 + lead)));  // a kept byte
            ++i;
            continue;
        }
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            code = (code << 6) | (b[i + k] & 0x3F);
        if (code >= 0x10000) {
            text.append(QChar::highSurrogate(code));
            text.append(QChar::lowSurrogate(code));
        } else {
            text.append(QChar(char16_t(code)));
        }
        i += length;
    }
    return text;
}

QByteArray PathBytes(QStringView path, bool* exact) {
    QByteArray bytes;
    bytes.reserve(path.size());
    bool allExact = true;
    for (qsizetype i = 0; i < path.size(); ++i) {
        char32_t code = path[i].unicode();
        if (QChar::isHighSurrogate(code) && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(path[i], path[i + 1]);
            ++i;
        } else if (code >= 0xDC80 && code <= 0xDCFF) {
            bytes.append(char(code - 0xDC00));
            continue;
        } else if (QChar::isSurrogate(code)) {
            code = QChar::ReplacementCharacter;
            allExact = false;
        }
        if (code < 0x80) {
            bytes.append(char(code));
        } else if (code < 0x800) {
            bytes.append(char(0xC0 | (code >> 6)));
            bytes.append(char(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.append(char(0xE0 | (code >> 12)));
            bytes.append(char(0x80 | ((code >> 6) & 0x3F)));
            bytes.append(char(0x80 | (code & 0x3F)));
        } else {
            bytes.append(char(0xF0 | (code >> 18)));
            bytes.append(char(0x80 | ((code >> 12) & 0x3F)));
            bytes.append(char(0x80 | ((code >> 6) & 0x3F)));
            bytes.append(char(0x80 | (code & 0x3F)));
        }
    }
    if (exact)
        *exact = allExact;
    return bytes;
}

namespace {

// True for the characters that stand for no text: lone surrogates (kept bytes among them).
// `i` moves past a pair.
bool loneSurrogateAt(QStringView text, qsizetype& i) {
    if (!text[i].isSurrogate())
        return false;
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        ++i;
        return false;
    }
    return true;
}

}  // namespace

bool HoldsKeptBytes(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (loneSurrogateAt(text, i) && text[i].unicode() >= 0xDC80 && text[i].unicode() <= 0xDCFF)
            return true;
    return false;
}

QString ShownText(const QString& text) {
    QString shown = text;
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (loneSurrogateAt(shown, i))
            shown[i] = QChar::ReplacementCharacter;
    return shown;
}

QString AbsolutePath(const QString& path) {
    if (QDir::isAbsolutePath(path))
        return QDir::cleanPath(path);
    QString folder;
    std::vector<char> buffer(PATH_MAX + 1);
    if (::getcwd(buffer.data(), buffer.size()) != nullptr)
        folder = PathFromBytes(buffer.data());
    else
        folder = QDir::currentPath();
    return QDir::cleanPath(folder + QLatin1Char('/') + path);
}

QByteArray FileUrlOf(const QString& absolutePath) {
    if (!HoldsKeptBytes(absolutePath))
        return QUrl::fromLocalFile(absolutePath).toEncoded();
    // Every byte but the unreserved ones and "/" escaped: the bytes come back as they are.
    return QByteArrayLiteral("file://") + PathBytes(absolutePath).toPercentEncoding("/");
}

QString LocalPathOf(const QUrl& url) {
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    // QUrl puts U+FFFD in place of escaped bytes that are not text: those come from the
    // address itself.
    if (!path.contains(QChar::ReplacementCharacter) || !url.host().isEmpty())
        return path;
    return PathFromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QByteArray EncodedPath(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(0)))
        return {};
    bool exact = true;
    QByteArray name = PathBytes(path, &exact);
    return exact && name.size() < PathLengthLimit() ? name : QByteArray();
}

int PathLengthLimit() {
    return PATH_MAX;
}

QString FileNameOf(const QString& path, QChar separator) {
    const qsizetype p = path.lastIndexOf(separator);
    return p < 0 ? path : path.mid(p + 1);
}

QString NormalizePath(const QString& path, QChar separator) {
    if (path.isEmpty() || path[0] != separator || separator != QLatin1Char('\\'))
        return collapsePairs(path, separator);
    qsizetype k = 1;
    while (k < path.size() && path[k] == separator)
        ++k;
    return QString(2, separator) + collapsePairs(path.mid(k), separator);
}

bool FileExists(const QString& path) {
    struct stat info {};
    return statPath(path, &info);
}

bool IsDirectory(const QString& path) {
    struct stat info {};
    return statPath(path, &info) && S_ISDIR(info.st_mode);
}

bool IsOpenableFile(const QString& path) {
    const QByteArray name = EncodedPath(path);
    struct stat info {};
    if (name.isEmpty() || ::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    // O_NONBLOCK: should the item have been replaced by a FIFO since the stat, the open must
    // not wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}
