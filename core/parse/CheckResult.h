#pragma once
// The verdict of one check and the report of the error that made a load fail.

#include <QString>

#include <cstdint>
#include <vector>

// The seven fields of the first error that made a load fail.
struct ParseErrorReport {
    std::int32_t errorCode = 0;  // the parser's error code (libxml2's xmlParserErrors)
    QString url;                 // the document (or DTD, or entity) that holds the error
    QString reason;              // the parser's description, ending in CR LF
    QString srcText;             // the text of the line that holds the error
    std::int32_t line = 0;       // line number, from 1 (0: not known)
    std::int32_t linepos = 0;    // position within the line, from 1 (0: not known)
    std::int32_t filepos = 0;    // byte offset of the error in the file (0: not known)

    bool operator==(const ParseErrorReport&) const = default;
};

// The outcome of checking one file.
struct CheckResult {
    bool loaded = false;     // the file loaded: it is well-formed, and valid when it has a DTD
    ParseErrorReport error;  // when not loaded: why
    // Set when the check itself failed instead of giving a verdict (the parser could not be
    // set up, or ran out of memory): the number of the step that failed (100: creating the
    // parser, 102: loading) and a description. `loaded` is then false.
    int failedStep = 0;
    QString failure;
    // The errors after the first one, when the check was asked for them (empty otherwise).
    std::vector<ParseErrorReport> laterErrors;
};
