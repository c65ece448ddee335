#pragma once

#include <cstdio>

class BatchPlatform;
class VISAComExample;

/// Exit statuses of batch mode.
enum BatchStatus {
    kBatchReadingsListed = 0, ///< the run listed its readings and the program ended through "Exit"
    kBatchFailed = 1, ///< the program ended after a message, or the run listed no readings
    kBatchUsageError = 2,
};

/// Batch mode: loads @p window, clicks "Get Readings" once and then "Exit", writing every listed
/// line to @p out as it is listed. Messages go wherever @p platform sends them. When
/// @p progressTerminal is a terminal, one self-rewriting line there shows the wait. A failed
/// write to @p out is a failure. Needs no event loop of its own; returns the exit status.
int runBatch(VISAComExample &window, BatchPlatform &platform, std::FILE *out, std::FILE *progressTerminal = nullptr);
