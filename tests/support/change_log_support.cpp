#include "tests/support/change_log_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>

#include "tests/support/test_support.h"

namespace testsupport {

namespace {

std::wstring Wide(const std::string& bytes)
{
    if (bytes.empty())
        return L"";
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n > 0 ? n : 0, L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

// A quoted text starting at line[i] (the quote); i moves past its end.
bool Unquote(const std::string& line, size_t& i, std::wstring& text)
{
    std::string bytes;
    std::wstring out;
    for (i++; i < line.size(); i++) {
        char c = line[i];
        if (c == '"') {
            i++;
            text = out + Wide(bytes);
            return true;
        }
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (++i >= line.size())
            return false;
        char e = line[i];
        const char* plain = e == '\\' ? "\\" : e == '"' ? "\"" : e == 'r' ? "\r" : e == 'n' ? "\n" : e == 't' ? "\t" : nullptr;
        if (plain != nullptr) {
            bytes += plain;
        } else if (e == 'x' && i + 2 < line.size()) {
            bytes += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (e == 'u' && i + 4 < line.size()) {
            out += Wide(bytes);
            bytes.clear();
            out += static_cast<wchar_t>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else {
            return false;
        }
    }
    return false;
}

std::wstring Lower(std::wstring text)
{
    if (!text.empty())
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One spelling for what Wine keeps as one key in both views.
std::wstring Canonical(const std::wstring& path)
{
    std::wstring l = Lower(path);
    const std::pair<std::wstring, std::wstring> aliases[] = {
        {L"hklm\\software\\wow6432node\\classes", L"hklm\\software\\classes\\wow6432node"},
        {L"hklm\\software\\wow6432node\\microsoft\\windows\\currentversion\\app paths",
         L"hklm\\software\\microsoft\\windows\\currentversion\\app paths"},
    };
    for (const auto& alias : aliases) {
        if (StartsWith(l, alias.first))
            return alias.second + l.substr(alias.first.size());
    }
    return l;
}

// The export's spelling of a key the log names by root and path.
std::wstring ExportKeyOf(const std::string& root, const std::wstring& path)
{
    if (root == "HKCR")
        return Canonical(L"HKLM\\Software\\Classes\\" + path);
    if (root == "HKCR32")
        return Canonical(L"HKLM\\Software\\Classes\\Wow6432Node\\" + path);
    if (root == "HKLM")
        return Canonical(L"HKLM\\" + path);
    if (root == "HKLM32") {
        std::wstring rest = Lower(path);
        if (StartsWith(rest, L"software\\"))
            rest = rest.substr(9);
        return Canonical(L"HKLM\\Software\\Wow6432Node\\" + rest);
    }
    if (root == "HKCU")
        return Canonical(L"HKCU\\" + path);
    return L"";
}

// Export lines by identity: "key |" for a key, "key | name" for a value.
std::map<std::wstring, std::wstring> ById(const std::vector<std::wstring>& lines)
{
    std::map<std::wstring, std::wstring> ids;
    for (const std::wstring& line : lines) {
        size_t bar = line.find(L" |");
        if (bar == std::wstring::npos)
            continue;
        std::wstring key = Canonical(line.substr(0, bar));
        if (bar + 2 >= line.size()) {
            ids[key + L" |"] = line;
            continue;
        }
        size_t nameEnd = line.find(L" | ", bar + 3);
        std::wstring name = Lower(line.substr(bar + 3, nameEnd == std::wstring::npos ? std::wstring::npos : nameEnd - bar - 3));
        ids[key + L" | " + name] = nameEnd == std::wstring::npos ? L"" : line.substr(nameEnd + 3);
    }
    return ids;
}

}  // namespace

std::vector<LogLine> ReadChangeLog(const std::wstring& path)
{
    std::vector<LogLine> lines;
    std::string bytes;
    EXPECT_TRUE(ReadBytes(path, bytes)) << "no log at " << testing::PrintToString(path);
    static const std::regex head("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d (\\d+) ([a-z-]+)(.*)$");
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without its line feed: " << bytes.substr(start);
            break;
        }
        std::string text = bytes.substr(start, end - start);
        start = end + 1;
        std::smatch match;
        if (!std::regex_match(text, match, head)) {
            ADD_FAILURE() << "not a log line: " << text;
            continue;
        }
        LogLine line;
        line.Pid = static_cast<DWORD>(std::stoul(match[1].str()));
        line.Event = match[2].str();
        line.Raw = line.Event + match[3].str();
        std::string rest = match[3].str();
        bool good = true;
        for (size_t i = 0; i < rest.size() && good;) {
            if (rest[i] != ' ') {
                good = false;
                break;
            }
            i++;
            if (i < rest.size() && rest[i] == '"') {
                std::wstring t;
                good = Unquote(rest, i, t);
                line.Texts.push_back(t);
            } else {
                // Fixed fields come before the texts.
                good = line.Texts.empty();
                size_t space = rest.find(' ', i);
                line.Fields.push_back(rest.substr(i, space == std::string::npos ? std::string::npos : space - i));
                i = space == std::string::npos ? rest.size() : space;
            }
        }
        if (!good)
            ADD_FAILURE() << "fields after texts or a broken quote: " << text;
        lines.push_back(line);
    }
    return lines;
}

std::vector<LogLine> LinesOf(const std::vector<LogLine>& lines, const std::string& event)
{
    std::vector<LogLine> found;
    for (const LogLine& line : lines) {
        if (line.Event == event)
            found.push_back(line);
    }
    return found;
}

std::vector<std::wstring> UnexplainedRegistryChanges(const std::vector<std::wstring>& before,
                                                     const std::vector<std::wstring>& after,
                                                     const std::vector<LogLine>& log)
{
    std::map<std::wstring, std::wstring> was = ById(before);
    std::map<std::wstring, std::wstring> is = ById(after);
    std::set<std::wstring> state;
    for (const auto& entry : was)
        state.insert(entry.first);
    std::set<std::wstring> written;
    auto addKey = [&](std::wstring key) {
        while (state.insert(key + L" |").second) {
            size_t cut = key.rfind(L'\\');
            if (cut == std::wstring::npos)
                break;
            key = key.substr(0, cut);
        }
    };
    for (const LogLine& line : log) {
        if (line.Fields.empty() || line.Fields[0] != "ok" || line.Fields.size() < 2)
            continue;
        const std::string& root = line.Fields[1];
        if (line.Event == "key-create" && !line.Texts.empty()) {
            addKey(ExportKeyOf(root, line.Texts[0]));
        } else if (line.Event == "key-delete" && !line.Texts.empty()) {
            std::wstring key = ExportKeyOf(root, line.Texts[0]);
            for (auto it = state.begin(); it != state.end();) {
                if (StartsWith(*it, key + L" |") || StartsWith(*it, key + L"\\"))
                    it = state.erase(it);
                else
                    ++it;
            }
        } else if (line.Event == "value-set" && line.Texts.size() >= 2) {
            std::wstring key = ExportKeyOf(root, line.Texts[0]);
            addKey(key);
            std::wstring id = key + L" | " + Lower(line.Texts[1]);
            state.insert(id);
            written.insert(id);
        } else if (line.Event == "value-delete" && line.Texts.size() >= 2) {
            state.erase(ExportKeyOf(root, line.Texts[0]) + L" | " + Lower(line.Texts[1]));
        }
    }
    std::vector<std::wstring> unexplained;
    for (const std::wstring& id : state) {
        if (is.count(id) == 0)
            unexplained.push_back(L"logged but not so: " + id);
    }
    for (const auto& entry : is) {
        if (state.count(entry.first) == 0)
            unexplained.push_back(L"missing from the log: " + entry.first);
        else if (was.count(entry.first) != 0 && was[entry.first] != entry.second && written.count(entry.first) == 0)
            unexplained.push_back(L"missing from the log: " + entry.first + L" (changed)");
        else if (was.count(entry.first) != 0 && was[entry.first] == entry.second && written.count(entry.first) != 0)
            unexplained.push_back(L"logged, but unchanged: " + entry.first);
    }
    return unexplained;
}

std::vector<std::string> ChangeSet(const std::vector<LogLine>& log)
{
    static const std::regex change("^(key-|value-|file-|folder-|restart-|shortcut-|shell-|process).*");
    std::set<std::string> set;
    for (const LogLine& line : log) {
        if (!std::regex_match(line.Event, change) || line.Fields.empty() ||
            (line.Fields[0] != "ok" && line.Fields[0] != "preview"))
            continue;
        std::string text = line.Raw;
        size_t outcome = text.find(' ' + line.Fields[0]);
        text.erase(outcome, line.Fields[0].size() + 1);
        set.insert(text);
    }
    return std::vector<std::string>(set.begin(), set.end());
}

}  // namespace testsupport
