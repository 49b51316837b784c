// Registration of Talvix.dll seen from outside, as an installer or a user
// sees it: regsvr32 runs it, reg query reads what it wrote, and client
// programs are started the way users start them.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/processes.h"

#define TVX_CLSID "{A0C98C16-7E55-40FA-88B1-F1B87331EF27}"
#define TVX_LIBID "{33C8C283-2532-4097-BD38-DC2682CA0AA1}"
#define TVX_IID "{FE5A284E-EBFF-406B-8F1E-F8FD27FA89DD}"

extern const char kClassKey[];  // HKCR\CLSID\{...} of TVXDevice

std::string ShortPath(const std::string& path);
// regsvr32 /s [/u] on a DLL; its exit code (-1 when it did not run).
int Regsvr32(const std::string& dll, bool unregister = false);

// One value through reg query: "(Default)" or a value name.
struct RegValue {
    bool found = false;
    std::string type;
    std::string data;
};
RegValue QueryValue(const std::string& key, const std::string& name = "");
bool KeyExists(const std::string& key);
// reg query /s of a key: the whole subtree as text ("" when missing).
std::string QueryTree(const std::string& key);

// Removes every trace of a registration with the registry API, so that each
// test starts from an unregistered server whatever the one before it did.
void RemoveRegistration();

// A scratch folder under the temporary folder, removed with its files.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }  // ends in '\'
    // Copies a file of the bin folder into the scratch folder; its new path.
    std::string Copy(const std::string& binFile) const;

private:
    std::string path_;
};

// Starts and ends every test unregistered.
class RegistrationTest : public testing::Test {
protected:
    void SetUp() override { RemoveRegistration(); }
    void TearDown() override { RemoveRegistration(); }

    const std::string dll = ProgramFolder() + "Talvix.dll";
};
