// The service's parameters, read once at load from its settings key.
#include "GigeParameters.h"

namespace qorcam::gige {

GigeParameters GigeParameters::FromValues(const std::function<std::optional<uint32_t>(const char*)>& dword,
                                          const std::string& path) {
    auto get = [&](const char* name) { return dword(name).value_or(0); };
    auto orDefault = [](uint32_t v, uint32_t def) { return v == 0 ? def : v; };
    GigeParameters p;
    p.dhcp = get("DHCP");
    p.cmdRetry = dword("CMDRETRY").value_or(kDefaultCmdRetry);
    p.cmdTimeout = orDefault(get("CMDTIMEOUT"), 200);
    // Resend rounds are on unless the setting is stored; a stored 0 switches them off.
    p.streamRetry = dword("STREAMRETRY").value_or(kDefaultStreamRetry);
    p.dhcpWait = orDefault(get("DHCPWAIT"), 300);
    p.initWait = orDefault(get("INITWAIT"), 20);
    p.initWait1 = orDefault(get("INITWAIT1"), 1);
    uint32_t listWait = get("LISTWAIT");
    p.listWait = listWait < 100 ? 100 : listWait;
    p.dhcpReleaseTime = orDefault(get("DHCPRELEASETIME"), 0xFFFFFFFF);
    p.path = path;
    return p;
}

} // namespace qorcam::gige
