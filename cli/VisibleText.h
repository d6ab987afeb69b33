#pragma once
// Text taken from a file name or a document, made safe for a terminal or a CI log: nothing in
// it can start a line of its own or reach the terminal as a control character.

#include <QByteArray>
#include <QString>

// `text` with every character that could act on a terminal or a log written as visible
// characters: a backslash as \\, line feed, carriage return and tab as \n, \r and \t, the other
// C0 controls and DEL as \xHH (ESC: \x1b), the C1 controls (U+0080 to U+009F), the line and
// paragraph separators and the bidirectional marks and overrides as \uHHHH. Everything else is
// kept as it is.
QString Visible(const QString& text);

// A JSON text (as QJsonDocument writes it: every C0 control already escaped) with DEL, the C1
// controls, the separators and the bidirectional marks written as \u escapes too, so that the
// document shows the same on a terminal as in an editor. Only string contents can hold them.
QByteArray JsonWithoutTerminalControls(const QByteArray& json);

// True for the characters that Visible writes as \uHHHH.
bool IsInvisibleFormatCharacter(char16_t c);
