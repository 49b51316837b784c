// An in-memory registry behind the script parser's registry operations, with
// faults that can be planted on key paths.  Key and value names compare
// without regard to ASCII case, as in the real registry.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "registry/registry_ops.h"

namespace rgstest {

struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const;
};

class MemoryRegistry final : public rgs::RegistryOps {
public:
    MemoryRegistry();

    rgs::Key RootKey(rgs::Root root) override;
    bool OpenKey(rgs::Key parent, const char* name, rgs::Access access, rgs::Key* key) override;
    bool CreateKey(rgs::Key parent, const char* name, rgs::Key* key) override;
    bool CloseKey(rgs::Key key) override;
    bool DeleteKey(rgs::Key parent, const char* name) override;
    bool SubkeyName(rgs::Key key, uint32_t index, char (&name)[rgs::kMaxKeyName + 1]) override;
    bool QueryContents(rgs::Key key, bool* hasSubkeys, bool* hasNamedValues) override;
    bool SetValue(rgs::Key key, const char* name, rgs::ValueType type, const void* data, uint32_t size) override;
    bool DeleteValue(rgs::Key key, const char* name) override;

    // Paths are "HKCR\A\B" (roots HKCR, HKCU, HKLM, HKU, HKPD, HKDD, HKCC).
    void AddKey(const std::string& path);
    void AddString(const std::string& path, const std::string& name, const std::string& text);
    bool HasKey(const std::string& path) const;

    // Planted faults, by key path.
    void DenyCreate(const std::string& path);  // the key cannot be created
    void DenyOpen(const std::string& path);    // the key opens with no access at all
    void ReadOnly(const std::string& path);    // the key opens for reading only
    void FailClose(const std::string& path);   // closing a handle of the key fails

    // The key at `path` and those below it, one line each, with their values:
    // HKCR\A = s 'default' [name] = d 7 [other] = b 0A0B.  With no path, the
    // keys below every root (and a root itself when it holds values).
    std::string Dump(const std::string& path = "") const;
    std::size_t OpenHandles() const { return handles_.size(); }
    // Keys created and values set so far.
    std::size_t Writes() const { return writes_; }

private:
    struct Value {
        rgs::ValueType type;
        std::string bytes;
    };
    struct Node {
        std::string name;
        std::map<std::string, std::shared_ptr<Node>, NoCase> children;
        std::map<std::string, Value, NoCase> values;
        bool deleted = false;
    };
    struct Handle {
        std::shared_ptr<Node> node;
        std::string path;
        bool writable;
    };
    enum Fault : unsigned { kDenyCreate = 1, kDenyOpen = 2, kReadOnly = 4, kFailClose = 8 };

    const Handle* Find(rgs::Key key) const;
    // The key at `path`; missing levels are made when `create` is set.
    Node* Walk(const std::string& path, bool create) const;
    bool HasFault(const std::string& path, Fault fault) const;
    void Plant(const std::string& path, Fault fault);
    rgs::Key NewHandle(std::shared_ptr<Node> node, std::string path, bool writable);
    void DumpNode(const Node& node, const std::string& path, std::string& out) const;

    std::vector<Handle> roots_;
    std::map<rgs::Key, Handle> handles_;
    std::map<std::string, unsigned, NoCase> faults_;
    rgs::Key nextHandle_ = 0x100;
    std::size_t writes_ = 0;
};

}  // namespace rgstest
