// The exceptions meant for the page: the browser-facing object turns any of
// them into a script exception whose text is the error's message.
//
// Thrown by value, caught by reference. Copying one copies its message only,
// so a handler that copies a caught error into a new FB::script_error drops
// the subclass. Plain values; usable from any thread.
#ifndef FB_SCRIPT_ERROR_H
#define FB_SCRIPT_ERROR_H

#include <exception>
#include <string>

namespace FB {

class script_error : public std::exception {
public:
    explicit script_error(const std::string& msg) : message(msg) {}

    const char* what() const throw() override { return message.c_str(); }

    std::string message;
};

class invalid_arguments : public script_error {
public:
    invalid_arguments() : script_error("Invalid Arguments") {}
    explicit invalid_arguments(const std::string& msg) : script_error(msg) {}
};

class invalid_member : public script_error {
public:
    explicit invalid_member(const std::string& memberName)
        : script_error("The specified member does not exist: " + memberName) {}
};

class object_invalidated : public script_error {
public:
    object_invalidated() : script_error("This object is no longer valid") {}
};

} // namespace FB

#endif
