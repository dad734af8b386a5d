#pragma once

#include <cstring>
#include <stdexcept>
#include <string>

// The general exception of the system; every failure we raise derives from it, and what() is the
// message text exactly as the system defines it.
class Exception : public std::runtime_error
{
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// An operation the current state does not allow (outside the PDF writer).
class EInvalidOperation : public Exception
{
public:
    using Exception::Exception;
};

// A file that cannot be created or written.
class EFileError : public Exception
{
public:
    using Exception::Exception;
};

// Throws EFileError "<what> \"<path>\": <the error number's text>", as in
// "Cannot write file \"out.pdf\": No space left on device".
[[noreturn]] inline void ThrowFileError(const char* what, const std::string& path, int error)
{
    throw EFileError(std::string(what) + " \"" + path + "\": " + std::strerror(error));
}

// The PDF writer's own failures.
class EPdfInvalidValue : public Exception
{
public:
    using Exception::Exception;
};

class EPdfInvalidOperation : public Exception
{
public:
    using Exception::Exception;
};

class EPdfInvalidImageFormat : public Exception
{
public:
    using Exception::Exception;
};
