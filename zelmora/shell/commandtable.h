#pragma once
#include <QString>
#include <array>
#include <functional>

namespace zm {

// The command words the popup menus write into the hidden box txtAction, in the order the
// dispatcher tests them.
inline constexpr std::array<const char *, 12> kCommandWords = {
    "RemoveSelected", "A", "AddaFile", "menuAddaFolder", "menuExit", "menuHelp", "menuOption",
    // Options, Simultaneous Conversions: 1, 2, 4, All Cores.
    "menuJobs1", "menuJobs2", "menuJobs4", "menuJobsAll",
    // Options, Open Output Folder When Done (turns it on or off).
    "menuOpenFolderWhenDone"};
inline constexpr size_t kFirstJobsWord = 7; // the words of the jobs choices, in menu order

// Runs the handler of every word equal to `text` (exact, case-sensitive), in table order.
// `handlers` has one entry per word of kCommandWords. Returns how many ran.
inline int dispatchCommandWord(const std::function<QString()> &readText,
                               const std::array<std::function<void()>, kCommandWords.size()> &handlers)
{
    int ran = 0;
    for (size_t i = 0; i < kCommandWords.size(); ++i) {
        if (readText() == QLatin1String(kCommandWords[i]) && handlers[i]) {
            handlers[i]();
            ++ran;
        }
    }
    return ran;
}

} // namespace zm
