// Reading the program's change log in the tests, and checking it against what
// the registry shows before and after a run.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// One line of a change log: time and pid checked, the event word, its fixed
// fields (outcome first for changes) and its quoted texts, unescaped.
struct LogLine {
    DWORD Pid = 0;
    std::string Event;
    std::vector<std::string> Fields;
    std::vector<std::wstring> Texts;
    std::string Raw;   // the line after time and pid
};

// The log's lines; a line that does not have the format adds a gtest failure.
std::vector<LogLine> ReadChangeLog(const std::wstring& path);
// The lines of one event word.
std::vector<LogLine> LinesOf(const std::vector<LogLine>& lines, const std::string& event);

// What ExportMachine's lines before and after a run show that replaying the
// log's ok registry lines on the lines before does not give ("missing from the
// log: ..."), what the replay gives that the machine does not show ("logged but
// not so: ..."), and values written with ok whose data did not change ("logged,
// but unchanged: ..."). Empty when the log names every change and nothing else.
std::vector<std::wstring> UnexplainedRegistryChanges(const std::vector<std::wstring>& before,
                                                     const std::vector<std::wstring>& after,
                                                     const std::vector<LogLine>& log);

// The change lines with outcome ok or preview, as "event fields texts" with the
// outcome left out, sorted, each once: a preview is compared with a real run so.
std::vector<std::string> ChangeSet(const std::vector<LogLine>& log);

}  // namespace testsupport
