// `tovami --remote-stream`: the side of the remote protocol (docs/remote-protocol.md) that runs on
// the host, under the desktop's ssh. No toolkit, no display, no bus: the entry runs it.
#pragma once

namespace tovami::linux_backend {

// Writes the hello and then each scan's changes to standard output; reads decisions and jumps from
// standard input; ends with status 0 when standard input closes, 1 when output fails.
int runRemoteStream();

}  // namespace tovami::linux_backend
