// VCommandLineParser: reads a program's argument list (entry 0 the program path) against the
// options that the application registers in the parser's registry (StOptionsInfos), hands values
// to them (VOptionBase, VArgOption), and prints errors, the help, and the option set as JSON or
// as a manual-page section. Arguments that are not options go to an optional positional
// collector.
//
// Syntax:
// - "--" ends the options: every later argument is a plain argument.
// - "--name=value"; "--name" alone, a flag or an option whose value is the next argument not yet
//   taken that does not begin with '-' (the search stops at "--"). "--help" prints the help.
// - "-xyz": each letter a short option, flags or value options drawing values as above.
// - "-ApplePersistenceIgnoreState" and "-NSDocumentRevisionsDebugMode" are skipped together with
//   the argument that follows (macOS adds them to the command lines of apps).
// - Anything else (an empty argument, "-", one not beginning with '-') is plain: it goes to the
//   collector, or is an unknown option when there is none.
// Parse answers 0 (done), 1 (an error; exactly one line was printed on standard error) or 2 (the
// help was printed on standard output; the program should stop without error). Nothing throws.
//
// Choices made where several were possible:
// - Taken values are a set of argument indexes plus a cursor that only moves forward: "--a --b x
//   y" gives a "x" and b "y"; the walk skips what was taken.
// - The unknown-option line shows a long option's name without its dashes, and any other argument
//   as it was typed; "-" alone is a plain argument, not a silent nothing.
// - The help uses the last component of the program path. Descriptions start at column 30 (on a
//   line of their own when the names reach it); a description longer than 80 characters is cut
//   into pieces of at most 80, after a space, '.', CR, LF or tab when there is one (else after 80
//   characters), each further piece on a new line indented to the column. Colours (paragraphs
//   yellow, names green) only when standard output is a terminal.
// - The JSON export keeps its fixed layout and escapes its texts (quote, backslash, control
//   characters), so that it is JSON whatever the descriptions hold. The manual page writes
//   `.BR \-x ", " \-\-long`; it drops line feeds, tabs and the other control characters from
//   texts, writes a backslash as "\e" and each '-' of a name as "\-", and puts "\&" before a
//   description that would begin with '.' or '\'' (a troff request otherwise).
// - Exports to a null output string are printed on standard output instead.
// - PrintAllArguments prints one line per argument, "[index] text".
// - Standard input as a value ("-") is off unless SetStandardInputAllowed turns it on. It reaches
//   "--name=-" and a plain "-"; the value search passes over "-" as it begins with '-'.
// - Output is UTF-8, each call's text followed by a line break, flushed at once. Arguments quoted
//   in error lines show control characters as '?' (ShownText).
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/strings/hasher_VString.h"
#include "toolbox/process/VOptionBase.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zorn
{

class VCommandLineParser;

// The registry of one parser: the options by short and by long name, the ordered list of options
// and paragraph markers (which it owns), the positional collector (owned), and the standard-input
// setting with the text read for "-" values.
class StOptionsInfos
{
public:
    explicit StOptionsInfos(const std::vector<VString>& inArguments);
    ~StOptionsInfos();
    StOptionsInfos(const StOptionsInfos&) = delete;
    StOptionsInfos& operator=(const StOptionsInfos&) = delete;

    // Takes ownership of the option and files it under its short name (when it has one) and its
    // long name (when not empty); a later option with the same name takes its place in the lookup.
    // The option's own takes-value flag becomes inTakesValue.
    void RegisterOption(bool inTakesValue, VOptionBase* inOption);
    // Takes ownership of the collector of plain arguments, deleting any earlier one; null removes it.
    void SetPositionalCollector(VOptionBase* inCollector);
    // A paragraph marker for the help, while registering.
    void AddParagraph(const VString& inText);

    // Whether the argument list holds the program path and at least one argument; applications
    // register their options only then.
    bool HasEnoughArguments() const { return fEnoughArguments; }
    // Registration stays open for the parser's life.
    bool IsRegistering() const { return fRegistering; }
    bool IsStandardInputAllowed() const { return fStandardInputAllowed; }
    void SetStandardInputAllowed(bool inAllowed) { fStandardInputAllowed = inAllowed; }

    // The help text, without its final line break (see VCommandLineParser).
    VString HelpUsage(const VString& inProgramName, bool inColours) const;
    // Deletes every option, marker and the collector, and forgets the standard input read.
    void Clear();

private:
    friend class VCommandLineParser;

    struct Entry
    {
        VOptionBase* fOption;
        bool fTakesValue;
    };

    const std::vector<VString>* fArguments;
    std::unordered_map<UniChar, Entry> fShortNames;
    std::unordered_map<VString, Entry, hasher_VString, hasher_VString> fLongNames;
    std::vector<VOptionBase*> fOptions;
    VOptionBase* fPositionalCollector = nullptr;
    bool fEnoughArguments;
    bool fRegistering = true;
    bool fStandardInputAllowed = false;
    VString fStandardInput;
    bool fStandardInputRead = false;
};

class VCommandLineParser : public VObject
{
public:
    // The messages of Parse. Those ending with '`' are followed by a name and a closing '`'.
    static constexpr const char* kUnknownOption = "error: unknown option `";
    static constexpr const char* kInvalidValue = "error: invalid value for option  `";
    static constexpr const char* kValueNotRequired = "error: a value for option `";  // + "` is not required"
    static constexpr const char* kMissingValue = "error: missing value for option "; // + the full name
    static constexpr const char* kMissingShortOption = "error: missing short option `";
    static constexpr const char* kStandardInputFailed = "error: failed to read from stdin for option `";
    // Kept with the others, never printed: the parse knows only one style of arguments.
    static constexpr const char* kMixedStyles = "error: mixing up unix-style and windows-style arguments  `";

    // The list must outlive the parser.
    explicit VCommandLineParser(const std::vector<VString>& inArguments);
    ~VCommandLineParser() override;
    VCommandLineParser(const VCommandLineParser&) = delete;
    VCommandLineParser& operator=(const VCommandLineParser&) = delete;

    StOptionsInfos& GetOptionsInfos() { return fInfos; }
    const StOptionsInfos& GetOptionsInfos() const { return fInfos; }
    void AddParagraph(const VString& inText) { fInfos.AddParagraph(inText); }

    // 0, 1 or 2 (above).
    int32_t Parse();

    // The text as UTF-8 and a line break, flushed: on standard output; on standard error (then 1).
    void Print(const VString& inText) const;
    int32_t PrintArgumentError(const VString& inText) const;
    // "[index] text" for each argument, from entry 0 with inWithProgramPath, else from entry 1.
    void PrintAllArguments(bool inWithProgramPath) const;
    // Appends the arguments and the option set as JSON, or a manual page's OPTIONS section.
    void ExportAsJSON(VString* outText) const;
    void ExportAsManPage(VString* outText) const;

    // Empty, or 2 or more of a-z, 0-9 and '-', neither first nor last.
    static bool ValidateLongOptionName(const VString& inName);
    // An ASCII letter or digit, or 0 or 32 (no short name).
    static bool ValidateShortOptionName(UniChar inName);
    // An argument as error lines show it: control characters as '?', so that a message stays one
    // line and sends the terminal no control sequence.
    static VString ShownText(const VString& inText);

    void Clear() { fInfos.Clear(); }

    // For tests: the parser's three standard streams. A null fInput stands for a standard input
    // that cannot be read; fTerminal for whether standard output is a terminal.
    struct Streams
    {
        std::optional<std::string> fInput;
        std::string fOutput;
        std::string fError;
        bool fTerminal = false;
    };
    // While set (not owned), the parser reads and writes these instead of the process's streams.
    void SetStreamsForTesting(Streams* inStreams) { fTestStreams = inStreams; }

private:
    struct ParseState;

    int32_t _ParseLongOption(ParseState& ioState, const VString& inBody);
    int32_t _ParseShortOptions(ParseState& ioState, const VString& inArgument);
    // The value of a value option: the next argument not yet taken that does not begin with '-',
    // before any "--". Taken; false when there is none.
    bool _DrawValue(ParseState& ioState, VString& outValue) const;
    int32_t _DrawAndHandValue(ParseState& ioState, VOptionBase* inOption, const VString& inName);
    // Hands the value to the option, standard input replacing "-" when allowed; 0 or 1.
    int32_t _HandValue(VOptionBase* inOption, const VString& inName, const VString& inValue);
    bool _ReadStandardInput();
    void _Write(bool inError, const VString& inText) const;
    bool _IsOutputTerminal() const;
    void _Output(VString* outText, const VString& inText) const;

    StOptionsInfos fInfos;
    Streams* fTestStreams = nullptr;
};

} // namespace zorn
