#include "ListFiles.h"
#include "files/PathUtil.h"

#include "VisibleText.h"
#include "common/ErrorReport.h"
#include "parse/LoadedFiles.h"
#include "results/ResultFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <sys/stat.h>
#include <algorithm>
#include <memory>

namespace {

struct Identity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
};

std::optional<Identity> identityOf(const QString& path) {
    struct stat st {};
    if (::stat(PathBytes(path).constData(), &st) != 0)
        return std::nullopt;
    return Identity{static_cast<unsigned long long>(st.st_dev),
                    static_cast<unsigned long long>(st.st_ino)};
}

// Where a path that may not exist yet leads: its links followed, its folder made canonical.
QString whereItLeads(const QString& path) {
    QFileInfo info(path);
    for (int links = 0; links < 40 && info.isSymLink(); ++links)
        info = QFileInfo(info.symLinkTarget());
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : folder + QLatin1Char('/') + info.fileName();
}

// A list file and what it names, compared with the run's inputs.
class ListTarget {
public:
    explicit ListTarget(const QString& path)
        : path_(path), identity_(identityOf(path)), leads_(whereItLeads(path)) {}
    const QString& path() const { return path_; }
    bool is(const QString& other) const {
        if (identity_) {
            const std::optional<Identity> id = identityOf(other);
            if (id)
                return id->device == identity_->device && id->inode == identity_->inode;
        }
        return whereItLeads(other) == leads_;
    }
    bool is(const LoadedFile& file) const {
        return identity_ && identity_->device == file.device && identity_->inode == file.inode;
    }

private:
    QString path_;
    std::optional<Identity> identity_;
    QString leads_;
};

// The catalogs the parser reads: those of XML_CATALOG_FILES (paths or file: URIs, separated by
// blanks), or else the system's.
QStringList catalogFiles() {
    const QByteArray setting = qgetenv("XML_CATALOG_FILES");
    if (!qEnvironmentVariableIsSet("XML_CATALOG_FILES"))
        return {QStringLiteral("/etc/xml/catalog")};
    QStringList files;
    for (const QByteArray& entry : setting.simplified().split(' ')) {
        if (entry.isEmpty())
            continue;
        if (entry.startsWith("file:"))
            files.append(QUrl::fromEncoded(entry).toLocalFile());
        else
            files.append(QFile::decodeName(entry));
    }
    return files;
}

QString refusal(const QString& list, const QString& what, const QString& input,
                bool output = false) {
    return QStringLiteral("the %1 file '%2' is also %3 ('%4'); it would be overwritten")
        .arg(output ? QStringLiteral("output") : QStringLiteral("list"), Visible(list), what,
             Visible(input));
}

}  // namespace

std::optional<QString> ListFileConflict(const CheckOptions& options,
                                        const std::vector<Entry>& entries,
                                        const QStringList& schemas,
                                        const QStringList& configuration) {
    if (!options.validListFile.isEmpty() && !options.invalidListFile.isEmpty() &&
        ListTarget(options.validListFile).is(options.invalidListFile))
        return QStringLiteral(
                   "--valid-list and --invalid-list name the same file '%1'; each "
                   "list needs a file of its own")
            .arg(Visible(options.invalidListFile));
    // Every file the run writes: the lists, then the outputs.
    std::vector<std::pair<QString, bool>> written;
    for (const QString& list : {options.validListFile, options.invalidListFile})
        if (!list.isEmpty())
            written.emplace_back(list, false);
    for (const auto& output : options.outputs)
        written.emplace_back(output.second, true);
    for (std::size_t i = 0; i < written.size(); ++i) {
        const QString& list = written[i].first;
        const bool output = written[i].second;
        const ListTarget target(list);
        for (std::size_t j = 0; j < i; ++j)
            if (output && target.is(written[j].first))
                return QStringLiteral(
                           "--output names the file '%1', which another output or "
                           "list also writes; each needs a file of its own")
                    .arg(Visible(list));
        for (const QString& from : options.filesFrom)
            if (from != QLatin1String("-") && target.is(from))
                return refusal(list, QStringLiteral("a --files-from list"), from, output);
        for (const QString& schema : schemas)
            if (target.is(schema))
                return refusal(list, QStringLiteral("the schema"), schema, output);
        for (const QString& read : configuration)
            if (target.is(read))
                return refusal(list, QStringLiteral("the configuration or one of its catalogs"),
                               read, output);
        for (const QString& catalog : catalogFiles())
            if (target.is(catalog))
                return refusal(list, QStringLiteral("an XML catalog"), catalog, output);
        for (const Entry& entry : entries)
            if (!entry.standardInput && target.is(entry.checkPath()))
                return refusal(list, QStringLiteral("a file to check"), entry.path, output);
    }
    return std::nullopt;
}

bool WriteLists(const CheckOptions& options, const QStringList& validRows,
                const QStringList& invalidRows, Output& err) {
    bool written = true;
    // Runs one step of one list; a list that fails is reported and left out, the other goes on.
    const auto attempt = [&](auto&& step) {
        try {
            step();
            return true;
        } catch (...) {
            err.message(Visible(CurrentExceptionDescription()));
            written = false;
            return false;
        }
    };
    std::vector<std::unique_ptr<ResultFileWriter>> writers;
    for (const auto& list : {std::pair{&options.validListFile, &validRows},
                             std::pair{&options.invalidListFile, &invalidRows}}) {
        // (clang 14 lets no lambda capture a structured binding)
        const QString* file = list.first;
        const QStringList* rows = list.second;
        if (file->isEmpty())
            continue;
        auto writer = std::make_unique<ResultFileWriter>(*file);
        if (attempt([&] {
                writer->open();
                for (const QString& row : *rows)
                    writer->writeRow(row);
            }))
            writers.push_back(std::move(writer));
    }
    // Every check has ended: the files they read are all known now.
    const std::vector<LoadedFile> loaded = LoadedFiles();
    for (const auto& writer : writers) {
        const ListTarget target(writer->path());
        for (const LoadedFile& file : loaded) {
            if (target.is(file)) {
                err.message(refusal(writer->path(), QStringLiteral("a file that the checks read"),
                                    file.path) +
                            QStringLiteral("; no list was written"));
                return false;  // the writers' new files go unused
            }
        }
    }
    for (const auto& writer : writers)
        attempt([&] { writer->commit(); });
    return written;
}

bool WriteOutputs(const CheckOptions& options, const std::vector<QByteArray>& contents,
                  Output& err) {
    bool written = true;
    const std::vector<LoadedFile> loaded = LoadedFiles();
    for (std::size_t i = 0; i < options.outputs.size() && i < contents.size(); ++i) {
        const QString& path = options.outputs[i].second;
        const ListTarget target(path);
        const auto read = std::find_if(loaded.begin(), loaded.end(),
                                       [&](const LoadedFile& file) { return target.is(file); });
        if (read != loaded.end()) {
            err.message(
                refusal(path, QStringLiteral("a file that the checks read"), read->path, true) +
                QStringLiteral("; it was not written"));
            written = false;
            continue;
        }
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents[i]) != contents[i].size() ||
            !file.commit()) {
            err.message(QStringLiteral("cannot write the output file '%1': %2")
                            .arg(Visible(path), Visible(file.errorString())));
            written = false;
        }
    }
    return written;
}
