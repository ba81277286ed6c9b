#include "platform/process_arguments.h"

#include <cstring>

namespace fotivela {

ProcessArguments::ProcessArguments(int argc, char** argv)
    : m_originalCount(argc), m_originals(argv), m_copies(argv, argv + argc), m_argc(argc)
{
    for (std::string& copy : m_copies)
        m_pointers.push_back(copy.data());
    m_pointers.push_back(nullptr);
}

void ProcessArguments::blankOriginals(const std::function<bool(std::string_view)>& secret)
{
    for (int i = 1; i < m_originalCount; ++i) {
        char* original = m_originals[i];
        if (original != nullptr && secret(original))
            // Volatile writes: the compiler must not drop stores to memory nobody reads again.
            for (volatile char* byte = original; *byte != '\0'; ++byte)
                *byte = '\0';
    }
}

} // namespace fotivela
