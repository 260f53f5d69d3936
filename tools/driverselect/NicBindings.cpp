// NicBindingEntry and ConfigureNicBindings: the adapters and the numbered binding passes.
#include "NicBindings.h"

namespace qorcam::driverselect {

namespace {

enum class Kind { Build, Read, Apply, ApplyBound, BuildAll };
enum class Flag { Filter, Ipv4, Ipv6, Client, Other };

struct Pass {
    const char* component;
    Kind kind;
    Flag flag;
};

Pass PassOf(int pass) {
    if (pass == 0) return {kFilterComponent, Kind::Build, Flag::Filter};
    if (pass == 1) return {"ms_tcpip", Kind::Read, Flag::Ipv4};
    if (pass == 2) return {"ms_tcpip6", Kind::Read, Flag::Ipv6};
    if (pass == 3) return {"ms_msclient", Kind::Read, Flag::Client};
    if (pass >= 4 && pass <= 9) return {kOtherServices[pass - 4], Kind::Read, Flag::Other};
    if (pass >= 10 && pass <= 19) {
        Pass p = PassOf(pass - 10);
        return {p.component, Kind::Apply, p.flag};
    }
    if (pass == 20) return {"ms_tcpip", Kind::ApplyBound, Flag::Ipv4};
    return {"ms_tcpip", Kind::BuildAll, Flag::Filter};
}

std::uint32_t& FlagOf(NicBindingEntry& e, Flag f) {
    switch (f) {
    case Flag::Filter:
        return e.filter;
    case Flag::Ipv4:
        return e.ipv4;
    case Flag::Ipv6:
        return e.ipv6;
    case Flag::Client:
        return e.client;
    case Flag::Other:
        break;
    }
    return e.other;
}

} // namespace

const char* NicModeComboText(std::uint32_t mode) {
    static const char* texts[] = {"Original", "Windows IPv4 Only", "Windows default"};
    return mode < 3 ? texts[mode] : "";
}

const char* NicModeListText(std::uint32_t mode) {
    static const char* texts[] = {"Original", "Windows IPv4 only", "Windows default"};
    return mode < 3 ? texts[mode] : "";
}

std::uint32_t NicMode(const NicBindingEntry& e) {
    if (!e.ipv4) return 0;
    return (e.ipv6 || e.client || e.other) ? 2 : 1;
}

void SetModeFlags(NicBindingEntry& e, std::uint32_t mode) {
    e.ipv4 = mode != 0;
    e.ipv6 = e.client = e.other = mode == 2;
}

void ConfigureNicBindings(NicBindingEntries& entries, CNetCfg& cfg, int pass) {
    if (pass < 0 || pass > 21) return;
    const Pass p = PassOf(pass);
    if (!cfg.IsInstalled(p.component)) return;
    for (const NetAdapter& adapter : cfg.BindingPaths(p.component)) {
        if (!adapter.isNet && p.kind != Kind::BuildAll) continue;
        const bool enabled = cfg.IsBound(p.component, adapter.bindName);
        if (p.kind == Kind::Build || p.kind == Kind::BuildAll) {
            auto e = std::make_unique<NicBindingEntry>();
            e->displayName = adapter.displayName;
            e->bindName = adapter.bindName;
            e->filter = enabled;
            if (p.kind == Kind::BuildAll) e->ipv4 = e->ipv6 = e->client = e->other = 1;
            entries.push_back(std::move(e));
            continue;
        }
        for (auto& e : entries) {
            if (e->bindName != adapter.bindName) continue;
            if (p.kind == Kind::Read) {
                FlagOf(*e, p.flag) = enabled;
            } else {
                const bool wanted = p.kind == Kind::ApplyBound || FlagOf(*e, p.flag) != 0;
                if (wanted != enabled) cfg.SetBound(p.component, adapter.bindName, wanted);
            }
            break;
        }
    }
}

} // namespace qorcam::driverselect
