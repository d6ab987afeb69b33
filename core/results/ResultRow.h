#pragma once
// The row that a checked file becomes in the valid or the invalid list. The window and the
// command line build it here, so that their saved lists are the same byte for byte.

#include "check/XmlCheck.h"

#include <QString>

class FailureReporter;

// The text of the row that a checked file becomes: the path alone for a file that loaded or
// whose check failed, and for an invalid file with `showErrors` the path, " - " and the report.
QString CheckResultRow(const QString& path, const CheckResult& result, bool showErrors);

// The location text of the single-file check: "in Brellix2021/08/31.Validate2.ValidateXML2 ".
QString ValidateLocation();

// Where filed rows go: the valid and the invalid list.
class ResultRowSink {
public:
    virtual ~ResultRowSink() = default;
    virtual void appendValid(const QString& row) = 0;
    virtual void appendInvalid(const QString& row) = 0;
};

// Files the result of a check that has already run, possibly on another thread, as the guarded
// steps 100 to 112 of the single-file check: reports a failure of the check at its step (100
// or 102) to `reporter`, then appends exactly one row (see CheckResultRow). A file whose check
// failed is never valid; its row is the path alone.
void FileCheckResult(const QString& path, const CheckResult& result, ResultRowSink& rows,
                     bool showErrors, FailureReporter& reporter);
