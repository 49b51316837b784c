// Arbitrary bytes as a registry script, registered and then unregistered over
// an in-memory registry that already holds other programs' keys.  Besides the
// sanitizers it checks that no key handle or heap block is left behind and that
// unregistering never writes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "memory_registry.h"
#include "registry/replacement_table.h"
#include "registry/rgs_parser.h"
#include "test_host.h"

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

rgs::Result Run(const uint8_t* data, size_t size, rgs::Mode mode, rgstest::MemoryRegistry& registry,
                const rgs::Locale& locale)
{
    rgstest::CountingAllocator allocator;
    rgs::Result result;
    {
        rgs::ReplacementTable table(allocator);
        Check(table.Add(u"Module", u"C:\\IT''S~1\\TALVIX.DLL") == rgs::kOk);
        result = rgs::RunRegistryScript(reinterpret_cast<const char*>(data), size, table, mode, registry,
                                        allocator, locale);
    }
    Check(allocator.Live() == 0);
    Check(registry.OpenHandles() == 0);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Odd sizes read the script with double-byte characters.
    const rgstest::TestLocale locale(size % 2 == 1);
    rgstest::MemoryRegistry registry;
    registry.AddString("HKCR\\CLSID\\{other}\\InprocServer32", "ThreadingModel", "Both");
    registry.AddKey("HKCR\\TypeLib\\{other}\\1.0");
    registry.AddString("HKCU\\Software", "v", "1");

    Run(data, size, rgs::Mode::Register, registry, locale);
    const std::size_t writes = registry.Writes();
    Run(data, size, rgs::Mode::Unregister, registry, locale);
    Check(registry.Writes() == writes);
    return 0;
}
