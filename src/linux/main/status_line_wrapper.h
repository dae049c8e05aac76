// "tovami --hook status-line --socket PATH [--wrap COMMAND]": Claude Code's status line command.
// It reads Claude Code's input, hands the keys Tovami shows to the socket without waiting for
// anything, then becomes the user's own command (/bin/sh -c COMMAND, exec'd: same process, same
// signals, its output and exit status untouched) with the very same input on standard input.
// Without COMMAND (the user had none) it prints nothing and ends with 0: the status line stays as
// empty as it was before Tovami.
#pragma once

namespace tovami::linux_backend {

// argv as main() got it, "--hook" "status-line" first. Returns only when COMMAND cannot be run.
int runStatusLineWrapper(int argc, char** argv);

}  // namespace tovami::linux_backend
