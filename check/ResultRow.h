#pragma once

#include "check/XmlCheck.h"

#include <QString>

// The text of the row that a checked file becomes: the path alone for a file that loaded or
// whose check failed, and for an invalid file with `showErrors` the path, " - " and the report.
QString CheckResultRow(const QString& path, const CheckResult& result, bool showErrors);

// The location text of the single-file check: "in Brellix2021/08/31.Validate2.ValidateXML2 ".
QString ValidateLocation();
