// SettingsTest: the Setting section's defaults, selective writing and the controls' enabling rules.
#include "ControlState.h"
#include "LogSettings.h"
#include "TracelogTestSupport.h"

#include <gtest/gtest.h>

namespace qorcam::tracelog {
namespace {

TEST(LogSettingsTest, DefaultsRoundTripAndOnlyChangedValuesAreWritten) {
    test::ScopedRoot root;
    os::SettingsStore store(os::SettingsStore::Hive::User);
    const LogSettings defaults = LogSettings::Load(store);
    EXPECT_EQ(defaults, LogSettings{});
    EXPECT_EQ(defaults.outPutMode, OutputMode::File);
    EXPECT_EQ(defaults.maxSize, 10000u);

    // Nothing differs from what reads back: nothing is written.
    ASSERT_TRUE(defaults.SaveChanged(store));
    EXPECT_TRUE(store.EnumValues(kSettingKey).empty());

    LogSettings changed = defaults;
    changed.dllLevel = 2;
    changed.path = "/tmp/logs";
    changed.pathMode = PathMode::Custom;
    ASSERT_TRUE(changed.SaveChanged(store));
    EXPECT_EQ(store.EnumValues(kSettingKey), (std::vector<std::string>{"DllLevel", "PathMode", "Path"}));
    EXPECT_EQ(LogSettings::Load(store), changed);
    EXPECT_TRUE(store.KeyExists("software\\quillonmark\\qorcamlog\\setting"));
}

TEST(LogSettingsTest, ValuesNoControlCanShowReadAsDefaults) {
    test::ScopedRoot root;
    os::SettingsStore store(os::SettingsStore::Hive::User);
    store.SetDword(kSettingKey, "SysLevel", 7);
    store.SetDword(kSettingKey, "OutPutMode", 5);
    store.SetDword(kSettingKey, "CreateMode", 2);
    store.SetDword(kSettingKey, "PathMode", 0xFFFFFFFF);
    store.SetDword(kSettingKey, "AccCache", 9);
    store.SetString(kSettingKey, "DllLevel", "2"); // wrong type
    const LogSettings s = LogSettings::Load(store);
    EXPECT_EQ(s.sysLevel, 0u);
    EXPECT_EQ(s.dllLevel, 0u);
    EXPECT_EQ(s.outPutMode, OutputMode::File);
    EXPECT_EQ(s.createMode, CreateMode::Auto);
    EXPECT_EQ(s.pathMode, PathMode::Default);
    EXPECT_TRUE(s.accCache);
}

TEST(LogSettingsTest, MaxSizeBounds) {
    for (auto [kb, ok] : {std::pair{5u, false}, {9u, false}, {10u, true}, {100000u, true}, {100001u, false}})
        EXPECT_EQ(IsValidMaxSize(kb), ok) << kb;
}

TEST(ControlStateTest, EnablingRules) {
    auto with = [](std::uint32_t sys, std::uint32_t dll, OutputMode out, PathMode path) {
        LogSettings s;
        s.sysLevel = sys;
        s.dllLevel = dll;
        s.outPutMode = out;
        s.pathMode = path;
        return ControlState::For(s);
    };
    //                      radios url    name   size   cache  paths  browse start
    const ControlState off{false, false, false, false, false, false, false, false};
    const ControlState stream{true, true, false, false, false, false, false, true};
    const ControlState fileDefault{true, false, true, true, true, true, false, true};
    const ControlState fileCustom{true, false, true, true, true, true, true, true};

    EXPECT_EQ(with(0, 0, OutputMode::File, PathMode::Custom), off);
    EXPECT_EQ(with(0, 0, OutputMode::Streaming, PathMode::Default), off);
    EXPECT_EQ(with(1, 0, OutputMode::Streaming, PathMode::Custom), stream);
    EXPECT_EQ(with(0, 2, OutputMode::File, PathMode::Default), fileDefault);
    EXPECT_EQ(with(1, 1, OutputMode::File, PathMode::Custom), fileCustom);

    LogSettings s;
    s.path = "/custom";
    EXPECT_EQ(FolderInUse(s, "/default"), "/default");
    s.pathMode = PathMode::Custom;
    EXPECT_EQ(FolderInUse(s, "/default"), "/custom");
}

} // namespace
} // namespace qorcam::tracelog
