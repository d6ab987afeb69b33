#pragma once
// The benchmark corpus, generated into a folder:
//   small/d00 .. small/d19   20,000 files of 1-8 KB (1,000 per folder); every tenth file has a
//                            DTD (internal or the folder's external catalog.dtd), one in fifty
//                            is broken (a mismatched end tag)
//   big/big.xml              one well-formed file of 100 MB
//   tree/top0..9/sub0..99    100,000 tiny files in 1,000 folders (the layout of
//                            bench_folder_walk, so either program can reuse the other's tree)
// Each part is made only when its marker file is missing, so a corpus in /tmp is built once
// and reused by later runs.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>

namespace corpus {

constexpr int kSmallFiles = 20000;
constexpr int kSmallFolders = 20;
constexpr qint64 kBigBytes = 100LL * 1024 * 1024;
constexpr int kTreeTop = 10;
constexpr int kTreeSub = 100;
constexpr int kTreeFiles = 100;

inline QString smallFolder(const QString& root) {
    return root + QStringLiteral("/small");
}
inline QString bigFile(const QString& root) {
    return root + QStringLiteral("/big/big.xml");
}
inline QString treeFolder(const QString& root) {
    return root + QStringLiteral("/tree");
}

// Writes `content` to `path` in one go; false when that fails.
inline bool writeFile(const QString& path, const QByteArray& content) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.constData(), content.size()) == content.size();
    return ::close(fd) == 0 && ok;
}

// A small deterministic generator, so that every corpus is the same.
class Lcg {
public:
    explicit Lcg(std::uint32_t start) : state_(start) {}
    std::uint32_t next() {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }

private:
    std::uint32_t state_;
};

inline QByteArray record(std::uint32_t n) {
    const QByteArray id = QByteArray::number(n);
    return "  <book id=\"b" + id + "\">\n    <title>Notes on volume " + id +
           "</title>\n    <author>Writer " + QByteArray::number(n % 97) + "</author>\n    <price>" +
           QByteArray::number(n % 50) + ".95</price>\n  </book>\n";
}

constexpr char kDtd[] =
    "<!ELEMENT catalog (book*)>\n<!ELEMENT book (title, author, price)>\n"
    "<!ATTLIST book id CDATA #REQUIRED>\n<!ELEMENT title (#PCDATA)>\n"
    "<!ELEMENT author (#PCDATA)>\n<!ELEMENT price (#PCDATA)>\n";

// Small file number i: 1-8 KB of catalog records.
inline QByteArray smallFile(int i, Lcg& random) {
    const int target = 1024 + static_cast<int>(random.next() % (7 * 1024));
    QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (i % 10 == 0) {
        if (i % 20 == 0)
            text += "<!DOCTYPE catalog [\n" + QByteArray(kDtd) + "]>\n";
        else
            text += "<!DOCTYPE catalog SYSTEM \"catalog.dtd\">\n";
    }
    text += "<catalog>\n";
    std::uint32_t n = static_cast<std::uint32_t>(i) * 1000;
    while (text.size() + 11 < target)
        text += record(n++);
    if (i % 50 == 7)
        text += "  <book id=\"x\"><title>broken</titel></book>\n";
    text += "</catalog>\n";
    return text;
}

inline bool makeSmall(const QString& root) {
    Lcg random(20000);
    for (int f = 0; f < kSmallFolders; ++f) {
        const QString folder = smallFolder(root) + QStringLiteral("/d%1").arg(f, 2, 10, QChar('0'));
        if (!QDir().mkpath(folder) || !writeFile(folder + QStringLiteral("/catalog.dtd"), kDtd))
            return false;
    }
    const int perFolder = kSmallFiles / kSmallFolders;
    for (int i = 0; i < kSmallFiles; ++i) {
        const QString path = smallFolder(root) + QStringLiteral("/d%1/f%2.xml")
                                                     .arg(i / perFolder, 2, 10, QChar('0'))
                                                     .arg(i, 5, 10, QChar('0'));
        if (!writeFile(path, smallFile(i, random)))
            return false;
    }
    return true;
}

inline bool makeBig(const QString& root) {
    const QString path = bigFile(root);
    if (!QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/')))))
        return false;
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<catalog>\n";
    const QByteArray end = "</catalog>\n";
    qint64 written = 0;
    std::uint32_t n = 0;
    for (;;) {
        const QByteArray next = record(n++);
        if (written + chunk.size() + next.size() + end.size() > kBigBytes)
            break;
        chunk += next;
        if (chunk.size() > (1 << 20)) {
            if (out.write(chunk) != chunk.size())
                return false;
            written += chunk.size();
            chunk.clear();
        }
    }
    chunk += end;
    return out.write(chunk) == chunk.size() && out.flush();
}

inline bool makeTree(const QString& root) {
    for (int t = 0; t < kTreeTop; ++t) {
        for (int s = 0; s < kTreeSub; ++s) {
            const QString folder = QStringLiteral("%1/top%2/sub%3").arg(root).arg(t).arg(s);
            if (!QDir().mkpath(folder))
                return false;
            for (int f = 0; f < kTreeFiles; ++f) {
                if (!writeFile(QStringLiteral("%1/file%2.xml").arg(folder).arg(f), "<a/>\n"))
                    return false;
            }
        }
    }
    return true;
}

// Makes each part of the corpus under `root` that is not there yet. False (with a message on
// standard error) when a part cannot be written.
inline bool Make(const QString& root) {
    struct Part {
        const char* name;
        QString marker;
        bool (*make)(const QString&);
        QString where;
    };
    const Part parts[] = {
        {"20,000 small files", smallFolder(root) + "/.complete", makeSmall, root},
        {"one 100 MB file", root + "/big/.complete", makeBig, root},
        {"a tree of 100,000 files", treeFolder(root) + "/.complete", makeTree, treeFolder(root)},
    };
    for (const Part& part : parts) {
        if (QFile::exists(part.marker))
            continue;
        std::printf("making %s in %s ...\n", part.name, qPrintable(root));
        std::fflush(stdout);
        if (!QDir().mkpath(part.where) || !part.make(part.where) ||
            !writeFile(part.marker, QByteArray())) {
            std::fprintf(stderr, "cannot write %s under %s\n", part.name, qPrintable(root));
            return false;
        }
    }
    return true;
}

}  // namespace corpus
