#pragma once
// The environment of a test of the checking core: the scratch folder alone, under the name the
// window's tests use for theirs (TestEnv.h, which adds the window). A core test links only the
// core and cannot reach the window's headers.

#include "tests/support/TestFolder.h"

using TestEnv = TestFolder;
