// Prints what Talvix's GetDriverVersion reports in this process:
// "hr=<HRESULT> version=<packed> status=<status> major=<Windows major>".
#include <initguid.h>

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "Talvix.h"

int main()
{
    HMODULE module = LoadLibraryA("Talvix.dll");
    if (!module)
        return 2;
    auto getClassObject = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    if (!getClassObject ||
        FAILED(getClassObject(CLSID_TVXDevice, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return 3;
    ITVXDevice* device = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, IID_ITVXDevice, reinterpret_cast<void**>(&device));
    factory->Release();
    if (FAILED(hr))
        return 4;
    ULONG version = 0, status = 0;
    hr = device->GetDriverVersion(&version, &status);
    device->Release();
    OSVERSIONINFOA os{};
    os.dwOSVersionInfoSize = sizeof os;
    GetVersionExA(&os);
    std::printf("hr=%08lx version=%08lx status=%08lx major=%lu\n", static_cast<unsigned long>(hr), version, status,
                os.dwMajorVersion);
    return 0;
}
