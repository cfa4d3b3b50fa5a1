// What topleft does with its command line: `--help` and `--version` answer without touching the
// desktop, and any other argument is refused; with none, the run goes on to the listing.
#pragma once

#include <optional>

// The exit status of a run the command line ends (0 after --help or --version, 2 for an
// argument topleft does not take, with one line on standard error); empty where the run goes on.
std::optional<int> AnswerCommandLine(int argc, char** argv);
