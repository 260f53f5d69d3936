// CQorCommand: the driver select tool's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::driverselect {

/// The parsed command line of QorGigEPref.
struct CommandFlags {
    std::uint32_t install = 0;
    std::uint32_t uninstall = 0;
    std::uint32_t path = 0;
    std::uint32_t log = 0;
    std::string folder; ///< the folder that holds Driver/GigE/QorGigE.inf
};

/// Takes parameters one at a time. A flag starts with '/' or '-'; flag names
/// compare without regard to case. After Path, each plain parameter names
/// the folder (its first piece between '"' characters, leading ones skipped);
/// any other flag ends that.
class CQorCommand {
public:
    explicit CQorCommand(CommandFlags& flags) : flags_(flags) {}
    void ParseParam(const std::string& param, bool isFlag, bool isLast);
    /// Parses one command-line argument as the system's parser splits it.
    /// Folders on this system start with '/': right after Path, an argument
    /// led by '/' that is not one of the four flag names is the folder.
    void ParseArgument(const std::string& arg, bool isLast);

private:
    CommandFlags& flags_;
    bool nextIsFolder_ = false;
};

/// Parses argv (argv[0] is the program) and applies the start-up rules:
/// Install with Uninstall clears both; Uninstall clears Path; Path with an
/// empty folder is cleared.
CommandFlags ParseCommandLine(const std::vector<std::string>& args);

} // namespace qorcam::driverselect
