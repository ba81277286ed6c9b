#include "support/test_process.h"

#include <signal.h>

#include <fstream>
#include <string>

namespace fotivela::test {

bool processHasEnded(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    // "<pid> (<name>) <state> ...": the state follows the last closing parenthesis.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const std::size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && (line[close + 2] == 'Z' || line[close + 2] == 'X');
}

} // namespace fotivela::test
