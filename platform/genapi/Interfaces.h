// Interfaces: the typed views of a node (IInteger, IFloat, ...) and of the node map and port.
#pragma once

#include "genapi/Types.h"

#include <cstdint>
#include <string>

namespace qorcam::genapi {

class INodeMap;

/// Everything that has an access mode: nodes and ports.
class IBase {
public:
    virtual EAccessMode GetAccessMode() = 0;

protected:
    virtual ~IBase() = default;
};

inline bool IsReadable(IBase* node) {
    return node && IsReadable(node->GetAccessMode());
}
inline bool IsWritable(IBase* node) {
    return node && IsWritable(node->GetAccessMode());
}
inline bool IsAvailable(IBase* node) {
    return node && IsAvailable(node->GetAccessMode());
}
inline bool IsImplemented(IBase* node) {
    return node && IsImplemented(node->GetAccessMode());
}

/// Device memory as the node map sees it. Implementations may throw any
/// std::exception; the node map reports it with the node's name attached.
class IPort : virtual public IBase {
public:
    virtual void Read(void* buffer, int64_t address, int64_t length) = 0;
    virtual void Write(const void* buffer, int64_t address, int64_t length) = 0;
    virtual ~IPort() = default;
};

/// Common to every node of a map. Texts come from the description as given.
class INode : virtual public IBase {
public:
    virtual std::string GetName(bool fullQualified = false) const = 0;
    virtual std::string GetNameSpace() const = 0;
    virtual EVisibility GetVisibility() const = 0;
    virtual std::string GetDisplayName() const = 0;
    virtual std::string GetDescription() const = 0;
    virtual std::string GetToolTip() const = 0;
    virtual EInterfaceType GetPrincipalInterfaceType() const = 0;
    /// False when the value may change without a write through this map
    /// (a register that is not cached, or polled, somewhere below the node).
    virtual bool IsCachable() const = 0;
    virtual ECachingMode GetCachingMode() const = 0;
    /// Milliseconds between refreshes the description asks for; -1 for none.
    virtual int64_t GetPollingTime() const = 0;
    virtual bool IsStreamable() const = 0;
    virtual bool IsFeature() const = 0;
    virtual bool IsDeprecated() const = 0;
    /// Forgets every cached value the node's value is made of.
    virtual void InvalidateNode() = 0;
    virtual INodeMap* GetNodeMap() const = 0;
};

class IValue : virtual public IBase {
public:
    virtual INode* GetNode() = 0;
    virtual std::string ToString(bool verify = false, bool ignoreCache = false) = 0;
    virtual void FromString(const std::string& value, bool verify = true) = 0;
};

class IInteger : virtual public IValue {
public:
    virtual int64_t GetValue(bool verify = false, bool ignoreCache = false) = 0;
    virtual void SetValue(int64_t value, bool verify = true) = 0;
    virtual int64_t GetMin() = 0;
    virtual int64_t GetMax() = 0;
    virtual int64_t GetInc() = 0;
    virtual ERepresentation GetRepresentation() = 0;
    virtual std::string GetUnit() = 0;
    IInteger& operator=(int64_t value) {
        SetValue(value);
        return *this;
    }
    int64_t operator()() { return GetValue(); }
};

class IFloat : virtual public IValue {
public:
    virtual double GetValue(bool verify = false, bool ignoreCache = false) = 0;
    virtual void SetValue(double value, bool verify = true) = 0;
    virtual double GetMin() = 0;
    virtual double GetMax() = 0;
    virtual bool HasInc() = 0;
    virtual double GetInc() = 0;
    virtual ERepresentation GetRepresentation() = 0;
    virtual std::string GetUnit() = 0;
    virtual EDisplayNotation GetDisplayNotation() = 0;
    virtual int64_t GetDisplayPrecision() = 0;
    IFloat& operator=(double value) {
        SetValue(value);
        return *this;
    }
    double operator()() { return GetValue(); }
};

class IBoolean : virtual public IValue {
public:
    virtual bool GetValue(bool verify = false, bool ignoreCache = false) = 0;
    virtual void SetValue(bool value, bool verify = true) = 0;
    IBoolean& operator=(bool value) {
        SetValue(value);
        return *this;
    }
};

class ICommand : virtual public IValue {
public:
    virtual void Execute(bool verify = true) = 0;
    /// Asks the device again each time, so it can be polled in a loop.
    virtual bool IsDone(bool verify = true) = 0;
};

class IString : virtual public IValue {
public:
    virtual std::string GetValue(bool verify = false, bool ignoreCache = false) = 0;
    virtual void SetValue(const std::string& value, bool verify = true) = 0;
    virtual int64_t GetMaxLength() = 0;
    IString& operator=(const std::string& value) {
        SetValue(value);
        return *this;
    }
};

class IRegister : virtual public IValue {
public:
    /// Writes length bytes (at most GetLength()) at the register's address.
    virtual void Set(const uint8_t* buffer, int64_t length, bool verify = true) = 0;
    /// Reads length bytes (at most GetLength()) from the register's address.
    virtual void Get(uint8_t* buffer, int64_t length, bool verify = false, bool ignoreCache = false) = 0;
    virtual int64_t GetLength() = 0;
    virtual int64_t GetAddress() = 0;
};

class IEnumEntry : virtual public IValue {
public:
    virtual int64_t GetValue() = 0;
    virtual std::string GetSymbolic() const = 0;
    virtual double GetNumericValue() = 0;
    virtual bool IsSelfClearing() = 0;
};

class IEnumeration : virtual public IValue {
public:
    /// Every entry in description order, available or not.
    virtual NodeList_t GetEntries() = 0;
    virtual IEnumEntry* GetEntryByName(const std::string& symbolic) = 0;
    virtual IEnumEntry* GetEntry(int64_t value) = 0;
    /// The entry whose value the device holds now; null when none matches.
    virtual IEnumEntry* GetCurrentEntry(bool verify = false, bool ignoreCache = false) = 0;
    virtual int64_t GetIntValue(bool verify = false, bool ignoreCache = false) = 0;
    virtual void SetIntValue(int64_t value, bool verify = true) = 0;
    IEnumeration& operator=(const std::string& symbolic) {
        FromString(symbolic);
        return *this;
    }
};

class ICategory : virtual public IValue {
public:
    virtual NodeList_t GetFeatures() = 0;
};

/// Every node answers it; a selector is a node with selected features.
class ISelector : virtual public IBase {
public:
    virtual bool IsSelector() = 0;
    virtual NodeList_t GetSelectedFeatures() = 0;
    virtual NodeList_t GetSelectingFeatures() = 0;
};

class INodeMap {
public:
    virtual INode* GetNode(const std::string& name) const = 0;
    virtual NodeList_t GetNodes() const = 0;
    virtual std::string GetDeviceName() const = 0;
    /// Connects a port to the port node of that name; false when there is none.
    virtual bool Connect(IPort* port, const std::string& portName) = 0;
    /// Advances the polling clock: nodes whose polling time has passed
    /// forget their cached values.
    virtual void Poll(int64_t elapsedTime) = 0;
    virtual void InvalidateNodes() = 0;

protected:
    virtual ~INodeMap() = default;
};

} // namespace qorcam::genapi
