// Access rules, caching modes, invalidation, polling and use from several threads.
#include "MemoryPort.h"

#include "genapi/GenericException.h"
#include "genapi/NodeMap.h"
#include "genapi/Pointer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace qorcam::genapi;
using qorcam::genapi::testing::Description;
using qorcam::genapi::testing::MemoryPort;

namespace {

std::string Reg(const char* name, int address, const char* extra = "") {
    return std::string("<IntReg Name='") + name + "'><Address>" + std::to_string(address) +
           "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>" + extra +
           "</IntReg>";
}

} // namespace

TEST(Access, AvailabilityImplementationAndLocks) {
    std::string xml = Description(
        "<Integer Name='Flag'><Value>1</Value></Integer>"
        "<Integer Name='Avail'><pIsAvailable>Flag</pIsAvailable><Value>3</Value></Integer>"
        "<Integer Name='Impl'><pIsImplemented>Flag</pIsImplemented><Value>3</Value></Integer>"
        "<Integer Name='Locked'><pIsLocked>Flag</pIsLocked><Value>3</Value></Integer>" +
        Reg("RO1", 0, "<ImposedAccessMode>RO</ImposedAccessMode>") +
        "<IntReg Name='WO1'><Address>8</Address><Length>4</Length><AccessMode>WO</AccessMode></IntReg>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);
    CIntegerPtr flag = map._GetNode("Flag");

    struct Case {
        const char* node;
        int64_t flag;
        EAccessMode mode;
    } cases[] = {
        {"Avail", 1, RW},  {"Avail", 0, NA},  {"Impl", 1, RW}, {"Impl", 0, NI},
        {"Locked", 0, RW}, {"Locked", 1, RO}, {"RO1", 0, RO},  {"WO1", 0, WO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.node) + " flag " + std::to_string(c.flag));
        flag->SetValue(c.flag);
        CIntegerPtr node = map._GetNode(c.node);
        EXPECT_EQ(node->GetAccessMode(), c.mode);
        if (!IsReadable(c.mode)) {
            EXPECT_THROW(node->GetValue(), AccessException);
        }
        if (IsWritable(c.mode)) {
            EXPECT_NO_THROW(node->SetValue(0));
        } else {
            EXPECT_THROW(node->SetValue(0), AccessException);
        }
    }
}

TEST(Access, ConditionsTheDeviceCannotAnswer) {
    // Availability read from a failing device: unavailable; a lock that cannot
    // be read: locked. Neither makes the access mode itself throw.
    std::string xml = Description(
        Reg("Cond", 0) + "<Integer Name='Avail'><pIsAvailable>Cond</pIsAvailable><Value>1</Value></Integer>"
                         "<Integer Name='Locked'><pIsLocked>Cond</pIsLocked><Value>1</Value></Integer>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);
    port.fail = true;
    EXPECT_EQ(map._GetNode("Avail")->GetAccessMode(), NA);
    EXPECT_EQ(map._GetNode("Locked")->GetAccessMode(), RO);
    port.fail = false;
    map.InvalidateNodes();
    EXPECT_EQ(map._GetNode("Avail")->GetAccessMode(), NA); // Cond reads 0
    EXPECT_EQ(map._GetNode("Locked")->GetAccessMode(), RW);
}

TEST(Access, ReadOnlyPortMakesEveryFeatureReadOnly) {
    std::string xml = Description(
        Reg("R", 0) + "<Integer Name='Local'><Value>1</Value></Integer>"
                      "<Command Name='C'><pValue>R</pValue><CommandValue>1</CommandValue></Command>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port(0x100, RO);
    map._Connect(&port);
    EXPECT_EQ(map._GetNode("R")->GetAccessMode(), RO);
    EXPECT_EQ(map._GetNode("Local")->GetAccessMode(), RO);
    EXPECT_EQ(map._GetNode("C")->GetAccessMode(), RO);
    EXPECT_THROW(CCommandPtr(map._GetNode("C"))->Execute(), AccessException);
    EXPECT_THROW(CIntegerPtr(map._GetNode("Local"))->SetValue(2), AccessException);
    EXPECT_EQ(port.writes, 0);
}

TEST(Access, UnconnectedPortAndFailingPort) {
    std::string xml = Description(Reg("R", 0));
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    CIntegerPtr r = map._GetNode("R");
    EXPECT_EQ(r->GetAccessMode(), NA);
    EXPECT_THROW(r->GetValue(), AccessException);
    MemoryPort port;
    map._Connect(&port);
    port.fail = true;
    try {
        r->GetValue();
        FAIL() << "no exception";
    } catch (const RuntimeException& e) {
        // The text names the node, the address and the port's own reason.
        std::string text = e.what();
        EXPECT_NE(text.find("'R'"), std::string::npos) << text;
        EXPECT_NE(text.find("0x0"), std::string::npos) << text;
        EXPECT_NE(text.find("Unable to Read Register"), std::string::npos) << text;
    }
    EXPECT_FALSE(map._Connect(&port, "NoSuchPort"));
}

TEST(Caching, ModesDecideWhenTheDeviceIsAsked) {
    struct Case {
        const char* cachable;
        int readsAfterWrite; // reads of the port by one GetValue after a SetValue
        int readsRepeated;   // by a second GetValue
    } cases[] = {{"WriteThrough", 0, 0}, {"WriteAround", 1, 0}, {"NoCache", 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cachable);
        std::string extra = std::string("<Cachable>") + c.cachable + "</Cachable>";
        CNodeMapRef map;
        map._LoadXMLFromString(Description(Reg("R", 0, extra.c_str())).c_str());
        MemoryPort port;
        map._Connect(&port);
        CIntegerPtr r = map._GetNode("R");
        r->SetValue(7);
        int before = port.reads;
        EXPECT_EQ(r->GetValue(), 7);
        EXPECT_EQ(port.reads - before, c.readsAfterWrite);
        before = port.reads;
        r->GetValue();
        EXPECT_EQ(port.reads - before, c.readsRepeated);
        EXPECT_EQ(map._GetNode("R")->IsCachable(), std::string(c.cachable) != "NoCache");
        // ignoreCache always asks the device.
        before = port.reads;
        r->GetValue(false, true);
        EXPECT_EQ(port.reads - before, 1);
    }
}

TEST(Caching, InvalidatorsOverlapsAndPolling) {
    std::string xml = Description(
        Reg("Status", 0, "<pInvalidator>Control</pInvalidator>") + Reg("Control", 0x10) +
        "<MaskedIntReg Name='Low'><Address>0x20</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<LSB>0</LSB><MSB>7</MSB></MaskedIntReg>" +
        Reg("Whole", 0x20) + Reg("Temp", 0x30, "<PollingTime>100</PollingTime>") +
        "<Integer Name='TempView'><pValue>Temp</pValue></Integer>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);

    CIntegerPtr status = map._GetNode("Status");
    EXPECT_EQ(status->GetValue(), 0);
    port.Put32LE(0, 5); // the device changes the status when control is written
    CIntegerPtr(map._GetNode("Control"))->SetValue(1);
    EXPECT_EQ(status->GetValue(), 5);

    // A write to one register makes overlapping caches of others forget.
    CIntegerPtr whole = map._GetNode("Whole");
    EXPECT_EQ(whole->GetValue(), 0);
    CIntegerPtr(map._GetNode("Low"))->SetValue(0x42);
    EXPECT_EQ(whole->GetValue(), 0x42);

    // Polling: the cached value is kept until the polling time has passed.
    CIntegerPtr temp = map._GetNode("TempView");
    EXPECT_EQ(temp->GetValue(), 0);
    EXPECT_FALSE(map._GetNode("TempView")->IsCachable());
    EXPECT_EQ(map._GetNode("TempView")->GetPollingTime(), -1);
    EXPECT_EQ(map._GetNode("Temp")->GetPollingTime(), 100);
    port.Put32LE(0x30, 37);
    map._Poll(60);
    EXPECT_EQ(temp->GetValue(), 0);
    map._Poll(60);
    EXPECT_EQ(temp->GetValue(), 37);
}

TEST(Threads, ReadersAndWritersShareOneMap) {
    std::string xml =
        Description(Reg("A", 0) + Reg("B", 4, "<Cachable>NoCache</Cachable>") +
                    "<IntSwissKnife Name='Sum'><pVariable Name='A'>A</pVariable>"
                    "<pVariable Name='B'>B</pVariable><Formula>A + B</Formula></IntSwissKnife>");
    CNodeMapRef map;
    map._LoadXMLFromString(xml.c_str());
    MemoryPort port;
    map._Connect(&port);
    std::atomic<bool> bad{false};
    auto writer = [&](const char* name) {
        CIntegerPtr n = map._GetNode(name);
        for (int i = 0; i < 2000; ++i)
            n->SetValue(i % 100);
    };
    auto reader = [&] {
        CIntegerPtr sum = map._GetNode("Sum");
        for (int i = 0; i < 2000; ++i) {
            int64_t v = sum->GetValue();
            if (v < 0 || v > 198) bad = true;
        }
    };
    std::thread t1(writer, "A"), t2(writer, "B"), t3(reader), t4(reader);
    t1.join();
    t2.join();
    t3.join();
    t4.join();
    EXPECT_FALSE(bad);
}

TEST(Lifetime, MapDestroyedBeforePortNeverCallsIt) {
    auto port = std::make_unique<MemoryPort>();
    {
        CNodeMapRef map;
        map._LoadXMLFromString(Description(Reg("R", 0)).c_str());
        map._Connect(port.get());
        CIntegerPtr(map._GetNode("R"))->SetValue(3);
        port->fail = true; // any call from here on would throw inside the destructor
    }
    EXPECT_EQ(port->writes, 1);
}
