// Types: the enumerations of the node map (access, visibility, representation, kinds).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorcam::genapi {

class INode;

/// Access mode of a node; the numbers are the ones the library and the
/// .NET binding hand to applications.
enum EAccessMode : int32_t { NI = 0, NA = 1, WO = 2, RO = 3, RW = 4, _UndefinedAccesMode = 5 };

enum EVisibility : int32_t { Beginner = 0, Expert = 1, Guru = 2, Invisible = 3, _UndefinedVisibility = 99 };

enum ERepresentation : int32_t {
    Linear = 0,
    Logarithmic = 1,
    Boolean = 2,
    PureNumber = 3,
    HexNumber = 4,
    IPV4Address = 5,
    MACAddress = 6,
    _UndefinedRepresentation = 7
};

enum ECachingMode : int32_t { NoCache = 0, WriteThrough = 1, WriteAround = 2, _UndefinedCachingMode = 3 };

enum EDisplayNotation : int32_t { fnAutomatic = 0, fnFixed = 1, fnScientific = 2 };

/// Principal interface of a node: what a caller may treat it as.
enum EInterfaceType : int32_t {
    intfIValue = 0,
    intfIBase = 1,
    intfIInteger = 2,
    intfIBoolean = 3,
    intfICommand = 4,
    intfIFloat = 5,
    intfIString = 6,
    intfIRegister = 7,
    intfICategory = 8,
    intfIEnumeration = 9,
    intfIEnumEntry = 10,
    intfIPort = 11
};

using NodeList_t = std::vector<INode*>;

const char* AccessModeName(EAccessMode mode);
const char* VisibilityName(EVisibility visibility);
const char* InterfaceTypeName(EInterfaceType type);

inline bool IsReadable(EAccessMode mode) {
    return mode == RO || mode == RW;
}
inline bool IsWritable(EAccessMode mode) {
    return mode == WO || mode == RW;
}
inline bool IsAvailable(EAccessMode mode) {
    return mode == RO || mode == RW || mode == WO;
}
inline bool IsImplemented(EAccessMode mode) {
    return mode != NI && mode != _UndefinedAccesMode;
}

} // namespace qorcam::genapi
