// TestNamespace: a network namespace of the test's own with a veth pair inside.
#pragma once

#include <functional>
#include <string>

namespace qorcam::driverselect::test {

/// A network namespace that only this test process uses, holding a veth
/// pair (both ends inside, up), and a temporary QORCAM_ROOT for it.
///
/// Guarantees: names carry the test's pid, so parallel tests never meet;
/// nothing outside the namespace and the root is touched; the destructor
/// removes both. Available() is false, with Reason(), when not root.
class TestNamespace {
public:
    explicit TestNamespace(bool withVeth = true);
    ~TestNamespace();
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    bool Available() const { return available_; }
    const std::string& Reason() const { return reason_; }
    const std::string& Name() const { return name_; }
    const std::string& Root() const { return root_; }
    const std::string& InterfaceA() const { return ifA_; }
    const std::string& InterfaceB() const { return ifB_; }

    static int Run(const std::string& command, std::string* output = nullptr);
    /// Runs a shell command inside the namespace with QORCAM_ROOT set.
    int RunIn(const std::string& command, std::string* output = nullptr) const;
    /// Runs f on a thread that has entered the namespace; false when it could not enter.
    bool Within(const std::function<void()>& f) const;

private:
    bool available_ = false;
    bool made_ = false;
    std::string reason_, name_, root_, ifA_, ifB_;
};

} // namespace qorcam::driverselect::test
