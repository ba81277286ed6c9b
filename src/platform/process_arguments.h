#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fotivela {

// A private copy of the program's arguments (for the toolkit, which keeps reading them), so that
// the originals, which /proc/<pid>/cmdline shows to every user, can be blanked.
class ProcessArguments {
public:
    ProcessArguments(int argc, char** argv);
    ProcessArguments(const ProcessArguments&) = delete;
    ProcessArguments& operator=(const ProcessArguments&) = delete;

    int& argc() { return m_argc; }
    char** argv() { return m_pointers.data(); }

    // Overwrites with zero bytes every original argument (the program's name aside) for which
    // `secret` holds; the copy keeps them.
    void blankOriginals(const std::function<bool(std::string_view)>& secret);

private:
    int m_originalCount;
    char** m_originals;
    std::vector<std::string> m_copies;
    std::vector<char*> m_pointers;
    int m_argc;
};

} // namespace fotivela
