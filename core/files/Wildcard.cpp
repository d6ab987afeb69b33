#include "files/Wildcard.h"

#include <QString>

namespace {

// Greedy matching with one backtrack point (the last "*"): linear in practice, and never
// worse than the product of the two lengths, whatever the pattern.
bool matchExactly(QStringView name, QStringView pattern) {
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == QLatin1Char('?') || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(QStringView name, QStringView pattern) {
    if (pattern == QLatin1String("*.*"))
        return true;
    return matchExactly(name.toString().toCaseFolded(), pattern.toString().toCaseFolded());
}

bool MatchesWildcardExactly(QStringView name, QStringView pattern) {
    return matchExactly(name, pattern);
}
