// GenericException: the exceptions the node map raises, one class per kind of failure.
#pragma once

#include <stdexcept>
#include <string>

namespace qorcam::genapi {

/// Base of every error the node map raises; what() is a complete sentence
/// naming the node and the reason, so callers may show it as it is.
class GenericException : public std::runtime_error {
public:
    explicit GenericException(const std::string& text) : std::runtime_error(text) {}
};

/// The node's access mode forbids the operation (not readable, not writable,
/// locked, not available, port not connected).
class AccessException : public GenericException {
public:
    using GenericException::GenericException;
};

/// A value outside the node's minimum, maximum, increment or entry list.
class OutOfRangeException : public GenericException {
public:
    using GenericException::GenericException;
};

/// A wrong argument: null buffer, unknown symbolic name, a text that is no number.
class InvalidArgumentException : public GenericException {
public:
    using GenericException::GenericException;
};

/// A description that cannot be used (malformed XML, missing node, loop) or a
/// call on a pointer that holds no node.
class LogicalErrorException : public GenericException {
public:
    using GenericException::GenericException;
};

/// A failure while running: the port refused an access, a formula divided by zero.
class RuntimeException : public GenericException {
public:
    using GenericException::GenericException;
};

} // namespace qorcam::genapi
