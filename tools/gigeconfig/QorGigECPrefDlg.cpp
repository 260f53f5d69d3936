// CQorGigECPrefDlg: the IP configuration tool's main dialog, without its window.
#include "QorGigECPrefDlg.h"

#include "DescriptionReader.h"
#include "GigeIoctl.h"
#include "IpText.h"
#include "ProfileFile.h"
#include "os/SettingsStore.h"

#include <cstring>

namespace qorcam::gigeconfig {

namespace {

std::string Narrow(const char16_t* text, std::size_t room) {
    std::string out;
    for (std::size_t i = 0; i < room && text[i] != 0; ++i)
        out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    return out;
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

} // namespace

CQorGigECPrefDlg::CQorGigECPrefDlg(PrefDlgContext context) : context_(std::move(context)) {}

std::string CQorGigECPrefDlg::ProfilePath() {
    return CProfileFile::ProfilePath(false);
}

bool CQorGigECPrefDlg::OnInitDialog() {
    os::SettingsStore store(os::SettingsStore::Hive::Machine);
    if (auto dhcp = store.GetDword(kGigeParametersKey, "DHCP")) dhcp_ = *dhcp != 0;
    if (auto wait = store.GetDword(kGigeParametersKey, "INITWAIT"))
        tickLimit_ = static_cast<std::uint32_t>((std::uint64_t(*wait) + 15000) / 500);

    if (device_.Open() != devio::STATUS_SUCCESS) {
        context_.message("GigE Driver Open Error");
        return false;
    }
    if (device_.GetVersion() != gige::LIBRARY_STRUCT_VERSION) {
        context_.message("GigE Driver Version Error");
        device_.Close();
        return false;
    }
    FillNicList();
    OnSearchCamera();
    return true;
}

void CQorGigECPrefDlg::FillNicList() {
    nics_.clear();
    for (const auto& r : device_.GetNicList()) {
        NicEntry e;
        e.displayName = Narrow(r.displayName, gige::kDisplayNameChars);
        e.bindName = Narrow(r.shortName, gige::kAdapterNameChars);
        e.adapterNumber = r.adapterNumber;
        e.ip = r.ip;
        e.mask = r.mask;
        std::memcpy(e.mac.data(), r.mac, 6);
        nics_.push_back(e);
    }
    for (const auto& a : context_.systemAdapters())
        for (auto& e : nics_)
            if (e.bindName == a.name) {
                e.ip = a.ip;
                e.mask = a.mask;
                e.gateway = a.gateway;
                e.windowsIp = 1;
            }
    const ProfileRecords records = CProfileFile(ProfilePath()).Read();
    for (auto& e : nics_)
        e.autoAddress = IsAdapterAuto(records, e.mac) ? 1 : 0;
}

void CQorGigECPrefDlg::RefreshNicList() {
    for (const auto& r : device_.GetNicList()) {
        const std::string name = Narrow(r.shortName, gige::kAdapterNameChars);
        for (auto& e : nics_)
            if (e.bindName == name && !e.windowsIp) {
                e.ip = r.ip;
                e.mask = r.mask;
            }
    }
}

void CQorGigECPrefDlg::OnSearchCamera() {
    if (!device_.IsOpen()) return;
    for (const auto& a : context_.systemAdapters())
        device_.SetAdapterAddress(Wide(a.name), a.ip, a.mask);
    cameras_ = CollectDiscoveryAnswers(device_, context_.timings);
    RemoveDuplicateCameras(cameras_);
    for (auto& c : cameras_) {
        if (auto status = StatusFromAddresses(c, nics_)) {
            c.status = *status;
            continue;
        }
        if (!ReadCameraDescription(c, device_, ids_)) context_.message("Camera Read Memory Error");
    }
}

void CQorGigECPrefDlg::RestartDriverService() {
    if (device_.IsOpen()) {
        device_.Handle().CancelIo();
        device_.Close();
    }
    if (!context_.service) {
        context_.message("Service Control Manager Open Error");
        return;
    }
    // The stop is not checked: a service that had ended is started all the same.
    context_.service->Stop();
    if (!context_.service->Start()) {
        // Without the service there is no device to open; a second message would say no more.
        context_.message("GigE Filter Start Error");
        return;
    }
    if (device_.Open() != devio::STATUS_SUCCESS) context_.message("GigE Driver Open Error");
}

void CQorGigECPrefDlg::OnReadXmlFile(std::vector<bool>& checked) {
    if (!device_.IsOpen()) return;
    const std::string folder = CProfileFile::ProfileFolder();
    for (std::size_t i = 0; i < cameras_.size() && i < checked.size(); ++i) {
        if (!checked[i]) continue;
        const DescriptionRead result =
            ReadDescriptionFile(device_, ids_, cameras_[i], folder, context_.message);
        if (result == DescriptionRead::UrlFailed) return;
        if (result != DescriptionRead::Skipped) checked[i] = false;
    }
}

bool CQorGigECPrefDlg::CanConfigureNic(std::size_t row) const {
    return row < nics_.size() && !nics_[row].windowsIp && dhcp_;
}

void CQorGigECPrefDlg::ApplyNicConfig(std::size_t row, bool automatic, std::uint32_t ip, std::uint32_t mask) {
    if (row >= nics_.size()) return;
    cameras_.clear();
    NicEntry& e = nics_[row];
    e.ip = SwapBytes32(ip);
    e.mask = SwapBytes32(mask);
    e.autoAddress = automatic ? 1 : 0;
    std::vector<ProfileAdapter> adapters;
    for (const auto& n : nics_)
        adapters.push_back({n.mac, n.autoAddress != 0, n.ip, n.mask});
    if (!CProfileFile(ProfilePath()).UpdateProfileNicEntries(adapters)) context_.message("Profile File Write Error");
    RestartDriverService();
    RefreshNicList();
    StartWait();
}

std::unique_ptr<CCameraIPSetup> CQorGigECPrefDlg::CameraSetup(std::size_t row) {
    if (row >= cameras_.size()) return nullptr;
    const CameraEntry& camera = cameras_[row];
    NicEntry nic; // no adapter of that number: an adapter without address, so every control is off
    for (const auto& n : nics_)
        if (n.adapterNumber == camera.adapterNumber) nic = n;
    CameraSetupContext context;
    context.openDevice = []() -> std::unique_ptr<CGvcpSender> {
        auto device = std::make_unique<CGigeDevice>();
        if (device->Open() != devio::STATUS_SUCCESS) return nullptr;
        return device;
    };
    context.ids = &ids_;
    context.message = context_.message;
    context.profilePath = ProfilePath();
    return std::make_unique<CCameraIPSetup>(camera, nic, context);
}

void CQorGigECPrefDlg::AfterCameraConfig(const CCameraIPSetup& setup) {
    cameras_.clear();
    bool driverAdapter = false;
    for (const auto& n : nics_)
        driverAdapter = driverAdapter || !n.windowsIp;
    if (setup.writeNeeded && driverAdapter) RestartDriverService();
    StartWait();
}

void CQorGigECPrefDlg::StartWait() {
    ticks_ = 0;
    waiting_ = true;
}

bool CQorGigECPrefDlg::OnTimer() {
    if (!waiting_) return false;
    bool searched = false;
    if (ticks_ > tickLimit_) {
        OnSearchCamera();
        waiting_ = false;
        searched = true;
    }
    ++ticks_;
    return searched;
}

} // namespace qorcam::gigeconfig
