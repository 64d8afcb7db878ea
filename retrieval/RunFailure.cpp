#include "retrieval/RunFailure.h"

const char* RunFailureClass(RunFailure cause)
{
    switch (cause) {
    case RunFailure::none: return nullptr;
    case RunFailure::portNotFound: return "port_not_found";
    case RunFailure::portBusy: return "port_busy";
    case RunFailure::portDenied: return "port_denied";
    case RunFailure::notASerialPort: return "not_a_serial_port";
    case RunFailure::lineLost: return "line_lost";
    case RunFailure::noReply: return "no_reply";
    case RunFailure::saveFailed: return "save_failed";
    case RunFailure::interrupted: return "interrupted";
    case RunFailure::noAdapter: return "no_adapter";
    case RunFailure::severalAdapters: return "several_adapters";
    }
    return "no_reply";
}
