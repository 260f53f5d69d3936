// RegisterNodes: address arithmetic, cache, byte order and the register kinds.
#include "genapi/RegisterNodes.h"

#include "genapi/Formula.h"
#include "genapi/GenericException.h"
#include "genapi/NodeMapCore.h"
#include "genapi/PortNode.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qorcam::genapi {

namespace {

uint64_t BytesToUInt(const uint8_t* bytes, int64_t length, bool littleEndian) {
    uint64_t v = 0;
    for (int64_t i = 0; i < length; ++i) {
        uint8_t b = littleEndian ? bytes[length - 1 - i] : bytes[i];
        v = (v << 8) | b;
    }
    return v;
}

void UIntToBytes(uint64_t v, uint8_t* bytes, int64_t length, bool littleEndian) {
    for (int64_t i = 0; i < length; ++i) {
        uint8_t b = static_cast<uint8_t>(v >> (8 * i));
        if (littleEndian)
            bytes[i] = b;
        else
            bytes[length - 1 - i] = b;
    }
}

uint64_t Mask(int width) {
    return width >= 64 ? ~0ULL : ((1ULL << width) - 1);
}

} // namespace

// ---- RegisterBase ----

RegisterBase::RegisterBase(NodeMapCore& core, std::string kind, EAccessMode defaultMode)
    : NodeBase(core, std::move(kind)), accessMode_(defaultMode) {}

bool RegisterBase::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "Address" || n == "pAddress") {
        NumberRef<int64_t> ref;
        ConfigureNumber(child, "Address", "pAddress", ref);
        addresses_.push_back(ref);
    } else if (n == "IntSwissKnife" || n == "SwissKnife") {
        // An address computed by a formula written inside the register.
        NodeBase* inline_ = core_.CreateInline(child);
        NumberRef<int64_t> ref;
        ref.present = true;
        ref.name = inline_->Name();
        addresses_.push_back(ref);
    } else if (n == "pIndex") {
        IndexTerm term;
        term.name = Text(child);
        if (pugi::xml_attribute a = child.attribute("Offset")) {
            int64_t offset = 0;
            if (!ParseInt64Text(a.value(), offset))
                Fail("<pIndex> Offset '" + std::string(a.value()) + "' is no integer");
            term.offset = {true, offset, {}, nullptr};
        } else if (pugi::xml_attribute p = child.attribute("pOffset")) {
            term.offset = {true, 0, p.value(), nullptr};
        }
        indexes_.push_back(term);
    } else if (ConfigureNumber(child, "Length", "pLength", length_)) {
    } else if (n == "pPort") {
        portName_ = Text(child);
    } else if (n == "AccessMode") {
        EAccessMode mode = ParseAccessMode(Text(child));
        // "R" and other unknown spellings count as read-only.
        accessMode_ = mode == _UndefinedAccesMode ? RO : mode;
    } else if (n == "Endianess" || n == "Endianness") {
        littleEndian_ = Text(child) != "BigEndian";
    } else if (n == "Sign") {
        signed_ = Text(child) == "Signed";
    } else {
        return NodeBase::ConfigureElement(child);
    }
    return true;
}

void RegisterBase::Resolve(const Resolver& r) {
    NodeBase::Resolve(r);
    for (auto& a : addresses_)
        ResolveRef(r, a, "pAddress");
    for (auto& i : indexes_) {
        i.node = r.Find(*this, i.name, "pIndex");
        ResolveRef(r, i.offset, "pOffset");
    }
    ResolveRef(r, length_, "pLength");
    NodeBase* port = r.Find(*this, portName_.empty() ? "Device" : portName_, "pPort");
    port_ = dynamic_cast<PortNode*>(port);
    if (!port_) Fail("<pPort> '" + port->Name() + "' is not a port");
    core_.RegisterOnPort(this);
}

void RegisterBase::ValueDependencies(std::vector<NodeBase*>& out) const {
    for (const auto& a : addresses_)
        if (a.node) out.push_back(a.node);
    for (const auto& i : indexes_) {
        out.push_back(i.node);
        if (i.offset.node) out.push_back(i.offset.node);
    }
    if (length_.node) out.push_back(length_.node);
}

void RegisterBase::Validate() {
    if (!length_.present) Fail(Kind() + " has no <Length>");
    if (addresses_.empty() && indexes_.empty()) Fail(Kind() + " has no address");
    if (!length_.node && (length_.constant < 1 || length_.constant > kMaxLength))
        Fail("<Length> " + std::to_string(length_.constant) + " is outside 1 to " +
             std::to_string(kMaxLength));
}

EAccessMode RegisterBase::BaseAccessMode() {
    EAccessMode port = port_->GetAccessMode();
    if (!IsAvailable(port)) return NA;
    bool readable = IsReadable(accessMode_) && IsReadable(port);
    bool writable = IsWritable(accessMode_) && IsWritable(port);
    if (accessMode_ == NI) return NI;
    return readable && writable ? RW : readable ? RO : writable ? WO : NA;
}

bool RegisterBase::ConstantLength(int64_t& length) const {
    if (!length_.present || length_.node) return false;
    length = length_.constant;
    return true;
}

int64_t RegisterBase::CheckedLength() {
    int64_t length = Eval(length_, 0);
    if (length < 1 || length > kMaxLength)
        throw RuntimeException("node '" + name_ + "': length " + std::to_string(length) +
                               " is outside 1 to " + std::to_string(kMaxLength));
    return length;
}

int64_t RegisterBase::GetLength() {
    auto lock = Lock();
    return CheckedLength();
}

int64_t RegisterBase::GetAddress() {
    auto lock = Lock();
    uint64_t sum = 0;
    for (const auto& a : addresses_)
        sum += static_cast<uint64_t>(Eval(a, 0));
    for (const auto& i : indexes_) {
        int64_t offset = i.offset.present ? Eval(i.offset, 0) : CheckedLength();
        sum += static_cast<uint64_t>(IntOf(i.node, false)) * static_cast<uint64_t>(offset);
    }
    int64_t address = static_cast<int64_t>(sum);
    if (address < 0)
        throw RuntimeException("node '" + name_ + "': address " + std::to_string(address) + " is negative");
    return address;
}

bool RegisterBase::CacheOverlaps(int64_t address, int64_t length) const {
    if (!cacheValid_) return false;
    int64_t end = cacheAddress_ + static_cast<int64_t>(cache_.size());
    return cacheAddress_ < address + length && address < end;
}

void RegisterBase::ReadBytes(uint8_t* out, int64_t length, bool ignoreCache) {
    int64_t address = GetAddress();
    if (address > std::numeric_limits<int64_t>::max() - length)
        throw RuntimeException("node '" + name_ + "': address and length pass the end of the address space");
    if (!ignoreCache && caching_ != NoCache && cacheValid_ && cacheAddress_ == address &&
        static_cast<int64_t>(cache_.size()) == length) {
        std::memcpy(out, cache_.data(), static_cast<size_t>(length));
        return;
    }
    port_->ReadFor(*this, out, address, length);
    if (caching_ != NoCache) {
        cache_.assign(out, out + length);
        cacheAddress_ = address;
        cacheValid_ = true;
    }
}

void RegisterBase::WriteBytes(const uint8_t* data, int64_t length) {
    int64_t address = GetAddress();
    if (address > std::numeric_limits<int64_t>::max() - length)
        throw RuntimeException("node '" + name_ + "': address and length pass the end of the address space");
    cacheValid_ = false;
    port_->WriteFor(*this, data, address, length);
    core_.PortWritten(port_, address, length, this);
    if (caching_ == WriteThrough) {
        cache_.assign(data, data + length);
        cacheAddress_ = address;
        cacheValid_ = true;
    }
    NotifyWritten();
}

void RegisterBase::Get(uint8_t* buffer, int64_t length, bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    int64_t full = CheckedLength();
    if (length < 0 || length > full)
        throw OutOfRangeException("node '" + name_ + "': " + std::to_string(length) +
                                  " bytes asked of a register of " + std::to_string(full));
    if (length == 0) return;
    if (!buffer) throw InvalidArgumentException("node '" + name_ + "': null buffer");
    ReadBytes(buffer, length, ignoreCache);
}

void RegisterBase::Set(const uint8_t* buffer, int64_t length, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t full = CheckedLength();
    if (length < 0 || length > full)
        throw OutOfRangeException("node '" + name_ + "': " + std::to_string(length) +
                                  " bytes written to a register of " + std::to_string(full));
    if (length == 0) return;
    if (!buffer) throw InvalidArgumentException("node '" + name_ + "': null buffer");
    WriteBytes(buffer, length);
}

std::string RegisterBase::ToString(bool verify, bool ignoreCache) {
    auto lock = Lock();
    std::vector<uint8_t> bytes(static_cast<size_t>(GetLength()));
    Get(bytes.data(), static_cast<int64_t>(bytes.size()), verify, ignoreCache);
    std::string text;
    text.reserve(bytes.size() * 2);
    static const char digits[] = "0123456789ABCDEF";
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

void RegisterBase::FromString(const std::string& value, bool verify) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (value.size() % 2)
        throw InvalidArgumentException("node '" + name_ + "': odd number of hexadecimal digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < value.size(); i += 2) {
        int hi = hex(value[i]), lo = hex(value[i + 1]);
        if (hi < 0 || lo < 0)
            throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not hexadecimal");
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    Set(bytes.data(), static_cast<int64_t>(bytes.size()), verify);
}

// ---- IntReg ----

IntRegNode::IntRegNode(NodeMapCore& core, std::string kind, EAccessMode defaultMode)
    : RegisterBase(core, std::move(kind), defaultMode) {}

bool IntRegNode::ConfigureElement(const pugi::xml_node& child) {
    std::string n = child.name();
    if (n == "LSB")
        lsb_ = ParseInt(child);
    else if (n == "MSB")
        msb_ = ParseInt(child);
    else if (n == "Bit")
        lsb_ = msb_ = ParseInt(child);
    else if (n == "Unit")
        unit_ = Text(child);
    else if (n == "Representation") {
        representation_ = ParseRepresentation(Text(child));
    } else
        return RegisterBase::ConfigureElement(child);
    return true;
}

void IntRegNode::Validate() {
    RegisterBase::Validate();
    if ((lsb_ >= 0) != (msb_ >= 0)) Fail("a bit field needs both <LSB> and <MSB>");
    if (lsb_ < -1 || msb_ < -1 || lsb_ > 63 || msb_ > 63) Fail("bit numbers must lie between 0 and 63");
    // A fixed length is checked now; a length from another node at each access.
    int64_t length = 0;
    if (ConstantLength(length)) {
        int low = 0, width = 0;
        try {
            Field(length, low, width);
        } catch (const RuntimeException& e) {
            throw LogicalErrorException(e.what());
        }
    }
}

void IntRegNode::Field(int64_t length, int& low, int& width) const {
    if (length < 1 || length > 8)
        throw RuntimeException("node '" + name_ + "': an integer register holds 1 to 8 bytes, not " +
                               std::to_string(length));
    int bits = static_cast<int>(length * 8);
    if (lsb_ < 0) {
        low = 0;
        width = bits;
        return;
    }
    int lo = static_cast<int>(littleEndian_ ? lsb_ : bits - 1 - lsb_);
    int hi = static_cast<int>(littleEndian_ ? msb_ : bits - 1 - msb_);
    if (lo > hi) std::swap(lo, hi);
    if (lo < 0 || hi >= bits)
        throw RuntimeException("node '" + name_ + "': bits " + std::to_string(lsb_) + " to " +
                               std::to_string(msb_) + " lie outside a register of " + std::to_string(length) +
                               " bytes");
    low = lo;
    width = hi - lo + 1;
}

int64_t IntRegNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    int64_t length = CheckedLength();
    int low = 0, width = 0;
    Field(length, low, width);
    uint8_t bytes[8];
    ReadBytes(bytes, length, ignoreCache);
    uint64_t v = (BytesToUInt(bytes, length, littleEndian_) >> low) & Mask(width);
    if (signed_ && width < 64 && ((v >> (width - 1)) & 1)) v |= ~Mask(width);
    return static_cast<int64_t>(v);
}

int64_t IntRegNode::GetMin() {
    auto lock = Lock();
    int low = 0, width = 0;
    Field(CheckedLength(), low, width);
    if (!signed_) return 0;
    return width >= 64 ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(1ULL << (width - 1));
}

int64_t IntRegNode::GetMax() {
    auto lock = Lock();
    int low = 0, width = 0;
    Field(CheckedLength(), low, width);
    if (width >= 64 || (!signed_ && width >= 63)) return std::numeric_limits<int64_t>::max();
    return signed_ ? static_cast<int64_t>((1ULL << (width - 1)) - 1) : static_cast<int64_t>(Mask(width));
}

void IntRegNode::SetValue(int64_t value, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t mn = GetMin(), mx = GetMax();
    if (value < mn || value > mx)
        throw OutOfRangeException("node '" + name_ + "': value " + std::to_string(value) +
                                  " must be between " + std::to_string(mn) + " and " + std::to_string(mx));
    int64_t length = CheckedLength();
    int low = 0, width = 0;
    Field(length, low, width);
    uint8_t bytes[8] = {};
    uint64_t raw = 0;
    if (width < length * 8) {
        // A bit field keeps the register's other bits: read them first when the
        // register can be read.
        if (IsReadable(BaseAccessMode())) {
            ReadBytes(bytes, length, false);
            raw = BytesToUInt(bytes, length, littleEndian_);
        }
        raw = (raw & ~(Mask(width) << low)) | ((static_cast<uint64_t>(value) & Mask(width)) << low);
    } else {
        raw = static_cast<uint64_t>(value) & Mask(width);
    }
    UIntToBytes(raw, bytes, length, littleEndian_);
    WriteBytes(bytes, length);
}

std::string IntRegNode::ToString(bool verify, bool ignoreCache) {
    return std::to_string(GetValue(verify, ignoreCache));
}

void IntRegNode::FromString(const std::string& value, bool verify) {
    int64_t v = 0;
    if (!ParseInt64Text(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not an integer");
    SetValue(v, verify);
}

// ---- FloatReg ----

bool FloatRegNode::ConfigureElement(const pugi::xml_node& child) {
    if (std::string(child.name()) == "Unit") {
        unit_ = Text(child);
        return true;
    }
    return RegisterBase::ConfigureElement(child);
}

void FloatRegNode::Validate() {
    RegisterBase::Validate();
    int64_t length = 0;
    if (ConstantLength(length) && length != 4 && length != 8)
        Fail("a float register holds 4 or 8 bytes, not " + std::to_string(length));
}

double FloatRegNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    int64_t length = CheckedLength();
    if (length != 4 && length != 8)
        throw RuntimeException("node '" + name_ + "': a float register holds 4 or 8 bytes, not " +
                               std::to_string(length));
    uint8_t bytes[8];
    ReadBytes(bytes, length, ignoreCache);
    uint64_t raw = BytesToUInt(bytes, length, littleEndian_);
    if (length == 4) {
        uint32_t r32 = static_cast<uint32_t>(raw);
        float f;
        std::memcpy(&f, &r32, 4);
        return f;
    }
    double d;
    std::memcpy(&d, &raw, 8);
    return d;
}

int64_t FloatRegNode::ReadAsInt(bool ignoreCache) {
    return RoundToInt64(GetValue(false, ignoreCache));
}

void FloatRegNode::SetValue(double value, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t length = CheckedLength();
    if (length != 4 && length != 8)
        throw RuntimeException("node '" + name_ + "': a float register holds 4 or 8 bytes, not " +
                               std::to_string(length));
    if (std::isnan(value)) throw InvalidArgumentException("node '" + name_ + "': NaN is not a value");
    if (value < GetMin() || value > GetMax())
        throw OutOfRangeException("node '" + name_ + "': value does not fit a " + std::to_string(length) +
                                  "-byte float");
    uint64_t raw = 0;
    if (length == 4) {
        float f = static_cast<float>(value);
        uint32_t r32;
        std::memcpy(&r32, &f, 4);
        raw = r32;
    } else {
        std::memcpy(&raw, &value, 8);
    }
    uint8_t bytes[8];
    UIntToBytes(raw, bytes, length, littleEndian_);
    WriteBytes(bytes, length);
}

double FloatRegNode::GetMin() {
    auto lock = Lock();
    return CheckedLength() == 4 ? -static_cast<double>(FLT_MAX) : -DBL_MAX;
}

double FloatRegNode::GetMax() {
    auto lock = Lock();
    return CheckedLength() == 4 ? static_cast<double>(FLT_MAX) : DBL_MAX;
}

double FloatRegNode::GetInc() {
    throw LogicalErrorException("node '" + name_ + "' has no increment");
}

std::string FloatRegNode::ToString(bool verify, bool ignoreCache) {
    return FormatDouble(GetValue(verify, ignoreCache));
}

void FloatRegNode::FromString(const std::string& value, bool verify) {
    double v = 0;
    if (!ParseDoubleText(value, v))
        throw InvalidArgumentException("node '" + name_ + "': '" + value + "' is not a number");
    SetValue(v, verify);
}

// ---- StringReg ----

std::string StringRegNode::GetValue(bool, bool ignoreCache) {
    auto lock = Lock();
    CheckReadable();
    int64_t length = CheckedLength();
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    ReadBytes(bytes.data(), length, ignoreCache);
    size_t end = 0;
    while (end < bytes.size() && bytes[end] != 0)
        ++end;
    return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

void StringRegNode::SetValue(const std::string& value, bool) {
    auto lock = Lock();
    CheckWritable();
    int64_t length = CheckedLength();
    if (static_cast<int64_t>(value.size()) > length)
        throw OutOfRangeException("node '" + name_ + "': a text of " + std::to_string(value.size()) +
                                  " bytes does not fit a register of " + std::to_string(length));
    std::vector<uint8_t> bytes(static_cast<size_t>(length), 0);
    std::memcpy(bytes.data(), value.data(), value.size());
    WriteBytes(bytes.data(), length);
}

} // namespace qorcam::genapi
