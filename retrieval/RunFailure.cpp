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
    case RunFailure::badReply: return "bad_reply";
    case RunFailure::lineNoisy: return "line_noisy";
    case RunFailure::saveFailed: return "save_failed";
    case RunFailure::interrupted: return "interrupted";
    case RunFailure::noAdapter: return "no_adapter";
    case RunFailure::severalAdapters: return "several_adapters";
    }
    return "no_reply";
}

namespace {

// "The station ... : detail. What to do." or, without a detail, "... . What to do."
std::string WithDetail(const char* pszSaid, const std::string& strDetail, const char* pszToDo)
{
    return std::string(pszSaid) + (strDetail.empty() ? std::string() : ": " + strDetail) + ". " + pszToDo;
}

}  // namespace

std::string RunFailureText(RunFailure cause, const std::string& strDetail)
{
    switch (cause) {
    case RunFailure::none: return std::string();
    case RunFailure::portNotFound:
        return "The port is not there. Check the cable or USB adapter, and the port's number in Device Manager.";
    case RunFailure::portBusy: return "The port is in use by another program. Close that program, then try again.";
    case RunFailure::portDenied:
        if (!strDetail.empty())
            return "Access to the port was refused. Members of the group \"" + strDetail + "\" may use it.";
        return "Access to the port was refused. Ask your administrator for the right to use it.";
    case RunFailure::notASerialPort: return "The name is not that of a serial port. Check it in Device Manager.";
    case RunFailure::lineLost:
        return "The line went away during the upload. Check the cable or USB adapter, then try again.";
    case RunFailure::noReply:
        return "The station did not answer. Check that it is on and connected, and that the baud rate matches.";
    case RunFailure::badReply:
        return WithDetail("The station answered against the protocol", strDetail,
                          "Note this message and call for service.");
    case RunFailure::lineNoisy:
        return WithDetail("The line is noisy", strDetail,
                          "Check the cable and its connectors, or use a lower baud rate.");
    case RunFailure::saveFailed: return "The configuration could not be saved. Choose another folder or file name.";
    case RunFailure::interrupted: return "The upload was interrupted before it ended.";
    case RunFailure::noAdapter: return "No USB serial adapter was found. Plug one in, or name the port.";
    case RunFailure::severalAdapters: return "More than one USB serial adapter was found. Name the port to use.";
    }
    return RunFailureText(RunFailure::noReply);
}
