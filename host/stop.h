// Requests from outside to stop long work: Ctrl-C (SIGINT) and SIGTERM, and
// under Windows the console's Ctrl-C, Ctrl-Break and close events. The first
// request is remembered for the capture and watch loops, which then end
// cleanly (whole packets, the summary, the card closed); a second one ends the
// program at once, as the system would.
#pragma once

// Catches stop requests from now on. A reader that goes away (a closed pipe)
// then shows as a failed write, not as a signal that ends the program.
void CatchStopRequests();

// nullptr until a request came, then its name: "SIGINT", "SIGTERM", "Ctrl-C".
const char* StopRequest();

// The command is done: the card closed, the outputs finished. Under Windows a
// console close, logoff or shutdown event waits for this (4 s at most) before
// the system ends the program.
void ReadyToEnd();
