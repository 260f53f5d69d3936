// Pointer: CPointer, a typed view of a node that refuses use while it holds none.
#pragma once

#include "genapi/GenericException.h"
#include "genapi/Interfaces.h"

namespace qorcam::genapi {

/// Holds a node through one of its interfaces; borrowed from the node map,
/// which must outlive it. Built from a node of another kind it holds nothing,
/// and using it then throws "NULL pointer dereferenced".
template <class T> class CPointer {
public:
    CPointer() = default;
    CPointer(T* p) : p_(p) {}
    template <class U> CPointer(U* node) : p_(dynamic_cast<T*>(node)) {}
    /// Another view of the same node.
    template <class U> CPointer(const CPointer<U>& other) : p_(dynamic_cast<T*>(static_cast<U*>(other))) {}
    template <class U> CPointer& operator=(U* node) {
        p_ = dynamic_cast<T*>(node);
        return *this;
    }
    T* operator->() const {
        if (!p_) throw LogicalErrorException("NULL pointer dereferenced");
        return p_;
    }
    T& operator*() const { return *operator->(); }
    operator T*() const { return p_; }
    bool IsValid() const { return p_ != nullptr; }
    explicit operator bool() const { return p_ != nullptr; }
    void Release() { p_ = nullptr; }

private:
    T* p_ = nullptr;
};

using CNodePtr = CPointer<INode>;
using CValuePtr = CPointer<IValue>;
using CIntegerPtr = CPointer<IInteger>;
using CFloatPtr = CPointer<IFloat>;
using CBooleanPtr = CPointer<IBoolean>;
using CCommandPtr = CPointer<ICommand>;
using CStringPtr = CPointer<IString>;
using CRegisterPtr = CPointer<IRegister>;
using CEnumerationPtr = CPointer<IEnumeration>;
using CEnumEntryPtr = CPointer<IEnumEntry>;
using CCategoryPtr = CPointer<ICategory>;
using CSelectorPtr = CPointer<ISelector>;
using CPortPtr = CPointer<IPort>;

} // namespace qorcam::genapi
