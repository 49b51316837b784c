// Runs registry scripts over an in-memory registry and checks, after every
// test, that no key handle and no heap block was left behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "memory_registry.h"
#include "registry/replacement_table.h"
#include "registry/rgs_parser.h"
#include "test_host.h"

namespace rgstest {

class ScriptTest : public testing::Test {
protected:
    rgs::Result Run(const std::string& script, rgs::Mode mode)
    {
        rgs::ReplacementTable table(allocator);
        for (const auto& [name, value] : replacements)
            if (table.Add(name.c_str(), value.c_str()) != rgs::kOk)
                return rgs::kOutOfMemory;
        return rgs::RunRegistryScript(script.data(), script.size(), table, mode, registry, allocator, locale);
    }
    rgs::Result Register(const std::string& script) { return Run(script, rgs::Mode::Register); }
    rgs::Result Unregister(const std::string& script) { return Run(script, rgs::Mode::Unregister); }

    void TearDown() override
    {
        EXPECT_EQ(0u, registry.OpenHandles()) << "key handles left open";
        EXPECT_EQ(0u, allocator.Live()) << "heap blocks left";
    }

    MemoryRegistry registry;
    CountingAllocator allocator;
    TestLocale locale;
    std::vector<std::pair<std::u16string, std::u16string>> replacements{{u"Module", u"C:\\PROGRA~1\\TALVIX.DLL"}};
};

}  // namespace rgstest
