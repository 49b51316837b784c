#include "memory_registry.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace rgstest {

namespace {

const char* const kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKDD", "HKCC"};

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        parts.push_back(path.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}  // namespace

bool NoCase::operator()(const std::string& a, const std::string& b) const
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return static_cast<unsigned char>(Fold(a[i])) < static_cast<unsigned char>(Fold(b[i]));
    return a.size() < b.size();
}

MemoryRegistry::MemoryRegistry()
{
    for (const char* name : kRootNames) {
        auto node = std::make_shared<Node>();
        node->name = name;
        roots_.push_back(Handle{node, name, true});
    }
}

rgs::Key MemoryRegistry::RootKey(rgs::Root root) { return static_cast<rgs::Key>(root) + 1; }

const MemoryRegistry::Handle* MemoryRegistry::Find(rgs::Key key) const
{
    if (key >= 1 && key <= roots_.size())
        return &roots_[key - 1];
    const auto it = handles_.find(key);
    if (it == handles_.end() || it->second.node->deleted)
        return nullptr;
    return &it->second;
}

rgs::Key MemoryRegistry::NewHandle(std::shared_ptr<Node> node, std::string path, bool writable)
{
    const rgs::Key key = nextHandle_++;
    handles_[key] = Handle{std::move(node), std::move(path), writable};
    return key;
}

bool MemoryRegistry::HasFault(const std::string& path, Fault fault) const
{
    const auto it = faults_.find(path);
    return it != faults_.end() && (it->second & fault) != 0;
}

void MemoryRegistry::Plant(const std::string& path, Fault fault) { faults_[path] |= fault; }
void MemoryRegistry::DenyCreate(const std::string& path) { Plant(path, kDenyCreate); }
void MemoryRegistry::DenyOpen(const std::string& path) { Plant(path, kDenyOpen); }
void MemoryRegistry::ReadOnly(const std::string& path) { Plant(path, kReadOnly); }
void MemoryRegistry::FailClose(const std::string& path) { Plant(path, kFailClose); }

bool MemoryRegistry::OpenKey(rgs::Key parent, const char* name, rgs::Access access, rgs::Key* key)
{
    const Handle* from = Find(parent);
    if (!from)
        return false;
    const auto it = from->node->children.find(name);
    if (it == from->node->children.end())
        return false;
    const std::string path = from->path + "\\" + it->second->name;
    if (HasFault(path, kDenyOpen))
        return false;
    const bool writable = access != rgs::Access::Read;
    if (writable && HasFault(path, kReadOnly))
        return false;
    *key = NewHandle(it->second, path, writable);
    return true;
}

bool MemoryRegistry::CreateKey(rgs::Key parent, const char* name, rgs::Key* key)
{
    const Handle* from = Find(parent);
    if (!from)
        return false;
    const auto it = from->node->children.find(name);
    if (it != from->node->children.end())
        return OpenKey(parent, name, rgs::Access::All, key);
    const std::string path = from->path + "\\" + name;
    if (!from->writable || HasFault(path, kDenyCreate) || std::strlen(name) > rgs::kMaxKeyName)
        return false;
    auto node = std::make_shared<Node>();
    node->name = name;
    from->node->children[name] = node;
    ++writes_;
    *key = NewHandle(node, path, true);
    return true;
}

bool MemoryRegistry::CloseKey(rgs::Key key)
{
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return false;
    const bool fails = HasFault(it->second.path, kFailClose);
    handles_.erase(it);
    return !fails;
}

bool MemoryRegistry::DeleteKey(rgs::Key parent, const char* name)
{
    const Handle* from = Find(parent);
    if (!from)
        return false;
    const auto it = from->node->children.find(name);
    if (it == from->node->children.end() || !it->second->children.empty())
        return false;
    it->second->deleted = true;
    from->node->children.erase(it);
    return true;
}

bool MemoryRegistry::SubkeyName(rgs::Key key, uint32_t index, char (&name)[rgs::kMaxKeyName + 1])
{
    const Handle* handle = Find(key);
    if (!handle || index >= handle->node->children.size())
        return false;
    auto it = handle->node->children.begin();
    std::advance(it, index);
    std::strcpy(name, it->second->name.c_str());
    return true;
}

bool MemoryRegistry::QueryContents(rgs::Key key, bool* hasSubkeys, bool* hasNamedValues)
{
    const Handle* handle = Find(key);
    if (!handle)
        return false;
    *hasSubkeys = !handle->node->children.empty();
    *hasNamedValues = false;
    for (const auto& value : handle->node->values)
        if (!value.first.empty())
            *hasNamedValues = true;
    return true;
}

bool MemoryRegistry::SetValue(rgs::Key key, const char* name, rgs::ValueType type, const void* data, uint32_t size)
{
    const Handle* handle = Find(key);
    if (!handle || !handle->writable)
        return false;
    handle->node->values[name] = Value{type, std::string(static_cast<const char*>(data), size)};
    ++writes_;
    return true;
}

bool MemoryRegistry::DeleteValue(rgs::Key key, const char* name)
{
    const Handle* handle = Find(key);
    return handle && handle->writable && handle->node->values.erase(name) == 1;
}

MemoryRegistry::Node* MemoryRegistry::Walk(const std::string& path, bool create) const
{
    const std::vector<std::string> parts = SplitPath(path);
    Node* node = nullptr;
    for (const Handle& root : roots_)
        if (!NoCase{}(root.path, parts[0]) && !NoCase{}(parts[0], root.path))
            node = root.node.get();
    for (std::size_t i = 1; node && i < parts.size(); ++i) {
        auto it = node->children.find(parts[i]);
        if (it == node->children.end()) {
            if (!create)
                return nullptr;
            auto child = std::make_shared<Node>();
            child->name = parts[i];
            it = node->children.emplace(parts[i], child).first;
        }
        node = it->second.get();
    }
    return node;
}

void MemoryRegistry::AddKey(const std::string& path) { Walk(path, true); }

void MemoryRegistry::AddString(const std::string& path, const std::string& name, const std::string& text)
{
    Walk(path, true)->values[name] = Value{rgs::ValueType::String, text + '\0'};
}

bool MemoryRegistry::HasKey(const std::string& path) const { return Walk(path, false) != nullptr; }

void MemoryRegistry::DumpNode(const Node& node, const std::string& path, std::string& out) const
{
    out += path;
    for (const auto& [name, value] : node.values) {
        out += name.empty() ? " =" : " [" + name + "] =";
        switch (value.type) {
        case rgs::ValueType::String:
            out += " s '" + value.bytes.substr(0, value.bytes.find('\0')) + "'";
            break;
        case rgs::ValueType::Dword: {
            uint32_t number = 0;
            std::memcpy(&number, value.bytes.data(), std::min<std::size_t>(4, value.bytes.size()));
            out += " d " + std::to_string(number);
            break;
        }
        case rgs::ValueType::Binary:
            out += " b " + Hex(value.bytes);
            break;
        }
    }
    out += '\n';
    for (const auto& entry : node.children)
        DumpNode(*entry.second, path + "\\" + entry.second->name, out);
}

std::string MemoryRegistry::Dump(const std::string& path) const
{
    std::string out;
    if (path.empty()) {
        for (const Handle& root : roots_) {
            if (root.node->values.empty()) {
                for (const auto& entry : root.node->children)
                    DumpNode(*entry.second, root.path + "\\" + entry.second->name, out);
            } else {
                DumpNode(*root.node, root.path, out);
            }
        }
        return out;
    }
    if (const Node* node = Walk(path, false))
        DumpNode(*node, path, out);
    return out;
}

}  // namespace rgstest
