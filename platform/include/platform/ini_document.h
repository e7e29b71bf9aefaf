// An INI text held in memory with the private-profile lookup and write rules.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

// The integer a profile value stands for: the leading decimal digits after leading blanks,
// accumulated modulo 2^32 and returned as a two's-complement 32-bit value ("4294967295" is
// -1). A value that does not start with a digit ("abc", "-1", "+3") reads as 0.
int profileIntFromText(std::string_view text);

// Profile rules implemented here:
// - Section and key names match case-insensitively (ASCII) after trimming blanks; the first
//   matching section and, inside it, the first matching key count. Lines before any
//   section, comment lines (';' first), and lines without '=' are kept but never match.
// - A value is the text after the first '=' with surrounding blanks removed; quotes are kept.
// - A write replaces the value of the matching key in place, else inserts "key=value" after
//   the last non-blank line of the section, else appends "[section]" and the key at the end.
// - Line ends: LF or CRLF, detected from the first line and used for every line written;
//   a UTF-8 byte-order mark is kept. Bytes are otherwise kept as they are (text is UTF-8).
class IniDocument {
public:
    IniDocument();
    static IniDocument parse(std::string_view text);
    std::string toText() const;

    bool hasSection(std::string_view section) const;
    // The value, or nothing when the section or key is missing.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // The keys of the first matching section with their values, in file order (a repeated
    // key once, its first value, as get() reads it); empty when the section is missing.
    std::vector<std::pair<std::string, std::string>> entries(std::string_view section) const;
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;
    // Missing key or empty value: the default; otherwise profileIntFromText.
    int getInt(std::string_view section, std::string_view key, int defaultValue) const;

    // False (and nothing changes) for names that cannot stand in a profile file: empty, with
    // a line break, a key with '=' or starting with '[' or ';', a section with ']'. Line
    // breaks inside a value become blanks, since a value is one line.
    bool set(std::string_view section, std::string_view key, std::string_view value);
    bool setInt(std::string_view section, std::string_view key, long long value);

private:
    struct Line {
        std::string raw;  // the line as written, without its line end
        bool isKey = false;
        std::string key;  // trimmed, original case
        std::string value;
    };
    struct Section {
        bool hasHeader = false;  // false only for the lines before the first section
        std::string name;
        std::string header;
        std::vector<Line> lines;
        std::unordered_map<std::string, std::size_t> keyIndex;  // lower-case key -> first line
    };

    const Line* findKey(std::string_view section, std::string_view key) const;
    void addLine(Section& section, std::string raw);

    std::vector<Section> m_sections;
    std::unordered_map<std::string, std::size_t> m_sectionIndex;  // lower-case name -> first
    std::string m_eol = "\n";
    bool m_bom = false;
};

}  // namespace platform
