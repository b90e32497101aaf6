// VValueBag: the toolbox's exchange value (kind 200), a tree node with named attributes (one typed
// scalar each, in a packed attribute dictionary) and named element lists (VBagArray of child bags,
// in a packed element dictionary made on first use). Log records, saved errors and the link file
// are bags. Names keep the order of their first insertion.
//
// Special attribute names: "<>" holds the bag's character data (CDataAttributeName), "uuid" an
// identifier read by VBagLoader, "____objectunic" and "____property_name_in_jsarray" are markers
// of the JSON form that IsEmpty(true) looks through.
//
// Stream form (VValueBag_Stream.cpp): WriteToStream frames the body with the tag 'VBAG', the
// version 1 and a reserved word; the body is a flags byte (bit 0 attributes, bit 1 elements), the
// attribute dictionary, then the element key table and one bag list per name. Integers follow the
// stream's byte order.
//
// Choices made where several were possible:
// - The reader takes nothing at face value: counts and lengths are checked against the bytes
//   left, every key and every backstore entry must lie inside its block, a key stored twice is
//   refused, and element lists nest at most kMaxStreamDepth deep. Such input gives
//   VE_PACKED_DATA_INVALID ('zorn' 213). Whatever fails leaves the bag empty, never half read.
// - A wrong tag returns 'zorn' 207 and a wrong version 'zorn' 212 without raising them.
// - GetKeysFromUTF8PathNoCopy gives keys holding copies of the segments: a key borrows only a
//   whole zero-terminated text.
// - The older layout (_ReadFromStream_v1: attribute names as a VArrayString, then each value as
//   its kind and own stream form; element names the same way, then one bag list per name) is read
//   with the same care: the counts must match their names, a name stored twice, a kind that is no
//   registered single value or a value that fails to read is refused with 'zorn' 213, and the bag is
//   left empty. Nothing in the toolbox writes that layout.
// - No locks: reading can cache value objects and writing can repack (see VPackedDictionary.h).
// - Freeing a tree does not recurse: the element lists of child bags freed during a deletion wait
//   in a queue of the thread's outermost deletion, so any depth frees in bounded stack.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/values/StPackedDictionaryKey.h"
#include "toolbox/kernel/values/VBagArray.h"
#include "toolbox/kernel/values/VPackedDictionary.h"
#include "toolbox/kernel/values/VValueInfo.h"

#include <map>
#include <vector>

namespace zorn
{

class VValueBag;
class VTime;
class VUUID;

// The framed bag's version is not 1.
constexpr VError VE_STREAM_BAD_VERSION = MakeVError(kCOMPONENT_ZORN, 212);
// DumpXML: an attribute value holds a character that XML 1.0 cannot carry, even as a character
// reference (U+0000-U+0008, U+000B, U+000C, U+000E-U+001F, U+FFFE, U+FFFF, a lone surrogate).
constexpr VError VE_BAG_XML_INVALID_ATTRIBUTE_CHAR = MakeVError(kCOMPONENT_ZORN, 226);

// Wanted orders of child element names: each record names an element, then up to 10 child names
// in order (unused places null); the table ends with a record whose name is null.
struct StBagElementsOrdering
{
    const char* fElementName;
    const char* fChildNames[10];
};

// JSON text pieces shared by the JSON writers of bags and bag lists. ioLevel is the nesting level,
// raised by the Begin calls and lowered by the End calls; without inPretty only the brackets,
// commas and names are written.
void AppendJSONNewline(VString& ioOut, bool inPretty);
void AjustJSONTab(VString& ioOut, int32_t inLevel, bool inPretty);
void AppendBeginJSONObject(VString& ioOut, int32_t& ioLevel, bool inPretty);
void AppendEndJSONObject(VString& ioOut, int32_t& ioLevel, bool inPretty);
void AppendBeginJSONArray(VString& ioOut, int32_t& ioLevel, bool inPretty);
void AppendEndJSONArray(VString& ioOut, int32_t& ioLevel, bool inPretty);
// The quoted name, then " : " when pretty, else ':'.
void AppendJSONPropertyName(VString& ioOut, int32_t inLevel, bool inPretty, const VString& inName);

// Objects that save themselves into a bag (and may load from one).
class IBaggable
{
public:
    virtual ~IBaggable() = default;
    // The default calls LoadFromBag.
    virtual VError LoadFromBagWithLoader(const VValueBag& inBag, class VBagLoader* inLoader,
                                         void* inContext = nullptr);
    // The default does nothing and answers 0.
    virtual VError LoadFromBag(const VValueBag& inBag);
    // Fills the bag and names the element kind.
    virtual VError SaveToBag(VValueBag& ioBag, VString& outKind) const = 0;
};

using VValueBag_info = VValueInfo_default<VValueBag, VK_BAG>;

class VValueBag : public VValue, public IRefCountable
{
public:
    using StKey = StPackedDictionaryKey;
    using StKeyPath = std::vector<StPackedDictionaryKey>;

    // Element lists read from a stream nest at most this deep; a deeper stream is refused.
    static constexpr int32_t kMaxStreamDepth = 128;

    VValueBag() = default;
    // Deep copy.
    VValueBag(const VValueBag& inOther);
    VValueBag& operator=(const VValueBag&) = delete;
    ~VValueBag() override;

    static const VValueBag_info& Info();
    const VValueInfo* GetValueInfo() const override { return &Info(); }
    // The "<>" attribute of character data.
    static const StKey& CDataAttributeName();
    // The "uuid" attribute, null UUID when missing.
    static const StBagKeyWithDefault_VUUID& uuid();

    // Attributes. Setters replace the value of an existing name (keeping its place) or append it.
    void SetValue(const StKey& inKey, const VValueSingle& inValue);
    void SetString(const StKey& inKey, const VString& inValue);
    void SetBool(const StKey& inKey, bool inValue);
    void SetLong(const StKey& inKey, int32_t inValue);
    void SetLong8(const StKey& inKey, int64_t inValue);
    void SetReal(const StKey& inKey, double inValue);
    void SetTime(const StKey& inKey, const VTime& inValue);
    void SetVUUID(const StKey& inKey, const VUUID& inValue);
    // Replaces the value of an existing name; false (nothing stored) when absent.
    bool SetExistingValue(const StKey& inKey, const VValueSingle& inValue);
    // Getters: whether the attribute exists; a missing one leaves the output unchanged.
    bool GetValue(const StKey& inKey, VValueSingle& outValue) const;
    bool GetString(const StKey& inKey, VString& outValue) const;
    bool GetBool(const StKey& inKey, bool& outValue) const;
    bool GetLong(const StKey& inKey, int32_t& outValue) const;
    bool GetLong8(const StKey& inKey, int64_t& outValue) const;
    bool GetReal(const StKey& inKey, double& outValue) const;
    bool GetTime(const StKey& inKey, VTime& outValue) const;
    bool GetVUUID(const StKey& inKey, VUUID& outValue) const;
    bool AttributeExists(const StKey& inKey) const { return fAttributes.Contains(inKey); }
    void RemoveAttribute(const StKey& inKey) { fAttributes.Clear(inKey); }
    int32_t GetAttributesCount() const { return static_cast<int32_t>(fAttributes.GetCount()); }
    // The n-th attribute's value (1-based; made from its packed form and kept) and, when asked,
    // its name; null, the name cleared, out of range or for an unregistered kind.
    const VValueSingle* GetNthAttribute(int32_t inIndex, VString* outName) const;
    // Appends text to the "<>" attribute, making it when missing.
    void AppendToCData(const VString& inText);

    // False when any element name exists; otherwise whether there is no attribute, or with
    // inIgnoreMarkers, no attribute but the JSON-form markers.
    bool IsEmpty(bool inIgnoreMarkers = false) const;

    // Elements.
    VBagArray* GetElements(const StKey& inKey) const;
    void SetElements(const StKey& inKey, VBagArray* inList);
    int32_t GetElementNamesCount() const;
    // The list of the n-th name (1-based) and its name; null, the name cleared, out of range.
    VBagArray* GetNthElementName(int32_t inIndex, VString* outName) const;
    // Appends the bag (retained) to the name's list; nothing for a null bag or an empty key.
    void AddElement(const StKey& inKey, VValueBag* inBag);
    // Saves the object into a new bag added under the kind it names; 0 for null.
    VError AddElement(const IBaggable* inObject);
    // Makes the bag the name's only element (null removes the name); whether the bag was added.
    bool ReplaceElement(const StKey& inKey, VValueBag* inBag);
    void RemoveElements(const StKey& inKey);
    // The only child of the only element name, with that name; else null and the name cleared.
    VValueBag* GetUniqueElementAnyKind(VString& outName) const;
    // The child whose attribute equals the value, retained; null when none or several match.
    VValueBag* RetainUniqueElementWithAttribute(const StKey& inElementKey, const StKey& inAttributeKey,
                                                const VValueSingle& inValue) const;

    // Paths of element names joined by '/' (VValueBag_Paths.cpp).
    static void GetKeysFromPath(const VString& inPath, StKeyPath& outKeys);
    static void GetKeysFromUTF8PathNoCopy(const char* inPath, StKeyPath& outKeys);
    // The first bag of each named list in turn; this bag for an empty path, null when missing.
    VValueBag* GetUniqueElementByPath(const StKeyPath& inPath) const;
    VValueBag* GetUniqueElementByPath(const VString& inPath) const;
    // As GetUniqueElementByPath, making empty bags where names are missing or lists empty.
    VValueBag* GetElementByPathAndCreateIfDontExists(const StKeyPath& inPath);
    // ReplaceElement at the end of the path (a null bag removes the last name, without making the
    // path); false for an empty path.
    bool ReplaceElementByPath(const StKeyPath& inPath, VValueBag* inBag);

    // Adds other's attributes (replacing same names) and clones of its children.
    bool UnionClone(const VValueBag* inOther);
    // As UnionClone, but a name with exactly one child on both sides is overridden recursively.
    bool Override(const VValueBag* inOther);
    // Orders the child element names as the table's record for inKey says, then every child's.
    void SortElements(const StKey& inKey, const StBagElementsOrdering* inTable);
    // Empties the bag.
    void Destroy();

    // VValue
    void Clear() override { Destroy(); }
    VValue* Clone() const override { return new VValueBag(*this); }
    using VObject::DebugDump;
    CharSet DebugDump(char* ioBuffer, int& ioSize) const override;
    // The dump's text (DebugDump without its size limit and process check).
    void DumpText(VString& outText) const;

    // Stream form.
    VError WriteToStream(VStream* ioStream, int32_t inParam = 0) const override;
    VError ReadFromStream(VStream* ioStream, int32_t inParam = 0) override;
    VError WriteToStreamMinimal(VStream* ioStream, bool inWithIndex) const;
    VError ReadFromStreamMinimal(VStream* ioStream, int32_t inDepth = 1);
    // Reads the older layout (see above).
    VError _ReadFromStream_v1(VStream* ioStream, int32_t inDepth = 1);

    const VPackedDictionary_with_backstore& GetAttributesDictionary() const { return fAttributes; }

    // XML form (VValueBag_XML.cpp). DumpXML appends the bag as one element named inElementName:
    // attributes in order (the JSON markers left out) with their GetXMLString(1) text, the child
    // lists in order, then the "<>" character data. Each child starts on a line of its own; with
    // inIndent the element starts at level 0, children are indented with tabs and the end tag of
    // a bag with children goes on its own line; without it no tabs are added. A bag without
    // children and character data self-closes.
    // The output is always well-formed XML 1.0: in attribute values tab, LF and CR are written as
    // "&#x9;", "&#xA;" and "&#xD;" (so a reader's normalisation keeps them), and a character that
    // no XML 1.0 document can carry makes the call push VE_BAG_XML_INVALID_ATTRIBUTE_CHAR, append
    // nothing at all and return that error. Character data drops such characters instead.
    VError DumpXML(VString& ioOut, const VString& inElementName, bool inIndent) const;
    // inLevel -1: no indentation.
    VError _DumpXML(VString& ioOut, const VString& inElementName, int32_t inLevel) const;
    // The start tag: '<', the name, the attributes, then "/>" for an empty bag or '>'.
    VError DumpXMLAttributes(VString& ioOut, const VString& inElementName) const;
    // Appends the "<>" text: as it is when plain, else in a CDATA section (each "]]>" split over
    // two sections). True when nothing was appended.
    bool DumpXMLCData(VString& ioOut) const;
    // Appends min(inLevel, 100) tabs.
    static void DumpXMLIndentation(VString& ioOut, int32_t inLevel);
    // False for an empty text; true when the text holds a unit of [inBegin, inEnd); otherwise
    // true when it holds both a tab, LF or CR and some unit other than those and the space.
    static bool NeedsEscapeSequence(const VString& inText, const UniChar* inBegin, const UniChar* inEnd);
    // The typed value an XML attribute text shows (a new value, the caller's). Spaces around the
    // text (VIntlMgr::IsSpace; U+0020 alone without international settings) are ignored, and a
    // sign '+', '-' or U+2212 may lead. Numbers: digits, optionally '.' and digits, optionally an
    // exponent: a VReal when there is a '.' or an exponent, else a VLong below 2^31 in magnitude,
    // else a VLong8 (-2^63 included); a number out of range, or longer than 199 units, is no
    // number. "INF" and "-INF" give infinities ("+INF" is text), "NaN" a quiet NaN, "true" and
    // "false" a VBoolean (exact case). Without a sign, a text that is no number and starts with a
    // hexadecimal digit or '{' may be a UUID: 32 hexadecimal digits of either case, with '-' or
    // U+2212 between digits, in braces or not, nothing after the last digit; all zero gives the
    // null UUID. Any other text is a VString of the whole text, spaces included.
    static VValueSingle* ParseXMLValue(const VString& inText);

    // JSON form (VValueBag_JSON.cpp). Attributes become members in order ("<>" as "__CDATA", the
    // markers left out; values by their own GetJSONString(513), "null" when missing or null),
    // then each element name an array of its bags' objects. A list of one bag is an object
    // instead when the bag carries "____objectunic" or with kJSONOneBagAsObject. A bag carrying
    // "____FakeArrayElement" is written as that attribute's value. kJSONPretty adds line feeds
    // and tab indentation.
    static constexpr uint32_t kJSONPretty = 8;
    static constexpr uint32_t kJSONOneBagAsObject = 32;
    // Clears ioOut and writes the bag's object; returns 0.
    VError GetJSONString(VString& outJSONString, JSONStringOptions inOptions = 0) const override;
    void _GetJSONString(VString& ioOut, int32_t& ioLevel, bool inPretty, uint32_t inOptions) const;
    // Reading and JSON values need the JSON layer; without it they return VE_UNIMPLEMENTED.
    // FromJSONString reads an object text into the bag with the JSON importer (kJSONMarkedDatesOnly
    // asks for the fourteen-unit marked dates only); FromJSONValue reads the value's text.
    static constexpr uint32_t kJSONMarkedDatesOnly = 4096;
    VError FromJSONString(const VString& inJSONString, JSONStringOptions inOptions = 0) override;
    VError FromJSONValue(const VJSONValue& inJSONValue) override;
    // outValue becomes the object of BuildJSONObject, or undefined when there is none.
    VError GetJSONValue(VJSONValue& outJSONValue) const override;
    VError GetJSONValue(VJSONValue& outJSONValue, JSONStringOptions inOptions) const;
    // The bag's JSON text parsed into a new object (one reference); null, with the error, when
    // parsing fails, and null when the result is no object.
    VJSONObject* BuildJSONObject(VError& outError) const;

private:
    using Elements = VPackedDictionary<VBagArray>;

    Elements* _Elements();
    void _DeleteElements();
    bool _AddClonesOf(const VBagArray& inList, const StKey& inKey);
    bool _CopyAttributesOf(const VValueBag& inOther);
    void _SortElements(const StBagElementsOrdering& inRecord, const StBagElementsOrdering* inTable);
    VError _ReadAttributes(VStream* ioStream);
    VError _ReadElements(VStream* ioStream, int32_t inDepth);

    VPackedDictionary_with_backstore fAttributes;
    Elements* fElements = nullptr;
};

// Helps objects loaded from bags keep the UUIDs the bags carry, or give them new ones (then
// mapping every old identifier to its new one).
class VBagLoader : public VObject
{
public:
    explicit VBagLoader(bool inRegenerateUUIDs = false, bool inWithReferentialIntegrity = false);

    bool IsRegenerateUUIDs() const { return fRegenerateUUIDs; }
    bool IsWithReferentialIntegrity() const { return fWithReferentialIntegrity; }
    // The bag's UUID, or a new one (see the source for the rules); whether it was taken over.
    bool GetUUID(const VValueBag& inBag, VUUID& outUUID);
    // With regeneration, the new identifier of an old one; false when unknown.
    bool ResolveUUID(VUUID& ioUUID) const;

private:
    bool fRegenerateUUIDs;
    bool fWithReferentialIntegrity;
    std::map<VUUID, VUUID> fMap;
};

} // namespace zorn
