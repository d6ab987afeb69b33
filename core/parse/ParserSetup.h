#pragma once
// The process-wide set-up of the parser, and the warnings of checks that change no verdict.

#include <QString>

#include <functional>

// Prepares the parser for checking: once per process, on the main thread before any other
// thread checks a file. Later calls do nothing. Raises the nesting limit and keeps every
// external definition local (files and the system XML catalog, never the network, regular
// files only), and counts the parser's memory so that one file cannot take all of it. CheckXmlFile
// calls it too, so forgetting it costs only the thread guarantee.
void InitXmlChecking();

// Adds the XML catalog in the file at `path` to the system's, for every check from then on in
// this process; a file added before is not added again. Call it between runs, not while
// files are checked. The file must be a well-formed XML document (its DOCTYPE is not read);
// otherwise nothing is added and the reason is returned ("LINE: MESSAGE"); empty when added.
QString AddXmlCatalog(const QString& path);

// Tells of something the check skipped that changes no verdict but that the user should hear of:
// an XML catalog entry that names a remote catalog, which is never fetched. Each distinct
// warning is told once per process, to the handler set last (none at first), on whichever
// thread met it, so the handler must be safe to call from any thread. nullptr removes it.
using XmlCheckWarningHandler = std::function<void(const QString& warning)>;
void SetXmlCheckWarningHandler(XmlCheckWarningHandler handler);
