// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Exit codes of the batch commands.
enum ExitCode
{
    ExitDone = 0,
    ExitRefused = 1,
    ExitUsage = 2,
    ExitDatabase = 3,
    ExitOutput = 4,        // the report could not be written
    ExitInterrupted = 130, // Ctrl-C stopped a pack
};
