// The installer's error messages: the page turns an error code into text
// through getErrorString, and the updater's failure reports use codes 15 and
// 16. Built at load time and only read afterwards; any thread.
#ifndef KZOERRORSTRINGS_H
#define KZOERRORSTRINGS_H

#include <string>

const int kErrorStringCount = 34;

// Indexed by error code 0 to 33.
extern const std::string errorStrings[kErrorStringCount];

// The message of the code; every code outside the table (above 33 or
// negative) gives the message of code 33.
const std::string& errorStringFor(int code);

#endif
