// Why a retrieval did not end with a saved image: the one table of causes
// that the window's words, tcc-upload's line, its JSON "error" class and its
// exit status are each mapped from, once.
#pragma once

#include <string>

enum class RunFailure {
    none,            // saved (or, for the uploader, retrieved)
    portNotFound,    // no such port: cable, adapter or number wrong
    portBusy,        // another program holds the port
    portDenied,      // the user may not open the port
    notASerialPort,  // the name is something else
    lineLost,        // the port went away during the run (adapter pulled)
    noReply,         // the reply timeout decided: the station fell silent
    badReply,        // the station answered against the protocol
    lineNoisy,       // frames failed their check, or the line counted errors
    saveFailed,      // retrieved, but the file could not be written
    interrupted,     // Ctrl-C, SIGTERM, a closed terminal
    noAdapter,       // tcc-upload --port auto: no USB serial adapter
    severalAdapters  // tcc-upload --port auto: more than one
};

// The JSON class: "port_not_found", "line_lost", ...; null for none.
const char* RunFailureClass(RunFailure cause);

// The technician's words for the cause, one or two sentences to act on: the
// second line of the window's box and tcc-upload's message. strDetail names,
// for portDenied, the group whose members may open the port (PortAccessGroup);
// for badReply, the rule the station broke ("announced 600000 bytes, over the
// 524288 limit"); for lineNoisy, what failed ("5 frames failed their check");
// empty when there is none to name. Empty for none.
std::string RunFailureText(RunFailure cause, const std::string& strDetail = std::string());
