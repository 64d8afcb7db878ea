// Why a retrieval did not end with a saved image: the one table of causes
// that the window's words, tcc-upload's line, its JSON "error" class and its
// exit status are each mapped from, once.
#pragma once

enum class RunFailure {
    none,            // saved (or, for the uploader, retrieved)
    portNotFound,    // no such port: cable, adapter or number wrong
    portBusy,        // another program holds the port
    portDenied,      // the user may not open the port
    notASerialPort,  // the name is something else
    lineLost,        // the port went away during the run (adapter pulled)
    noReply,         // the station did not answer, or answered wrongly
    saveFailed,      // retrieved, but the file could not be written
    interrupted,     // Ctrl-C, SIGTERM, a closed terminal
    noAdapter,       // tcc-upload --port auto: no USB serial adapter
    severalAdapters  // tcc-upload --port auto: more than one
};

// The JSON class: "port_not_found", "line_lost", ...; null for none.
const char* RunFailureClass(RunFailure cause);
