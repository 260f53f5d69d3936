// DeviceDescription: the XML text and a one-file zip writer over zlib.
#include "DeviceDescription.h"

#include "LittleEndian.h"
#include "U3vRegisters.h"

#include <zlib.h>

#include <cstdio>

namespace qorcam::usb::sim {

namespace {

std::string Hex(std::uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string Register(const std::string& name, std::uint64_t offset, const char* access) {
    return "  <IntReg Name=\"" + name + "\">\n    <Address>" + Hex(u3v::kFeatureBase + offset) +
           "</Address>\n    <Length>4</Length>\n    <AccessMode>" + access +
           "</AccessMode>\n    <pPort>Device</pPort>\n    <Sign>Unsigned</Sign>\n"
           "    <Endianess>LittleEndian</Endianess>\n  </IntReg>\n";
}

// A text of the bootstrap registers, as every USB3 Vision camera describes it.
std::string StringRegister(const std::string& name, std::uint64_t address, const char* access) {
    return "  <StringReg Name=\"" + name + "\" NameSpace=\"Standard\">\n    <Address>" + Hex(address) +
           "</Address>\n    <Length>64</Length>\n    <AccessMode>" + access +
           "</AccessMode>\n    <pPort>Device</pPort>\n  </StringReg>\n";
}

} // namespace

std::string DeviceDescription::Xml(const std::string& vendor, const std::string& model) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<RegisterDescription ModelName=\"" +
        model + "\" VendorName=\"" + vendor +
        "\" ToolTip=\"Simulated USB3 Vision camera\" StandardNameSpace=\"None\""
        " SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" SchemaSubMinorVersion=\"0\""
        " MajorVersion=\"1\" MinorVersion=\"0\" SubMinorVersion=\"0\""
        " ProductGuid=\"5A1C0E2B-6D1F-4B7A-9C3E-2F8D4A6B1C00\" "
        "VersionGuid=\"5A1C0E2B-6D1F-4B7A-9C3E-2F8D4A6B1C01\""
        " xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n"
        "  <Category Name=\"Root\" NameSpace=\"Standard\">\n"
        "    <pFeature>DeviceControl</pFeature>\n"
        "    <pFeature>ImageFormatControl</pFeature>\n    <pFeature>AcquisitionControl</pFeature>\n"
        "    <pFeature>TransportLayerControl</pFeature>\n"
        "  </Category>\n"
        "  <Category Name=\"DeviceControl\" NameSpace=\"Standard\">\n"
        "    <pFeature>DeviceVendorName</pFeature>\n    <pFeature>DeviceModelName</pFeature>\n"
        "    <pFeature>DeviceVersion</pFeature>\n    <pFeature>DeviceSerialNumber</pFeature>\n"
        "    <pFeature>DeviceUserID</pFeature>\n"
        "  </Category>\n" +
        StringRegister("DeviceVendorName", u3v::kAbrmManufacturerName, "RO") +
        StringRegister("DeviceModelName", u3v::kAbrmModelName, "RO") +
        StringRegister("DeviceVersion", u3v::kAbrmDeviceVersion, "RO") +
        StringRegister("DeviceSerialNumber", u3v::kAbrmSerialNumber, "RO") +
        StringRegister("DeviceUserID", u3v::kAbrmUserDefinedName, "RW") +
        "  <Category Name=\"TransportLayerControl\" NameSpace=\"Standard\">\n"
        "    <pFeature>PayloadSize</pFeature>\n    <pFeature>TLParamsLocked</pFeature>\n"
        "  </Category>\n"
        // Set by the host while it streams; the camera keeps it in the host's node map.
        "  <Integer Name=\"TLParamsLocked\" NameSpace=\"Standard\">\n    <Visibility>Invisible</Visibility>\n"
        "    <Value>0</Value>\n    <Min>0</Min>\n    <Max>1</Max>\n  </Integer>\n"
        "  <Category Name=\"ImageFormatControl\" NameSpace=\"Standard\">\n"
        "    <pFeature>Width</pFeature>\n    <pFeature>Height</pFeature>\n"
        "    <pFeature>PixelFormat</pFeature>\n    <pFeature>PayloadSize</pFeature>\n"
        "  </Category>\n"
        "  <Category Name=\"AcquisitionControl\" NameSpace=\"Standard\">\n"
        "    <pFeature>AcquisitionMode</pFeature>\n"
        "    <pFeature>AcquisitionStart</pFeature>\n    <pFeature>AcquisitionStop</pFeature>\n"
        "  </Category>\n"
        "  <Enumeration Name=\"AcquisitionMode\" NameSpace=\"Standard\">\n"
        "    <EnumEntry Name=\"Continuous\">\n      <Value>0</Value>\n    </EnumEntry>\n"
        "    <Value>0</Value>\n  </Enumeration>\n"
        "  <Integer Name=\"Width\" NameSpace=\"Standard\">\n    <pValue>WidthReg</pValue>\n"
        "    <Min>16</Min>\n    <Max>4096</Max>\n    <Inc>8</Inc>\n  </Integer>\n" +
        Register("WidthReg", u3v::kFeatureWidth, "RW") +
        "  <Integer Name=\"Height\" NameSpace=\"Standard\">\n    <pValue>HeightReg</pValue>\n"
        "    <Min>2</Min>\n    <Max>4096</Max>\n    <Inc>2</Inc>\n  </Integer>\n" +
        Register("HeightReg", u3v::kFeatureHeight, "RW") +
        "  <Enumeration Name=\"PixelFormat\" NameSpace=\"Standard\">\n"
        "    <EnumEntry Name=\"Mono8\">\n      <Value>" +
        Hex(u3v::kPixelMono8) +
        "</Value>\n    </EnumEntry>\n"
        "    <EnumEntry Name=\"BayerRG8\">\n      <Value>" +
        Hex(u3v::kPixelBayerRG8) +
        "</Value>\n    </EnumEntry>\n"
        "    <pValue>PixelFormatReg</pValue>\n  </Enumeration>\n" +
        Register("PixelFormatReg", u3v::kFeaturePixelFormat, "RW") +
        "  <Integer Name=\"PayloadSize\" NameSpace=\"Standard\">\n    <pValue>PayloadSizeReg</pValue>\n"
        "  </Integer>\n" +
        Register("PayloadSizeReg", u3v::kFeaturePayloadSize, "RO") +
        "  <Command Name=\"AcquisitionStart\" NameSpace=\"Standard\">\n    "
        "<pValue>AcquisitionStartReg</pValue>\n"
        "    <CommandValue>1</CommandValue>\n  </Command>\n" +
        Register("AcquisitionStartReg", u3v::kFeatureAcquisitionStart, "WO") +
        "  <Command Name=\"AcquisitionStop\" NameSpace=\"Standard\">\n    "
        "<pValue>AcquisitionStopReg</pValue>\n"
        "    <CommandValue>1</CommandValue>\n  </Command>\n" +
        Register("AcquisitionStopReg", u3v::kFeatureAcquisitionStop, "WO") +
        "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n"
        "</RegisterDescription>\n";
    return xml;
}

std::vector<std::uint8_t> DeviceDescription::Zip(const std::string& name, const std::string& content) {
    // Raw deflate (no zlib header), as a zip entry holds it.
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> packed(deflateBound(&stream, static_cast<uLong>(content.size())));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    stream.avail_in = static_cast<uInt>(content.size());
    stream.next_out = packed.data();
    stream.avail_out = static_cast<uInt>(packed.size());
    deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size())));
    const auto packedSize = static_cast<std::uint32_t>(packed.size());
    const auto plainSize = static_cast<std::uint32_t>(content.size());
    const auto nameLength = static_cast<std::uint32_t>(name.size());

    std::vector<std::uint8_t> zip;
    auto common = [&] {
        Put16(zip, 20);   // version needed
        Put16(zip, 0);    // flags
        Put16(zip, 8);    // deflate
        Put16(zip, 0);    // time
        Put16(zip, 0x21); // date: 1980-01-01
        Put32(zip, crc);
        Put32(zip, packedSize);
        Put32(zip, plainSize);
        Put16(zip, nameLength);
        Put16(zip, 0); // extra
    };
    Put32(zip, 0x04034B50);
    common();
    zip.insert(zip.end(), name.begin(), name.end());
    zip.insert(zip.end(), packed.begin(), packed.end());

    const auto centralOffset = static_cast<std::uint32_t>(zip.size());
    Put32(zip, 0x02014B50);
    Put16(zip, 20); // made by
    common();
    Put16(zip, 0); // comment
    Put16(zip, 0); // disk
    Put16(zip, 0); // internal attributes
    Put32(zip, 0); // external attributes
    Put32(zip, 0); // local header offset
    zip.insert(zip.end(), name.begin(), name.end());
    const auto centralSize = static_cast<std::uint32_t>(zip.size()) - centralOffset;

    Put32(zip, 0x06054B50);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 1);
    Put16(zip, 1);
    Put32(zip, centralSize);
    Put32(zip, centralOffset);
    Put16(zip, 0);
    return zip;
}

} // namespace qorcam::usb::sim
