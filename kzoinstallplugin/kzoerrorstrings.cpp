#include "kzoerrorstrings.h"

const std::string errorStrings[kErrorStringCount] = {
    "Success",
    "Selected Audio Devices unavailable",
    "Passed stream is NULL",
    "Rendering Window is NULL. It did not get created in slave correctly",
    "Signalling channel is not yet created",
    "Unable to login",
    "Local media info passed as input is incorrect",
    "getUserMedia api is not called before creating newPeerConnection",
    "Invalid username. Username should be in the form user@domain",
    "Remote stream not yet created",
    "Already logged in",
    "Incorrect Date string pattern",
    "Invalid URL",
    "No Logs available for given search criteria",
    "Logs not found",
    "AutoUpate, Download operation failed ",
    "AutoUpate, Installation operation failed",
    "Error in Media initialization",
    "Error in Presence initialization",
    "Presentation request failed",
    "Call to server failed",
    "Setting of Mic Enhancements Failed",
    "Setting of Speaker Enhancements Failed",
    "Error in Selected Speakers",
    "XP Version not supported",
    "Selected microphone is not working",
    "Selected speaker is not working",
    "No CA Certificate",
    "Log upload already in progress",
    "Error in uploading log files",
    "Canceled uploading logs",
    "RTCP timed out",
    "Linux auto update is not supported",
    "Invalid error code. Greater than max error code. ",
};

const std::string& errorStringFor(int code)
{
    const int last = kErrorStringCount - 1;
    return errorStrings[code < 0 || code > last ? last : code];
}
