// The in-memory registry: keys by path, values, and the Zw calls on them.
#include <cstddef>

#include "state.h"

namespace kstub {
namespace detail {
namespace {

RegKey& keyCreate(State& s, const std::string& path)
{
    auto& k = s.keys[lower(path)];
    if (k.path.empty())
        k.path = path;
    return k;
}

std::string keyOfHandle(State& s, HANDLE h, bool* pf)
{
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    auto it = s.keyHandles.find(reinterpret_cast<uintptr_t>(h));
    *pf = it != s.keyHandles.end();
    return *pf ? it->second : std::string();
}

}  // namespace

HANDLE openKeyHandle(const std::string& path)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    HANDLE h = newHandle();
    s.keyHandles[reinterpret_cast<uintptr_t>(h)] = path;
    return h;
}

void createKeyPath(const std::string& path)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.regMtx);
    keyCreate(s, path);
}

bool keyExists(const std::string& path)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.regMtx);
    return s.keys.count(lower(path)) != 0;
}

}  // namespace detail

using namespace detail;

void Registry::setValue(const std::string& keyPath, const RegValue& v)
{
    std::lock_guard<std::mutex> lk(_s.regMtx);
    keyCreate(_s, keyPath).values[lower(v.name)] = v;
}

void Registry::setDword(const std::string& keyPath, const std::string& name, uint32_t v)
{
    setValue(keyPath, RegValue::dword(name, v));
}

void Registry::removeValue(const std::string& keyPath, const std::string& name)
{
    std::lock_guard<std::mutex> lk(_s.regMtx);
    auto it = _s.keys.find(lower(keyPath));
    if (it != _s.keys.end())
        it->second.values.erase(lower(name));
}

void Registry::createKey(const std::string& keyPath)
{
    std::lock_guard<std::mutex> lk(_s.regMtx);
    keyCreate(_s, keyPath);
}

bool Registry::hasKey(const std::string& keyPath) const
{
    std::lock_guard<std::mutex> lk(_s.regMtx);
    return _s.keys.count(lower(keyPath)) != 0;
}

std::optional<RegValue> Registry::value(const std::string& keyPath, const std::string& name) const
{
    std::lock_guard<std::mutex> lk(_s.regMtx);
    auto it = _s.keys.find(lower(keyPath));
    if (it == _s.keys.end())
        return std::nullopt;
    auto iv = it->second.values.find(lower(name));
    if (iv == it->second.values.end())
        return std::nullopt;
    return iv->second;
}

}  // namespace kstub

using namespace kstub;
using namespace kstub::detail;

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes)
{
    if (!KeyHandle || !ObjectAttributes || !ObjectAttributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    State& s = cur();
    std::string path = narrowUs(ObjectAttributes->ObjectName);
    if (ObjectAttributes->RootDirectory) {
        bool f = false;
        std::string root = keyOfHandle(s, ObjectAttributes->RootDirectory, &f);
        if (!f)
            return STATUS_INVALID_HANDLE;
        path = root + "\\" + path;
    }
    if (!keyExists(path))
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *KeyHandle = openKeyHandle(path);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    State& s = cur();
    bool f = false;
    std::string path = keyOfHandle(s, KeyHandle, &f);
    if (!f)
        return STATUS_INVALID_HANDLE;
    if (!ResultLength)
        return STATUS_INVALID_PARAMETER;
    std::string name = narrowUs(ValueName);
    RegValue v;
    {
        std::lock_guard<std::mutex> lk(s.regMtx);
        auto it = s.keys.find(lower(path));
        if (it == s.keys.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        auto iv = it->second.values.find(lower(name));
        if (iv == it->second.values.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        v = iv->second;
    }
    std::u16string wname = widen(v.name);
    ULONG cbName = ULONG(wname.size() * 2);
    ULONG cbData = ULONG(v.data.size());
    auto* pb = static_cast<UCHAR*>(KeyValueInformation);
    switch (KeyValueInformationClass) {
    case KeyValuePartialInformation: {
        const ULONG cbFixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
        *ResultLength = cbFixed + cbData;
        if (Length < cbFixed)
            return STATUS_BUFFER_TOO_SMALL;
        auto* pi = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(KeyValueInformation);
        pi->TitleIndex = 0;
        pi->Type = v.type;
        pi->DataLength = cbData;
        if (Length < cbFixed + cbData)
            return STATUS_BUFFER_OVERFLOW;
        if (cbData)
            std::memcpy(pb + cbFixed, v.data.data(), cbData);
        return STATUS_SUCCESS;
    }
    case KeyValueBasicInformation: {
        const ULONG cbFixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
        *ResultLength = cbFixed + cbName;
        if (Length < cbFixed)
            return STATUS_BUFFER_TOO_SMALL;
        auto* pi = static_cast<PKEY_VALUE_BASIC_INFORMATION>(KeyValueInformation);
        pi->TitleIndex = 0;
        pi->Type = v.type;
        pi->NameLength = cbName;
        if (Length < cbFixed + cbName)
            return STATUS_BUFFER_OVERFLOW;
        std::memcpy(pb + cbFixed, wname.data(), cbName);
        return STATUS_SUCCESS;
    }
    case KeyValueFullInformation: {
        const ULONG cbFixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
        ULONG offData = (cbFixed + cbName + 3) & ~3u;
        *ResultLength = offData + cbData;
        if (Length < cbFixed)
            return STATUS_BUFFER_TOO_SMALL;
        auto* pi = static_cast<PKEY_VALUE_FULL_INFORMATION>(KeyValueInformation);
        pi->TitleIndex = 0;
        pi->Type = v.type;
        pi->DataOffset = offData;
        pi->DataLength = cbData;
        pi->NameLength = cbName;
        if (Length < offData + cbData)
            return STATUS_BUFFER_OVERFLOW;
        std::memcpy(pb + cbFixed, wname.data(), cbName);
        if (cbData)
            std::memcpy(pb + offData, v.data.data(), cbData);
        return STATUS_SUCCESS;
    }
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data,
                       ULONG DataSize)
{
    State& s = cur();
    bool f = false;
    std::string path = keyOfHandle(s, KeyHandle, &f);
    if (!f)
        return STATUS_INVALID_HANDLE;
    const auto* pb = static_cast<const uint8_t*>(Data);
    s.pKernel->registry().setValue(
        path, RegValue::bytes(narrowUs(ValueName), Type, std::vector<uint8_t>(pb, pb + DataSize)));
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    if (s.keyHandles.erase(reinterpret_cast<uintptr_t>(Handle)) == 0)
        return STATUS_INVALID_HANDLE;
    return STATUS_SUCCESS;
}
