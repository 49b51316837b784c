#include "registry/rgs_parser.h"

#include "registry/rgs_preprocess.h"
#include "registry/rgs_tokenizer.h"
#include "rgs_text.h"

namespace rgs {

namespace {

struct RootName {
    const char* shortName;
    const char* longName;
    Root root;
};

const RootName kRoots[] = {
    {"HKCR", "HKEY_CLASSES_ROOT", Root::ClassesRoot},
    {"HKCU", "HKEY_CURRENT_USER", Root::CurrentUser},
    {"HKLM", "HKEY_LOCAL_MACHINE", Root::LocalMachine},
    {"HKU", "HKEY_USERS", Root::Users},
    {"HKPD", "HKEY_PERFORMANCE_DATA", Root::PerformanceData},
    {"HKDD", "HKEY_DYN_DATA", Root::DynData},
    {"HKCC", "HKEY_CURRENT_CONFIG", Root::CurrentConfig},
};

// Keys that hold every program's registration: never deleted with a subtree.
bool NeverDelete(const char* name) { return EqualNoCase(name, "CLSID") || EqualNoCase(name, "TYPELIB"); }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const unsigned folded = FoldAscii(static_cast<unsigned char>(c));
    if (folded >= 'a' && folded <= 'f')
        return static_cast<int>(folded - 'a') + 10;
    return -1;
}

// Owns an open key of a RegistryOps.
class OpenKey {
public:
    explicit OpenKey(RegistryOps& registry) : registry_(registry) {}
    ~OpenKey()
    {
        if (key_)
            registry_.CloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    bool Open(Key parent, const char* name, Access access)
    {
        Key key = 0;
        if (!registry_.OpenKey(parent, name, access, &key))
            return false;
        key_ = key;
        return true;
    }
    bool Create(Key parent, const char* name)
    {
        Key key = 0;
        if (!registry_.CreateKey(parent, name, &key))
            return false;
        key_ = key;
        return true;
    }
    bool IsOpen() const { return key_ != 0; }
    Key Get() const { return key_; }
    bool Close()
    {
        const Key key = key_;
        key_ = 0;
        return registry_.CloseKey(key);
    }

private:
    RegistryOps& registry_;
    Key key_ = 0;
};

// What a block's entries do: write, remove, or only be read (under a key that
// did not open, or one being deleted).
enum class Pass { Register, Unregister, Skip };

struct Value {
    ValueType type = ValueType::String;
    const void* data = nullptr;
    uint32_t size = 0;
};

class Parser {
public:
    Parser(RegistryOps& registry, Allocator& allocator, const Locale& locale, Tokenizer& tokens)
        : registry_(registry), allocator_(allocator), locale_(locale), tokens_(tokens)
    {
    }

    Result Run(Mode mode);

private:
    Result Need();
    Result CopyToken(HeapBlock& copy);
    bool ValidKeyName(const char* name) const;
    Result Block(Key key, Pass pass, unsigned depth);
    Result KeyEntry(Key parent, Pass pass, unsigned depth);
    Result AssignmentAndBlock(Key key, Pass pass, unsigned depth);
    Result ValueEntry(Key key, Pass pass);
    Result ReadValue(Pass pass, HeapBlock& binary, Value* value);
    bool DeleteTree(Key parent, const char* name);

    RegistryOps& registry_;
    Allocator& allocator_;
    const Locale& locale_;
    Tokenizer& tokens_;
    uint32_t dword_ = 0;
};

// The next token, which the grammar requires.
Result Parser::Need() { return tokens_.Next() == TokenStatus::Token ? kOk : kDispException; }

Result Parser::CopyToken(HeapBlock& copy)
{
    const size_t bytes = tokens_.TokenLength() + 1;
    if (!copy.Resize(bytes))
        return kOutOfMemory;
    CopyBytes(copy.Bytes(), tokens_.Token(), bytes);
    return kOk;
}

// One level of a path: not empty (that would name the parent itself) and
// without '\' (a trail byte that looks like one does not count).
bool Parser::ValidKeyName(const char* name) const
{
    if (name[0] == '\0')
        return false;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '\\')
            return false;
        if (locale_.IsLeadByte(static_cast<unsigned char>(*c)) && c[1] != '\0')
            ++c;
    }
    return true;
}

Result Parser::Run(Mode mode)
{
    for (;;) {
        const TokenStatus status = tokens_.Next();
        if (status == TokenStatus::End)
            return kOk;
        if (status == TokenStatus::Malformed)
            return kDispException;
        const RootName* root = nullptr;
        for (const RootName& candidate : kRoots)
            if (tokens_.Is(candidate.shortName) || tokens_.Is(candidate.longName))
                root = &candidate;
        if (!root)
            return kDispException;
        Result result = Need();
        if (Failed(result) || !tokens_.Is("{"))
            return kDispException;

        const Key key = registry_.RootKey(root->root);
        const size_t start = tokens_.Position();
        result = Block(key, mode == Mode::Register ? Pass::Register : Pass::Unregister, 1);
        if (Failed(result)) {
            if (mode == Mode::Register) {
                tokens_.Rewind(start);
                Block(key, Pass::Unregister, 1);
            }
            return result;
        }
    }
}

Result Parser::Block(Key key, Pass pass, unsigned depth)
{
    if (depth > kMaxNesting)
        return kDispException;
    for (;;) {
        Result result = Need();
        if (Failed(result))
            return result;
        if (tokens_.Is("}"))
            return kOk;
        result = tokens_.Is("val") ? ValueEntry(key, pass) : KeyEntry(key, pass, depth);
        if (Failed(result))
            return result;
    }
}

Result Parser::KeyEntry(Key parent, Pass pass, unsigned depth)
{
    const bool forceRemove = tokens_.Is("ForceRemove");
    const bool noRemove = tokens_.Is("NoRemove");
    const bool deleteKey = tokens_.Is("Delete");
    Result result = kOk;
    if (forceRemove || noRemove || deleteKey) {
        result = Need();
        if (Failed(result))
            return result;
    }
    HeapBlock nameCopy(allocator_);
    result = CopyToken(nameCopy);
    if (Failed(result))
        return result;
    const char* name = nameCopy.Bytes();
    if (!ValidKeyName(name))
        return kDispException;

    OpenKey key(registry_);
    Pass inner = Pass::Skip;
    if (pass == Pass::Register) {
        if ((forceRemove || deleteKey) && !NeverDelete(name))
            DeleteTree(parent, name);
        if (!deleteKey) {
            if (!key.Open(parent, name, Access::All) && !key.Open(parent, name, Access::Read) &&
                !key.Create(parent, name))
                return kDispException;
            inner = Pass::Register;
        }
    } else if (pass == Pass::Unregister) {
        // Write access too: the block may delete values of this key.
        if (key.Open(parent, name, Access::ReadWrite) || key.Open(parent, name, Access::Read))
            inner = Pass::Unregister;
    }

    result = AssignmentAndBlock(key.Get(), inner, depth);
    if (!key.IsOpen())
        return result;
    // Also after a failure below it: the recovery pass after a failed
    // registration must not leave the key it failed at behind.
    bool hasSubkeys = true;
    bool hasNamedValues = true;
    const bool known = inner == Pass::Unregister && registry_.QueryContents(key.Get(), &hasSubkeys, &hasNamedValues);
    if (!key.Close())
        return Failed(result) ? result : kDispException;
    // A key that still holds something the script does not name stays.
    if (known && !hasSubkeys && !hasNamedValues && !noRemove)
        registry_.DeleteKey(parent, name);
    return result;
}

// The optional "= type value" and the optional block of a key entry.
Result Parser::AssignmentAndBlock(Key key, Pass pass, unsigned depth)
{
    size_t mark = tokens_.Position();
    TokenStatus status = tokens_.Next();
    if (status == TokenStatus::Token && tokens_.Is("=")) {
        HeapBlock binary(allocator_);
        Value value;
        const Result result = ReadValue(pass, binary, &value);
        if (Failed(result))
            return result;
        if (pass == Pass::Register)
            registry_.SetValue(key, "", value.type, value.data, value.size);
        mark = tokens_.Position();
        status = tokens_.Next();
    }
    if (status == TokenStatus::Malformed)
        return kDispException;
    if (status == TokenStatus::Token && tokens_.Is("{"))
        return Block(key, pass, depth + 1);
    tokens_.Rewind(mark);
    return kOk;
}

Result Parser::ValueEntry(Key key, Pass pass)
{
    Result result = Need();
    if (Failed(result))
        return result;
    HeapBlock name(allocator_);
    result = CopyToken(name);
    if (Failed(result))
        return result;
    result = Need();
    if (Failed(result) || !tokens_.Is("="))
        return kDispException;
    HeapBlock binary(allocator_);
    Value value;
    result = ReadValue(pass, binary, &value);
    if (Failed(result))
        return result;
    if (pass == Pass::Register)
        registry_.SetValue(key, name.Bytes(), value.type, value.data, value.size);
    else if (pass == Pass::Unregister)
        registry_.DeleteValue(key, name.Bytes());
    return kOk;
}

// Reads the type letter and the value text after an "=".  Only the register
// pass converts the text; the data stays valid until the next token is read.
Result Parser::ReadValue(Pass pass, HeapBlock& binary, Value* value)
{
    Result result = Need();
    if (Failed(result))
        return result;
    if (tokens_.TokenLength() != 1)
        return kDispException;
    switch (FoldAscii(static_cast<unsigned char>(tokens_.Token()[0]))) {
    case 's':
        value->type = ValueType::String;
        break;
    case 'd':
        value->type = ValueType::Dword;
        break;
    case 'b':
        value->type = ValueType::Binary;
        break;
    default:
        return kDispException;
    }
    result = Need();
    if (Failed(result) || pass != Pass::Register)
        return result;

    const char* text = tokens_.Token();
    const size_t length = tokens_.TokenLength();
    switch (value->type) {
    case ValueType::String:
        value->data = text;
        value->size = static_cast<uint32_t>(length + 1);
        return kOk;
    case ValueType::Dword:
        result = locale_.ParseUnsigned(text, &dword_);
        if (Failed(result))
            return result;
        value->data = &dword_;
        value->size = sizeof dword_;
        return kOk;
    case ValueType::Binary:
        break;
    }
    if (length % 2 != 0)
        return kFail;
    if (!binary.Resize(length / 2))
        return kOutOfMemory;
    for (size_t i = 0; i < length / 2; ++i) {
        const int high = HexDigit(text[2 * i]);
        const int low = HexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return kDispException;
        binary.Bytes()[i] = static_cast<char>(high * 16 + low);
    }
    value->data = binary.Bytes();
    value->size = static_cast<uint32_t>(length / 2);
    return kOk;
}

bool Parser::DeleteTree(Key parent, const char* name)
{
    {
        OpenKey key(registry_);
        if (!key.Open(parent, name, Access::All))
            return false;
        char child[kMaxKeyName + 1];
        while (registry_.SubkeyName(key.Get(), 0, child))
            if (!DeleteTree(key.Get(), child))
                return false;
    }
    return registry_.DeleteKey(parent, name);
}

}  // namespace

Result RunRegistryScript(const char* script, size_t size, const ReplacementTable& table, Mode mode,
                         RegistryOps& registry, Allocator& allocator, const Locale& locale)
{
    HeapBlock text(allocator);
    size_t length = 0;
    Result result = Preprocess(script, size, table, locale, text, &length);
    if (Failed(result))
        return result;
    HeapBlock token(allocator);
    if (!token.Resize(kMaxToken + 1))
        return kOutOfMemory;
    Tokenizer tokens(text.Bytes(), length, locale, token.Bytes());
    return Parser(registry, allocator, locale, tokens).Run(mode);
}

}  // namespace rgs
