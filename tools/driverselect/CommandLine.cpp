// CQorCommand: the driver select tool's command line.
#include "CommandLine.h"

#include <strings.h>

namespace qorcam::driverselect {

namespace {
bool IsFlagName(const std::string& name) {
    for (const char* known : {"Install", "Uninstall", "Log", "Path"})
        if (strcasecmp(name.c_str(), known) == 0) return true;
    return false;
}
} // namespace

void CQorCommand::ParseArgument(const std::string& arg, bool isLast) {
    bool isFlag = !arg.empty() && (arg[0] == '/' || arg[0] == '-');
    if (isFlag && arg[0] == '/' && nextIsFolder_ && !IsFlagName(arg.substr(1))) isFlag = false;
    ParseParam(isFlag ? arg.substr(1) : arg, isFlag, isLast);
}

void CQorCommand::ParseParam(const std::string& param, bool isFlag, bool /*isLast*/) {
    if (isFlag) {
        nextIsFolder_ = false;
        if (strcasecmp(param.c_str(), "Install") == 0)
            flags_.install = 1;
        else if (strcasecmp(param.c_str(), "Uninstall") == 0)
            flags_.uninstall = 1;
        else if (strcasecmp(param.c_str(), "Log") == 0)
            flags_.log = 1;
        else if (strcasecmp(param.c_str(), "Path") == 0) {
            flags_.path = 1;
            nextIsFolder_ = true;
        }
        return;
    }
    if (!nextIsFolder_) return;
    const auto start = param.find_first_not_of('"');
    if (start == std::string::npos) {
        flags_.folder.clear();
        return;
    }
    const auto end = param.find('"', start);
    flags_.folder = param.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

CommandFlags ParseCommandLine(const std::vector<std::string>& args) {
    CommandFlags flags;
    CQorCommand command(flags);
    for (size_t i = 1; i < args.size(); ++i)
        command.ParseArgument(args[i], i + 1 == args.size());
    if (flags.install && flags.uninstall) flags.install = flags.uninstall = 0;
    if (flags.uninstall) flags.path = 0;
    if (flags.path && flags.folder.empty()) flags.path = 0;
    return flags;
}

} // namespace qorcam::driverselect
