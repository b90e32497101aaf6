// Paths of element names: "a/b" names the first bag of list b inside the first bag of list a.
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"

#include <cstring>
#include <new>

namespace zorn
{

namespace
{

// Each segment before a '/' is a key (an empty one the empty key); the text after the last '/' is a
// key when it is not empty.
template <class TAddSegment>
void SplitPath(size_t inLength, const auto& inUnitAt, TAddSegment&& inAddSegment)
{
    size_t start = 0;
    for (size_t i = 0; i < inLength; ++i)
    {
        if (inUnitAt(i) == '/')
        {
            inAddSegment(start, i - start);
            start = i + 1;
        }
    }
    if (start < inLength)
    {
        inAddSegment(start, inLength - start);
    }
}

} // namespace

void VValueBag::GetKeysFromPath(const VString& inPath, StKeyPath& outKeys)
{
    outKeys.clear();
    const UniChar* units = inPath.GetCPointer();
    SplitPath(
        static_cast<size_t>(inPath.GetLength()), [units](size_t inIndex) { return units[inIndex]; },
        [&](size_t inStart, size_t inCount)
        {
            // At most 255 bytes of UTF-8 (a key's limit) and the terminating zero.
            char utf8[256];
            VString segment(units + inStart, static_cast<int32_t>(inCount));
            size_t length = segment.ToBlock(utf8, sizeof(utf8), CharSet::VTC_UTF_8, true, false);
            outKeys.emplace_back(utf8, length);
        });
}

void VValueBag::GetKeysFromUTF8PathNoCopy(const char* inPath, StKeyPath& outKeys)
{
    outKeys.clear();
    if (inPath == nullptr)
    {
        return;
    }
    SplitPath(
        std::strlen(inPath), [inPath](size_t inIndex) { return inPath[inIndex]; },
        [&](size_t inStart, size_t inCount) { outKeys.emplace_back(inPath + inStart, inCount); });
}

VValueBag* VValueBag::GetUniqueElementByPath(const StKeyPath& inPath) const
{
    const VValueBag* bag = this;
    for (const StKey& key : inPath)
    {
        VBagArray* list = bag->GetElements(key);
        if (list == nullptr || list->IsEmpty())
        {
            return nullptr;
        }
        bag = list->GetNth(1);
    }
    return const_cast<VValueBag*>(bag);
}

VValueBag* VValueBag::GetUniqueElementByPath(const VString& inPath) const
{
    StKeyPath keys;
    GetKeysFromPath(inPath, keys);
    return GetUniqueElementByPath(keys);
}

VValueBag* VValueBag::GetElementByPathAndCreateIfDontExists(const StKeyPath& inPath)
{
    VValueBag* bag = this;
    for (const StKey& key : inPath)
    {
        VBagArray* list = bag->GetElements(key);
        if (list != nullptr && !list->IsEmpty())
        {
            bag = list->GetNth(1);
            continue;
        }
        auto* child = new (std::nothrow) VValueBag();
        if (child == nullptr)
        {
            return nullptr;
        }
        bool added = bag->ReplaceElement(key, child);
        child->Release();
        if (!added)
        {
            return nullptr;
        }
        bag = child;
    }
    return bag;
}

bool VValueBag::ReplaceElementByPath(const StKeyPath& inPath, VValueBag* inBag)
{
    if (inPath.empty())
    {
        return false;
    }
    if (inPath.size() == 1)
    {
        return ReplaceElement(inPath[0], inBag);
    }
    StKeyPath parentPath(inPath.begin(), inPath.end() - 1);
    if (inBag != nullptr)
    {
        VValueBag* parent = GetElementByPathAndCreateIfDontExists(parentPath);
        return parent != nullptr && parent->ReplaceElement(inPath.back(), inBag);
    }
    if (VValueBag* parent = GetUniqueElementByPath(parentPath))
    {
        parent->RemoveElements(inPath.back());
    }
    return true;
}

} // namespace zorn
