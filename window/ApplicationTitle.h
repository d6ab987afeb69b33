#pragma once

#include <QString>

// The title for message boxes made from a product name: the name less its last word, and less
// further trailing words until it has at most 40 characters. A one-word name stays whole.
QString ApplicationTitleFor(const QString& productName);
