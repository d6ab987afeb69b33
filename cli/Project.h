#pragma once
// The project configuration of a run: the configuration file (the one given, or the nearest
// .brellix.toml), with what the command line adds to it or overrides, and what it does to the
// files a run gathers.

#include "CheckCommand.h"
#include "Gathering.h"
#include "Output.h"
#include "project/ProjectConfig.h"

#include <optional>

// The configuration in effect; nothing when it cannot be used (told on `err`).
std::optional<ProjectConfig> ConfigOfRun(const CheckOptions& options, Output& err);

// The files of the configuration's include (for a run given no path), gathered as folders and
// files named on the command line are, shown relative to the working folder.
Gathered GatherIncluded(const CheckOptions& options, const ProjectConfig& config, Output& err);

// Leaves out the files that the walks of folders found and that the configuration excludes or
// git ignores (files named directly are checked whatever their name). False when git could not
// tell (told on `err`).
bool LeaveOutExcluded(Gathered& gathered, const ProjectConfig& config, Output& err);
