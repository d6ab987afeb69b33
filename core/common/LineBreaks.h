#pragma once
// Report and message texts break their lines with CR LF, and some with a lone CR, as the saved
// lists have them; a Qt label, a tool tip and a terminal want LF.

#include <QString>

// `text` with each CR LF, and each CR on its own, turned into one LF.
QString WithLineFeeds(QString text);
