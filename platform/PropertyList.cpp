#include "platform/PropertyList.h"

#include <charconv>
#include <cstring>
#include <unordered_map>

namespace zorn::platform
{

namespace
{

constexpr int kMaxDepth = 256;

bool IsXMLSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

bool IsNameChar(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool EqualsIgnoringASCIICase(std::string_view inA, std::string_view inB)
{
    if (inA.size() != inB.size())
    {
        return false;
    }
    for (size_t i = 0; i < inA.size(); ++i)
    {
        char a = inA[i] >= 'A' && inA[i] <= 'Z' ? static_cast<char>(inA[i] - 'A' + 'a') : inA[i];
        char b = inB[i] >= 'A' && inB[i] <= 'Z' ? static_cast<char>(inB[i] - 'A' + 'a') : inB[i];
        if (a != b)
        {
            return false;
        }
    }
    return true;
}

std::string_view TrimXMLSpace(std::string_view inText)
{
    while (!inText.empty() && IsXMLSpace(inText.front()))
    {
        inText.remove_prefix(1);
    }
    while (!inText.empty() && IsXMLSpace(inText.back()))
    {
        inText.remove_suffix(1);
    }
    return inText;
}

// Whether the bytes are well-formed UTF-8 holding only characters XML allows: no C0 control other
// than tab, LF and CR, no surrogate, no overlong form, nothing above U+10FFFF.
bool IsAcceptableUTF8(std::string_view inText)
{
    const auto* p = reinterpret_cast<const unsigned char*>(inText.data());
    const auto* end = p + inText.size();
    while (p < end)
    {
        unsigned char c = *p;
        if (c < 0x80)
        {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            {
                return false;
            }
            ++p;
            continue;
        }
        int extra;
        uint32_t code;
        uint32_t least;
        if ((c & 0xE0) == 0xC0)
        {
            extra = 1;
            code = c & 0x1F;
            least = 0x80;
        }
        else if ((c & 0xF0) == 0xE0)
        {
            extra = 2;
            code = c & 0x0F;
            least = 0x800;
        }
        else if ((c & 0xF8) == 0xF0)
        {
            extra = 3;
            code = c & 0x07;
            least = 0x10000;
        }
        else
        {
            return false;
        }
        if (end - p <= extra)
        {
            return false;
        }
        for (int i = 1; i <= extra; ++i)
        {
            if ((p[i] & 0xC0) != 0x80)
            {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        {
            return false;
        }
        p += extra + 1;
    }
    return true;
}

void AppendUTF8(std::string& ioText, uint32_t inCode)
{
    if (inCode < 0x80)
    {
        ioText += static_cast<char>(inCode);
    }
    else if (inCode < 0x800)
    {
        ioText += static_cast<char>(0xC0 | (inCode >> 6));
        ioText += static_cast<char>(0x80 | (inCode & 0x3F));
    }
    else if (inCode < 0x10000)
    {
        ioText += static_cast<char>(0xE0 | (inCode >> 12));
        ioText += static_cast<char>(0x80 | ((inCode >> 6) & 0x3F));
        ioText += static_cast<char>(0x80 | (inCode & 0x3F));
    }
    else
    {
        ioText += static_cast<char>(0xF0 | (inCode >> 18));
        ioText += static_cast<char>(0x80 | ((inCode >> 12) & 0x3F));
        ioText += static_cast<char>(0x80 | ((inCode >> 6) & 0x3F));
        ioText += static_cast<char>(0x80 | (inCode & 0x3F));
    }
}

class Parser
{
public:
    explicit Parser(std::string_view inXML) : fText(inXML) {}

    bool ParseDocument(PlistValue& outRoot)
    {
        if (fText.size() > kMaxPropertyListSize)
        {
            return _Fail("input too large");
        }
        if (fText.substr(0, 3) == "\xEF\xBB\xBF")
        {
            fPos = 3;
        }
        if (!IsAcceptableUTF8(fText.substr(fPos)))
        {
            return _Fail("invalid UTF-8 or control character");
        }
        if (_Starts("<?xml") && fPos + 5 < fText.size() && IsXMLSpace(fText[fPos + 5]))
        {
            if (!_ParseXMLDeclaration())
            {
                return false;
            }
        }
        if (!_SkipMisc(true))
        {
            return false;
        }
        std::string name;
        bool empty = false;
        if (!_ParseStartTag(name, empty))
        {
            return false;
        }
        if (name != "plist")
        {
            return _Fail("root element is not <plist>");
        }
        if (empty)
        {
            return _Fail("empty <plist>");
        }
        if (!_SkipMisc(false))
        {
            return false;
        }
        PlistValue root;
        if (!_ParseValue(root, 1))
        {
            return false;
        }
        if (!_SkipMisc(false) || !_ParseEndTag("plist") || !_SkipMisc(false))
        {
            return false;
        }
        if (fPos != fText.size())
        {
            return _Fail("content after the root element");
        }
        outRoot = std::move(root);
        return true;
    }

    const std::string& GetError() const { return fError; }

private:
    bool _Fail(const char* inReason)
    {
        if (fError.empty())
        {
            fError = inReason;
            fError += " at byte ";
            fError += std::to_string(fPos);
        }
        return false;
    }

    bool _AtEnd() const { return fPos >= fText.size(); }
    bool _Starts(std::string_view inPrefix) const { return fText.substr(fPos, inPrefix.size()) == inPrefix; }

    void _SkipSpace()
    {
        while (!_AtEnd() && IsXMLSpace(fText[fPos]))
        {
            ++fPos;
        }
    }

    // Moves past the next occurrence of inTerminator; false when there is none.
    bool _SkipPast(std::string_view inTerminator)
    {
        size_t found = fText.find(inTerminator, fPos);
        if (found == std::string_view::npos)
        {
            fPos = fText.size();
            return false;
        }
        fPos = found + inTerminator.size();
        return true;
    }

    bool _ParseName(std::string& outName)
    {
        if (_AtEnd() || !IsNameStart(fText[fPos]))
        {
            return _Fail("expected a name");
        }
        size_t start = fPos;
        while (!_AtEnd() && IsNameChar(fText[fPos]))
        {
            ++fPos;
        }
        outName.assign(fText.substr(start, fPos - start));
        return true;
    }

    // name = "value" or name = 'value'; the value is returned raw (entities are not expanded).
    bool _ParseAttribute(std::string& outName, std::string_view& outValue)
    {
        if (!_ParseName(outName))
        {
            return false;
        }
        _SkipSpace();
        if (_AtEnd() || fText[fPos] != '=')
        {
            return _Fail("expected '=' after an attribute name");
        }
        ++fPos;
        _SkipSpace();
        if (_AtEnd() || (fText[fPos] != '"' && fText[fPos] != '\''))
        {
            return _Fail("expected a quoted attribute value");
        }
        char quote = fText[fPos++];
        size_t close = fText.find(quote, fPos);
        if (close == std::string_view::npos)
        {
            return _Fail("unterminated attribute value");
        }
        outValue = fText.substr(fPos, close - fPos);
        if (outValue.find('<') != std::string_view::npos)
        {
            return _Fail("'<' in an attribute value");
        }
        fPos = close + 1;
        return true;
    }

    bool _ParseXMLDeclaration()
    {
        fPos += 5; // "<?xml"
        for (;;)
        {
            bool hadSpace = !_AtEnd() && IsXMLSpace(fText[fPos]);
            _SkipSpace();
            if (_Starts("?>"))
            {
                fPos += 2;
                return true;
            }
            if (!hadSpace)
            {
                return _Fail("malformed XML declaration");
            }
            std::string name;
            std::string_view value;
            if (!_ParseAttribute(name, value))
            {
                return false;
            }
            if (name == "encoding" && !EqualsIgnoringASCIICase(value, "UTF-8"))
            {
                return _Fail("encoding other than UTF-8");
            }
        }
    }

    // Skips white space, comments and processing instructions; with inProlog also one DOCTYPE.
    bool _SkipMisc(bool inProlog)
    {
        bool sawDoctype = false;
        for (;;)
        {
            _SkipSpace();
            if (_Starts("<!--"))
            {
                if (!_SkipPast("-->"))
                {
                    return _Fail("unterminated comment");
                }
            }
            else if (_Starts("<?"))
            {
                if (!_SkipPast("?>"))
                {
                    return _Fail("unterminated processing instruction");
                }
            }
            else if (inProlog && !sawDoctype && _Starts("<!DOCTYPE"))
            {
                if (!_SkipDoctype())
                {
                    return false;
                }
                sawDoctype = true;
            }
            else
            {
                return true;
            }
        }
    }

    bool _SkipDoctype()
    {
        fPos += 9; // "<!DOCTYPE"
        char quote = 0;
        while (!_AtEnd())
        {
            char c = fText[fPos++];
            if (quote != 0)
            {
                if (c == quote)
                {
                    quote = 0;
                }
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '[')
            {
                return _Fail("DOCTYPE with an internal subset");
            }
            else if (c == '>')
            {
                return true;
            }
        }
        return _Fail("unterminated DOCTYPE");
    }

    // <name attributes> or <name attributes/>.
    bool _ParseStartTag(std::string& outName, bool& outEmpty)
    {
        if (_AtEnd() || fText[fPos] != '<')
        {
            return _Fail(_AtEnd() ? "unexpected end of input" : "expected an element");
        }
        ++fPos;
        if (!_ParseName(outName))
        {
            return false;
        }
        for (;;)
        {
            bool hadSpace = !_AtEnd() && IsXMLSpace(fText[fPos]);
            _SkipSpace();
            if (_Starts("/>"))
            {
                fPos += 2;
                outEmpty = true;
                return true;
            }
            if (_Starts(">"))
            {
                fPos += 1;
                outEmpty = false;
                return true;
            }
            if (!hadSpace || _AtEnd())
            {
                return _Fail("malformed start tag");
            }
            std::string attribute;
            std::string_view value;
            if (!_ParseAttribute(attribute, value))
            {
                return false;
            }
        }
    }

    bool _ParseEndTag(std::string_view inName)
    {
        if (!_Starts("</"))
        {
            return _Fail("expected an end tag");
        }
        fPos += 2;
        std::string name;
        if (!_ParseName(name))
        {
            return false;
        }
        if (name != inName)
        {
            return _Fail("mismatched end tag");
        }
        _SkipSpace();
        if (!_Starts(">"))
        {
            return _Fail("malformed end tag");
        }
        ++fPos;
        return true;
    }

    bool _ParseReference(std::string& ioText)
    {
        size_t semicolon = fText.find(';', fPos);
        if (semicolon == std::string_view::npos || semicolon - fPos > 12)
        {
            return _Fail("malformed entity reference");
        }
        std::string_view entity = fText.substr(fPos + 1, semicolon - fPos - 1);
        if (entity == "lt")
        {
            ioText += '<';
        }
        else if (entity == "gt")
        {
            ioText += '>';
        }
        else if (entity == "amp")
        {
            ioText += '&';
        }
        else if (entity == "quot")
        {
            ioText += '"';
        }
        else if (entity == "apos")
        {
            ioText += '\'';
        }
        else if (entity.size() >= 2 && entity[0] == '#')
        {
            bool hex = entity[1] == 'x';
            std::string_view digits = entity.substr(hex ? 2 : 1);
            uint32_t code = 0;
            auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || code == 0 ||
                code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            {
                return _Fail("invalid character reference");
            }
            AppendUTF8(ioText, code);
        }
        else
        {
            return _Fail("unknown entity");
        }
        fPos = semicolon + 1;
        return true;
    }

    // The character data of a text-only element up to and including its end tag.
    bool _ParseText(std::string_view inName, std::string& outText)
    {
        outText.clear();
        for (;;)
        {
            if (_AtEnd())
            {
                return _Fail("unexpected end of input in text");
            }
            char c = fText[fPos];
            if (c == '&')
            {
                if (!_ParseReference(outText))
                {
                    return false;
                }
            }
            else if (c != '<')
            {
                outText += c;
                ++fPos;
            }
            else if (_Starts("<![CDATA["))
            {
                size_t start = fPos + 9;
                size_t close = fText.find("]]>", start);
                if (close == std::string_view::npos)
                {
                    return _Fail("unterminated CDATA section");
                }
                outText.append(fText.substr(start, close - start));
                fPos = close + 3;
            }
            else if (_Starts("<!--"))
            {
                if (!_SkipPast("-->"))
                {
                    return _Fail("unterminated comment");
                }
            }
            else if (_Starts("</"))
            {
                return _ParseEndTag(inName);
            }
            else
            {
                return _Fail("element inside a text element");
            }
        }
    }

    bool _ParseInteger(std::string_view inText, PlistValue& outValue)
    {
        std::string_view digits = TrimXMLSpace(inText);
        if (!digits.empty() && digits.front() == '+')
        {
            digits.remove_prefix(1);
        }
        int64_t number = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        {
            return _Fail("invalid <integer>");
        }
        outValue = PlistValue::MakeInteger(number);
        return true;
    }

    bool _ParseReal(std::string_view inText, PlistValue& outValue)
    {
        std::string_view digits = TrimXMLSpace(inText);
        if (!digits.empty() && digits.front() == '+')
        {
            digits.remove_prefix(1);
        }
        double number = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        {
            return _Fail("invalid <real>");
        }
        outValue = PlistValue::MakeReal(number);
        return true;
    }

    bool _ParseData(std::string_view inText, PlistValue& outValue)
    {
        std::string base64;
        for (char c : inText)
        {
            if (IsXMLSpace(c))
            {
                continue;
            }
            bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                         c == '+' || c == '/' || c == '=';
            if (!valid)
            {
                return _Fail("invalid character in <data>");
            }
            base64 += c;
        }
        outValue = PlistValue::MakeData(std::move(base64));
        return true;
    }

    // A <key>, then its value, repeated until </dict>.
    bool _ParseDictEntries(PlistValue::Dict& outEntries, int inDepth)
    {
        // Position of each key in outEntries, so that a repeated key replaces its value.
        std::unordered_map<std::string, size_t> positions;
        for (;;)
        {
            if (!_SkipMisc(false))
            {
                return false;
            }
            if (_Starts("</"))
            {
                return _ParseEndTag("dict");
            }
            std::string name;
            bool empty = false;
            if (!_ParseStartTag(name, empty))
            {
                return false;
            }
            if (name != "key")
            {
                return _Fail("expected <key> in <dict>");
            }
            std::string key;
            if (!empty && !_ParseText("key", key))
            {
                return false;
            }
            if (!_SkipMisc(false))
            {
                return false;
            }
            if (_Starts("</"))
            {
                return _Fail("<key> without a value");
            }
            PlistValue value;
            if (!_ParseValue(value, inDepth + 1))
            {
                return false;
            }
            auto [position, added] = positions.try_emplace(key, outEntries.size());
            if (added)
            {
                outEntries.emplace_back(std::move(key), std::move(value));
            }
            else
            {
                outEntries[position->second].second = std::move(value);
            }
        }
    }

    bool _ParseArrayItems(PlistValue::Array& outItems, int inDepth)
    {
        for (;;)
        {
            if (!_SkipMisc(false))
            {
                return false;
            }
            if (_Starts("</"))
            {
                return _ParseEndTag("array");
            }
            PlistValue item;
            if (!_ParseValue(item, inDepth + 1))
            {
                return false;
            }
            outItems.push_back(std::move(item));
        }
    }

    bool _ParseValue(PlistValue& outValue, int inDepth)
    {
        if (inDepth > kMaxDepth)
        {
            return _Fail("nesting too deep");
        }
        std::string name;
        bool empty = false;
        if (!_ParseStartTag(name, empty))
        {
            return false;
        }
        if (name == "dict")
        {
            PlistValue::Dict entries;
            if (!empty && !_ParseDictEntries(entries, inDepth))
            {
                return false;
            }
            outValue = PlistValue::MakeDict(std::move(entries));
            return true;
        }
        if (name == "array")
        {
            PlistValue::Array items;
            if (!empty && !_ParseArrayItems(items, inDepth))
            {
                return false;
            }
            outValue = PlistValue::MakeArray(std::move(items));
            return true;
        }
        if (name == "true" || name == "false")
        {
            if (!empty)
            {
                std::string text;
                if (!_ParseText(name, text))
                {
                    return false;
                }
                if (!TrimXMLSpace(text).empty())
                {
                    return _Fail("text inside <true/> or <false/>");
                }
            }
            outValue = PlistValue::MakeBoolean(name == "true");
            return true;
        }
        if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data")
        {
            return _Fail(name == "key" ? "<key> outside a <dict>" : "unknown element");
        }
        std::string text;
        if (!empty && !_ParseText(name, text))
        {
            return false;
        }
        if (name == "string")
        {
            outValue = PlistValue::MakeString(std::move(text));
            return true;
        }
        if (name == "integer")
        {
            return _ParseInteger(text, outValue);
        }
        if (name == "real")
        {
            return _ParseReal(text, outValue);
        }
        if (name == "data")
        {
            return _ParseData(text, outValue);
        }
        outValue = PlistValue::MakeDate(std::string(TrimXMLSpace(text)));
        return true;
    }

    std::string_view fText;
    size_t fPos = 0;
    std::string fError;
};

const std::string& EmptyText()
{
    static const std::string sEmpty;
    return sEmpty;
}

} // namespace

const std::string& PlistValue::GetText() const
{
    const std::string* text = std::get_if<std::string>(&fStorage);
    return text != nullptr ? *text : EmptyText();
}

int64_t PlistValue::GetInteger() const
{
    if (const int64_t* number = std::get_if<int64_t>(&fStorage))
    {
        return *number;
    }
    if (const double* real = std::get_if<double>(&fStorage))
    {
        // Only values that fit: converting anything else would be undefined.
        if (*real > -9.2233720368547758e18 && *real < 9.2233720368547758e18)
        {
            return static_cast<int64_t>(*real);
        }
    }
    return 0;
}

double PlistValue::GetReal() const
{
    if (const double* real = std::get_if<double>(&fStorage))
    {
        return *real;
    }
    if (const int64_t* number = std::get_if<int64_t>(&fStorage))
    {
        return static_cast<double>(*number);
    }
    return 0;
}

bool PlistValue::GetBoolean() const
{
    const bool* value = std::get_if<bool>(&fStorage);
    return value != nullptr && *value;
}

const PlistValue::Array& PlistValue::GetArray() const
{
    static const Array sEmpty;
    const Array* items = std::get_if<Array>(&fStorage);
    return items != nullptr ? *items : sEmpty;
}

const PlistValue::Dict& PlistValue::GetDict() const
{
    static const Dict sEmpty;
    const Dict* entries = std::get_if<Dict>(&fStorage);
    return entries != nullptr ? *entries : sEmpty;
}

const PlistValue* PlistValue::Find(std::string_view inKey) const
{
    for (const auto& [key, value] : GetDict())
    {
        if (key == inKey)
        {
            return &value;
        }
    }
    return nullptr;
}

bool ParsePropertyList(std::string_view inXML, PlistValue& outRoot, std::string* outError)
{
    Parser parser(inXML);
    if (parser.ParseDocument(outRoot))
    {
        return true;
    }
    if (outError != nullptr)
    {
        *outError = parser.GetError();
    }
    return false;
}

} // namespace zorn::platform
