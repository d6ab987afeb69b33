#pragma once
// Patterns of paths below a folder, as a project's configuration names files: "*" stands for
// any run of characters within a name, "?" for one character, and a segment "**" for any
// number of folders (none included). A pattern with a slash is matched against the whole path
// relative to its folder ("docs/*.xml" is only in docs); one without is matched against the
// name in any folder ("*.xml"). A pattern that ends in "/" names a folder and everything in it.
// Names are compared as they are, case included.

#include <QString>
#include <QStringList>

class PathPattern {
public:
    // `pattern` relative to the folder `base` (an absolute path). Check problem() before use.
    PathPattern(const QString& pattern, const QString& base);

    // Why the pattern can match no path below its folder (empty, absolute, climbing out with
    // "..", "**" joined to other characters), or empty when it is usable.
    const QString& problem() const { return problem_; }
    const QString& text() const { return text_; }
    const QString& base() const { return base_; }

    // True when the file at `absolutePath` is below the pattern's folder and matches.
    bool matches(const QString& absolutePath) const;
    // True when `relative` (a path below the folder, "/" between names) matches.
    bool matchesRelative(QStringView relative) const;

private:
    QString text_;
    QString base_;
    QStringList segments_;
    QString problem_;
};

// The path of `absolutePath` below the folder `base` ("/" between names), or empty when it is
// not below it.
QString PathBelow(const QString& absolutePath, const QString& base);
