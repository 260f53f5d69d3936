// Paths: where the system keeps its run-time objects, settings and data.
#pragma once

#include <string>

namespace qorcam::os {

/// The folders of the system, all relocated by the environment variable
/// QORCAM_ROOT so that tests run isolated and in parallel.
///
/// | folder            | QORCAM_ROOT unset       | QORCAM_ROOT=<root>  |
/// |-------------------|-------------------------|---------------------|
/// | Run               | /run/qorcam             | <root>/run          |
/// | MachineSettings   | /etc/qorcam             | <root>/etc          |
/// | Data (common      | /var/lib/qorcam         | <root>/data         |
/// |   application data)                                               |
/// | UserSettings      | $HOME/.config/qorcam    | <root>/user         |
/// | Documents         | $HOME/Documents         | <root>/documents    |
///
/// Guarantees: the variable is read at every call (a test may change it);
/// an empty value counts as unset and a relative one is taken from the
/// current folder; every folder is created on demand (with its parents) when
/// asked for; a folder that can't be made is still returned, and the
/// caller's own file operation then reports the failure. Paths never end in
/// '/'. Named objects are per user: `<run>/user/<uid>`, mode 0700, made by
/// that user inside `<run>/user` (mode 1777, sticky as /tmp, made here when
/// this call creates it). As anyone may take a name there, a `<uid>` that is
/// not the user's own (a link, another user's folder) is passed over: the
/// user's lowest-named spare folder `<uid>.XXXXXX` (six random letters or
/// digits, made by the user, mode 0700) stands in for it, made when the user
/// has none.
class Paths {
public:
    /// The root given by QORCAM_ROOT, or empty when unset.
    static std::string Root();

    static std::string Run();
    /// Named objects (shared memory, mutexes, events) of the calling user:
    /// <run>/user/<euid>, or the user's spare folder when that name is not
    /// safely the user's. Empty when neither can be had (or `<run>/user` is
    /// writable by anyone without the sticky bit), so no object is opened
    /// there.
    static std::string SharedObjects();
    /// The named-object folder of a user, chosen and checked as above (owned
    /// by that user, not a link); created only for the calling user. Root
    /// reads every user's objects through it.
    static std::string UserObjects(unsigned user);
    static std::string MachineSettings();
    static std::string Data();
    static std::string UserSettings();
    static std::string Documents();

    /// The folder of our own binaries (the install prefix's program folder):
    /// the folder of the executable or shared object that holds this code.
    static std::string ProgramFiles();

    /// Where one of our programs lies: beside ProgramFiles() (the build
    /// tree, or a tool among the tools), else in the installed tree's sbin
    /// or bin beside that folder (services in sbin, tools in bin). A program
    /// found nowhere is named beside ProgramFiles(), so the caller's start
    /// reports it missing.
    static std::string Program(const std::string& name);

    /// Creates path and its missing parents (mode 0755); true when it exists.
    static bool CreateFolder(const std::string& path);
};

} // namespace qorcam::os
