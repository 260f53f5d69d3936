// RegisterNodes: nodes that read and write device memory through a port, with their cache.
#pragma once

#include "genapi/Node.h"

#include <vector>

namespace qorcam::genapi {

class PortNode;

/// Address, length, port, endianness and cache of one register. Guarantees:
/// the address is the sum of every Address, pAddress, inline formula and
/// pIndex term, computed at each access; a length outside 1 byte to
/// kMaxLength, or an address that does not fit the port, throws instead of
/// touching the port; port failures come back as RuntimeException naming the
/// node; a write makes every other register cache that overlaps it forget.
class RegisterBase : public NodeBase, public virtual IRegister {
public:
    RegisterBase(NodeMapCore& core, std::string kind, EAccessMode defaultMode);

    static constexpr int64_t kMaxLength = 16 * 1024 * 1024;

    // IRegister
    INode* GetNode() override { return this; }
    void Set(const uint8_t* buffer, int64_t length, bool verify = true) override;
    void Get(uint8_t* buffer, int64_t length, bool verify = false, bool ignoreCache = false) override;
    int64_t GetLength() override;
    int64_t GetAddress() override;
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;

    void Resolve(const Resolver& resolver) override;
    void ValueDependencies(std::vector<NodeBase*>& out) const override;
    void Validate() override;
    EAccessMode BaseAccessMode() override;
    void InvalidateOwnCache() override { cacheValid_ = false; }
    bool OwnCachable() const override { return caching_ != NoCache && pollingTime_ <= 0; }
    const PortNode* Port() const { return port_; }
    /// True when this register's cache holds bytes that overlap the range.
    bool CacheOverlaps(int64_t address, int64_t length) const;

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;
    /// Reads length bytes at the current address (from the cache when allowed).
    void ReadBytes(uint8_t* out, int64_t length, bool ignoreCache);
    void WriteBytes(const uint8_t* data, int64_t length);
    int64_t CheckedLength();
    bool ConstantLength(int64_t& length) const;

    bool littleEndian_ = true;
    bool signed_ = false;

private:
    struct IndexTerm {
        std::string name;
        NodeBase* node = nullptr;
        NumberRef<int64_t> offset;
    };
    std::vector<NumberRef<int64_t>> addresses_;
    std::vector<IndexTerm> indexes_;
    NumberRef<int64_t> length_;
    std::string portName_;
    PortNode* port_ = nullptr;
    EAccessMode accessMode_;
    std::vector<uint8_t> cache_;
    int64_t cacheAddress_ = 0;
    bool cacheValid_ = false;
};

/// IntReg, MaskedIntReg and StructEntry (and the older ConfRom, IntKey and
/// AdvFeatureLock): an integer of 1 to 8 bytes, or a bit field of one.
/// Bit numbers count from the least significant bit for little-endian
/// registers and from the most significant one for big-endian registers.
class IntRegNode : public RegisterBase, public virtual IInteger {
public:
    IntRegNode(NodeMapCore& core, std::string kind, EAccessMode defaultMode = RO);

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIInteger; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    int64_t GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(int64_t value, bool verify = true) override;
    int64_t GetMin() override;
    int64_t GetMax() override;
    int64_t GetInc() override { return 1; }
    ERepresentation GetRepresentation() override { return representation_; }
    std::string GetUnit() override { return unit_; }

    void Validate() override;
    int64_t ReadAsInt(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsInt(int64_t value) override { SetValue(value, true); }
    double NumericMin() override { return static_cast<double>(GetMin()); }
    double NumericMax() override { return static_cast<double>(GetMax()); }

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    /// The field's lowest bit and width for a register of length bytes.
    void Field(int64_t length, int& low, int& width) const;
    int64_t lsb_ = -1, msb_ = -1;
    ERepresentation representation_ = PureNumber;
    std::string unit_;
};

/// FloatReg: an IEEE float of 4 or 8 bytes.
class FloatRegNode : public RegisterBase, public virtual IFloat {
public:
    explicit FloatRegNode(NodeMapCore& core) : RegisterBase(core, "FloatReg", RO) {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIFloat; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override;
    void FromString(const std::string& value, bool verify = true) override;
    double GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(double value, bool verify = true) override;
    double GetMin() override;
    double GetMax() override;
    bool HasInc() override { return false; }
    double GetInc() override;
    ERepresentation GetRepresentation() override { return PureNumber; }
    std::string GetUnit() override { return unit_; }
    EDisplayNotation GetDisplayNotation() override { return fnAutomatic; }
    int64_t GetDisplayPrecision() override { return 6; }

    void Validate() override;
    int64_t ReadAsInt(bool ignoreCache) override;
    void WriteAsInt(int64_t value) override { SetValue(static_cast<double>(value), true); }
    double ReadAsFloat(bool ignoreCache) override { return GetValue(false, ignoreCache); }
    void WriteAsFloat(double value) override { SetValue(value, true); }
    double NumericMin() override { return GetMin(); }
    double NumericMax() override { return GetMax(); }

protected:
    bool ConfigureElement(const pugi::xml_node& child) override;

private:
    std::string unit_;
};

/// StringReg (and TextDesc): text up to the first NUL of the register; a
/// write pads with NULs and refuses a text longer than the register.
class StringRegNode : public RegisterBase, public virtual IString {
public:
    StringRegNode(NodeMapCore& core, std::string kind, EAccessMode defaultMode = RO)
        : RegisterBase(core, std::move(kind), defaultMode) {}

    EInterfaceType GetPrincipalInterfaceType() const override { return intfIString; }
    std::string ToString(bool verify = false, bool ignoreCache = false) override {
        return GetValue(verify, ignoreCache);
    }
    void FromString(const std::string& value, bool verify = true) override { SetValue(value, verify); }
    std::string GetValue(bool verify = false, bool ignoreCache = false) override;
    void SetValue(const std::string& value, bool verify = true) override;
    int64_t GetMaxLength() override { return GetLength(); }
};

/// Register: raw bytes.
class RawRegisterNode : public RegisterBase {
public:
    explicit RawRegisterNode(NodeMapCore& core) : RegisterBase(core, "Register", RO) {}
    EInterfaceType GetPrincipalInterfaceType() const override { return intfIRegister; }
};

} // namespace qorcam::genapi
