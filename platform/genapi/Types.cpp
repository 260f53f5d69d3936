// Types: printable names of the node map's enumerations, used in error texts.
#include "genapi/Types.h"

namespace qorcam::genapi {

const char* AccessModeName(EAccessMode mode) {
    switch (mode) {
    case NI:
        return "NI";
    case NA:
        return "NA";
    case WO:
        return "WO";
    case RO:
        return "RO";
    case RW:
        return "RW";
    default:
        return "undefined";
    }
}

const char* VisibilityName(EVisibility visibility) {
    switch (visibility) {
    case Beginner:
        return "Beginner";
    case Expert:
        return "Expert";
    case Guru:
        return "Guru";
    case Invisible:
        return "Invisible";
    default:
        return "undefined";
    }
}

const char* InterfaceTypeName(EInterfaceType type) {
    switch (type) {
    case intfIValue:
        return "IValue";
    case intfIBase:
        return "IBase";
    case intfIInteger:
        return "IInteger";
    case intfIBoolean:
        return "IBoolean";
    case intfICommand:
        return "ICommand";
    case intfIFloat:
        return "IFloat";
    case intfIString:
        return "IString";
    case intfIRegister:
        return "IRegister";
    case intfICategory:
        return "ICategory";
    case intfIEnumeration:
        return "IEnumeration";
    case intfIEnumEntry:
        return "IEnumEntry";
    case intfIPort:
        return "IPort";
    }
    return "unknown";
}

} // namespace qorcam::genapi
