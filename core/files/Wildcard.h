#pragma once
// Matching file names against a wildcard pattern, as folder listings do it: without regard to
// case, "*" standing for any run of characters and "?" for exactly one.

#include <QStringView>

// True when `name` matches `pattern`. The pattern "*.*" matches every name, one without a dot
// included.
bool MatchesWildcard(QStringView name, QStringView pattern);

// The same with case counting and no special "*.*": as paths of a project's patterns are
// compared.
bool MatchesWildcardExactly(QStringView name, QStringView pattern);
