// Parsing, look-up and in-place writing of private-profile INI text.
#include "platform/ini_document.h"

#include <cstdint>

namespace platform {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// "[name]" after leading blanks; the name is what stands before the first ']'.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

}  // namespace

int profileIntFromText(std::string_view text) {
    // A sign is not a digit: "-1" reads as 0, so a hand-edited file cannot ask for a huge
    // unsigned value through a negative number.
    std::uint32_t value = 0;  // unsigned: overflow wraps instead of being undefined
    for (char c : trim(text)) {
        if (c < '0' || c > '9') break;
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::int32_t>(value);
}

IniDocument::IniDocument() {
    m_sections.push_back(Section{});
}

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument doc;
    if (text.starts_with(kBom)) {
        doc.m_bom = true;
        text.remove_prefix(kBom.size());
    }
    const auto firstEnd = text.find('\n');
    if (firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r')
        doc.m_eol = "\r\n";

    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        // Stray extra CRs before the line end go too, so a rewrite reads back the same.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        if (auto name = sectionName(line)) {
            Section section;
            section.hasHeader = true;
            section.name = std::string(*name);
            section.header = std::string(line);
            doc.m_sectionIndex.try_emplace(lower(*name), doc.m_sections.size());
            doc.m_sections.push_back(std::move(section));
        } else {
            doc.addLine(doc.m_sections.back(), std::string(line));
        }
    }
    return doc;
}

void IniDocument::addLine(Section& section, std::string raw) {
    Line line;
    const std::string_view content = trim(raw);
    const auto eq = content.find('=');
    if (!content.empty() && content.front() != ';' && eq != std::string_view::npos) {
        const std::string_view key = trim(content.substr(0, eq));
        if (!key.empty()) {
            line.isKey = true;
            line.key = std::string(key);
            line.value = std::string(trim(content.substr(eq + 1)));
            section.keyIndex.try_emplace(lower(key), section.lines.size());
        }
    }
    line.raw = std::move(raw);
    section.lines.push_back(std::move(line));
}

std::string IniDocument::toText() const {
    std::string out;
    if (m_bom) out += kBom;
    for (const Section& section : m_sections) {
        if (section.hasHeader) {
            out += section.header;
            out += m_eol;
        }
        for (const Line& line : section.lines) {
            out += line.raw;
            out += m_eol;
        }
    }
    return out;
}

bool IniDocument::hasSection(std::string_view section) const {
    return m_sectionIndex.contains(lower(trim(section)));
}

const IniDocument::Line* IniDocument::findKey(std::string_view section,
                                              std::string_view key) const {
    const auto s = m_sectionIndex.find(lower(trim(section)));
    if (s == m_sectionIndex.end()) return nullptr;
    const Section& sec = m_sections[s->second];
    const auto k = sec.keyIndex.find(lower(trim(key)));
    return k == sec.keyIndex.end() ? nullptr : &sec.lines[k->second];
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    const Line* line = findKey(section, key);
    if (line == nullptr) return std::nullopt;
    return line->value;
}

std::vector<std::pair<std::string, std::string>> IniDocument::entries(
    std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> result;
    const auto s = m_sectionIndex.find(lower(trim(section)));
    if (s == m_sectionIndex.end()) return result;
    const Section& sec = m_sections[s->second];
    for (std::size_t i = 0; i < sec.lines.size(); ++i) {
        const Line& line = sec.lines[i];
        const auto first = sec.keyIndex.find(lower(line.key));
        if (line.isKey && first != sec.keyIndex.end() && first->second == i) {
            result.emplace_back(line.key, line.value);
        }
    }
    return result;
}

std::string IniDocument::getString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
    const Line* line = findKey(section, key);
    return line == nullptr ? std::string(defaultValue) : line->value;
}

int IniDocument::getInt(std::string_view section, std::string_view key, int defaultValue) const {
    const Line* line = findKey(section, key);
    if (line == nullptr || line->value.empty()) return defaultValue;
    return profileIntFromText(line->value);
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    if (section.empty() || hasLineBreak(section) || section.find(']') != std::string_view::npos)
        return false;
    if (key.empty() || hasLineBreak(key) || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';')
        return false;

    std::string oneLine(trim(value));
    for (char& c : oneLine) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    const std::string sectionKey = lower(section);
    auto s = m_sectionIndex.find(sectionKey);
    if (s == m_sectionIndex.end()) {
        Section fresh;
        fresh.hasHeader = true;
        fresh.name = std::string(section);
        fresh.header = "[" + fresh.name + "]";
        s = m_sectionIndex.emplace(sectionKey, m_sections.size()).first;
        m_sections.push_back(std::move(fresh));
    }
    Section& sec = m_sections[s->second];
    const std::string keyLower = lower(key);

    if (auto k = sec.keyIndex.find(keyLower); k != sec.keyIndex.end()) {
        Line& line = sec.lines[k->second];
        line.value = std::move(oneLine);
        line.raw = line.key + "=" + line.value;
        return true;
    }

    Line line;
    line.isKey = true;
    line.key = std::string(key);
    line.value = std::move(oneLine);
    line.raw = line.key + "=" + line.value;
    // After the last non-blank line, so blank lines that separate sections stay in place.
    // Only blank lines follow that point, so no key index moves.
    std::size_t at = sec.lines.size();
    while (at > 0 && trim(sec.lines[at - 1].raw).empty()) --at;
    sec.keyIndex.emplace(keyLower, at);
    sec.lines.insert(sec.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    return true;
}

bool IniDocument::setInt(std::string_view section, std::string_view key, long long value) {
    return set(section, key, std::to_string(value));
}

}  // namespace platform
