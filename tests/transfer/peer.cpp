// A second process on uXfer.dll, for the tests of what processes share.
// Loads the library itself so that its load and unload can be watched.
//   uxfer_peer delay N      uSetDelay(N)
//   uxfer_peer instance N   uSetInstance(N)
//   uxfer_peer time         prints the milliseconds of one debug write of length 0
//   uxfer_peer unregister   exits with the result of uUnRegDevNotify
//   uxfer_peer register     registers a window of its own, exits with the result of uRegDevNotify
//   uxfer_peer lifecycle    loads, uCreate(7), unloads; prints the debug texts, each after a '|'
//   uxfer_peer roundtrip A N S   writes N bytes of Pattern(N, S) at address A, reads them back
//                                and compares (exit 0: the same bytes came back)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/device_log.h"
#include "transfer/debug_texts.h"
#include "uXfer.h"
#include "vdev_shim.h"
#include "win/unique_any.h"

namespace {

class Library {
public:
    Library() : module_(LoadLibraryA("uXfer.dll")) {}
    ~Library() { Unload(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool Loaded() const { return module_.valid(); }
    void Unload() { module_.reset(); }
    template <class Fn>
    Fn* Get(const char* name) const
    {
        return reinterpret_cast<Fn*>(reinterpret_cast<void*>(GetProcAddress(module_.get(), name)));
    }

private:
    win::unique_hmodule module_;
};

int Lifecycle()
{
    DebugTexts texts;
    uint32_t created;
    {
        Library library;
        if (!library.Loaded())
            return 3;
        created = library.Get<decltype(uCreate)>("uCreate")(OPEN_ALL);
    }
    for (const std::string& text : texts.Take()) {
        std::string shown = "|";
        for (char c : text)
            shown += c == '\n' ? std::string("\\n") : std::string(1, c);
        std::fputs(shown.c_str(), stdout);
    }
    return created == RESULT_OK ? 0 : 4;
}

int Time(const Library& library)
{
    if (library.Get<decltype(uCreate)>("uCreate")(OPEN_ALL) != RESULT_OK)
        return 4;
    TransferDesc desc = {};
    uint32_t count = 0;
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    uint32_t result = library.Get<decltype(uDebugWriteCmd)>("uDebugWriteCmd")(&desc, nullptr, &count);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    library.Get<decltype(uClose)>("uClose")();
    std::printf("%.0f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                              static_cast<double>(frequency.QuadPart));
    return result == RESULT_OK ? 0 : 5;
}

int RoundTrip(const Library& library, uint32_t address, uint32_t size, uint32_t seed)
{
    if (library.Get<decltype(uCreate)>("uCreate")(OPEN_ALL) != RESULT_OK)
        return 4;
    const std::vector<uint8_t> written = Pattern(size, seed);
    std::vector<uint8_t> read(size);
    const TransferDesc desc = {0, 0, address, size, 4, 0, 0};
    uint32_t wrote = 0, got = 0;
    const uint32_t writeResult = library.Get<decltype(uXferWrite)>("uXferWrite")(&desc, written.data(), &wrote);
    const uint32_t readResult = library.Get<decltype(uXferRead)>("uXferRead")(&desc, read.data(), &got);
    library.Get<decltype(uClose)>("uClose")();
    if (writeResult != RESULT_OK || wrote != size)
        return 5;
    if (readResult != RESULT_OK || got != size)
        return 7;
    return read == written ? 0 : 8;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !VdevShimInstall())
        return 2;
    std::string command = argv[1];
    if (command == "lifecycle")
        return Lifecycle();
    Library library;
    if (!library.Loaded())
        return 3;
    uint32_t value = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 0;
    if (command == "delay")
        return library.Get<decltype(uSetDelay)>("uSetDelay")(value) == value ? 0 : 6;
    if (command == "instance")
        return library.Get<decltype(uSetInstance)>("uSetInstance")(value) == value ? 0 : 6;
    if (command == "register") {
        HWND window = CreateWindowExA(0, "STATIC", "uxfer peer", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        return static_cast<int>(library.Get<decltype(uRegDevNotify)>("uRegDevNotify")(window));
    }
    if (command == "unregister")
        return static_cast<int>(library.Get<decltype(uUnRegDevNotify)>("uUnRegDevNotify")());
    if (command == "time")
        return Time(library);
    if (command == "roundtrip" && argc > 4)
        return RoundTrip(library, value, static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 0)),
                         static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 0)));
    return 2;
}
