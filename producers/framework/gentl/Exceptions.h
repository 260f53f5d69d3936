// Exception classes of the producer besides the standard library's: time-outs and failed handle casts.
#pragma once

#include <exception>
#include <string>

namespace GenICam::Client {

// A wait that ran out of time. Deliberately not a std::runtime_error, so the export frame maps it to
// GC_ERR_TIMEOUT instead of GC_ERR_ERROR.
class timeout_error : public std::exception {
public:
    explicit timeout_error(std::string what) : m_what(std::move(what)) {}
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_what;
};

// A wait that EventKill ended; the export frame maps it to GC_ERR_ABORT.
class abort_error : public std::exception {
public:
    explicit abort_error(std::string what) : m_what(std::move(what)) {}
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_what;
};

// A handle whose object is not of the class an operation needs.
class dynamic_cast_error : public std::exception {
public:
    explicit dynamic_cast_error(std::string what) : m_what(std::move(what)) {}
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::string m_what;
};

} // namespace GenICam::Client
