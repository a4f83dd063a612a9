// The discovery run: registry, selection, the worker pool, then storing or the report.
#pragma once

namespace discovery {

/// Runs the whole discovery; returns the exit status of the run.
int descobertaPPPoE();

}  // namespace discovery
