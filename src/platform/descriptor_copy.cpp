#include "platform/descriptor_copy.h"

#include <cerrno>
#include <vector>

#include <sys/types.h>
#include <unistd.h>

namespace fotivela {

std::error_code copyDescriptorBytes(int from, int to)
{
    const auto failure = [] { return std::error_code(errno, std::generic_category()); };
    std::vector<char> buffer(std::size_t{1} << 20);
    for (off_t offset = 0;;) {
        const ssize_t count = ::pread(from, buffer.data(), buffer.size(), offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return failure();
        if (count == 0)
            return {};
        offset += count;
        for (ssize_t done = 0; done < count;) {
            const ssize_t written = ::write(to, buffer.data() + done, static_cast<std::size_t>(count - done));
            if (written < 0 && errno != EINTR)
                return failure();
            if (written > 0)
                done += written;
        }
    }
}

} // namespace fotivela
