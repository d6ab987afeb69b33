#include "project/PathPattern.h"

#include "files/Wildcard.h"

#include <QDir>

namespace {

// True when the names from `n` on match the pattern's segments from `s` on. "**" tries every
// number of names; without two of them in a row the work stays small.
bool matchesSegments(const QList<QStringView>& names, qsizetype n, const QStringList& segments,
                     qsizetype s) {
    for (; s < segments.size(); ++s, ++n) {
        if (segments[s] == QLatin1String("**")) {
            for (qsizetype from = n; from <= names.size(); ++from)
                if (matchesSegments(names, from, segments, s + 1))
                    return true;
            return false;
        }
        if (n >= names.size() || !MatchesWildcardExactly(names[n], segments[s]))
            return false;
    }
    return n == names.size();
}

}  // namespace

PathPattern::PathPattern(const QString& pattern, const QString& base)
    : text_(pattern), base_(QDir::cleanPath(base)) {
    QString text = pattern;
    if (text.trimmed().isEmpty()) {
        problem_ = QStringLiteral("an empty pattern matches no file");
        return;
    }
    if (text.startsWith(QLatin1Char('/'))) {
        problem_ = QStringLiteral(
                       "a pattern is relative to the configuration's folder; \"%1\" is absolute")
                       .arg(pattern);
        return;
    }
    while (text.startsWith(QLatin1String("./")))
        text.remove(0, 2);
    if (text.endsWith(QLatin1Char('/')))
        text += QLatin1String("**");
    if (text == QLatin1String("."))
        text = QStringLiteral("**");
    for (const QString& segment : text.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("..")) {
            problem_ = QStringLiteral(
                           "\"%1\" climbs out of the configuration's folder with \"..\"; only "
                           "files below it are matched")
                           .arg(pattern);
            return;
        }
        if (segment != QLatin1String("**") && segment.contains(QLatin1String("**"))) {
            problem_ = QStringLiteral(
                           "in \"%1\", \"**\" must be a whole name between slashes, as in "
                           "\"docs/**/*.xml\"; \"*\" matches within a name")
                           .arg(pattern);
            return;
        }
        // "." stands for the folder itself; "**/**" is "**".
        if (segment == QLatin1String(".") ||
            (segment == QLatin1String("**") && !segments_.isEmpty() &&
             segments_.constLast() == QLatin1String("**")))
            continue;
        segments_.append(segment);
    }
    if (segments_.isEmpty())
        segments_.append(QStringLiteral("**"));  // "./": everything below
    // A name alone is looked for in every folder.
    if (!pattern.contains(QLatin1Char('/')) && segments_.constFirst() != QLatin1String("**"))
        segments_.prepend(QStringLiteral("**"));
}

bool PathPattern::matchesRelative(QStringView relative) const {
    if (!problem_.isEmpty())
        return false;
    const QList<QStringView> names = relative.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return matchesSegments(names, 0, segments_, 0);
}

bool PathPattern::matches(const QString& absolutePath) const {
    const QString relative = PathBelow(absolutePath, base_);
    return !relative.isEmpty() && matchesRelative(relative);
}

QString PathBelow(const QString& absolutePath, const QString& base) {
    const QString folder = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    if (!absolutePath.startsWith(folder) || absolutePath.size() == folder.size())
        return {};
    return absolutePath.mid(folder.size());
}
