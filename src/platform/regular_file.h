#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

namespace fotivela {

// A file the user named, open for reading. Opening never waits: a FIFO, a device, a
// socket or a folder at the path is refused before anything reads from it, since a read
// (or a blocking open) of a FIFO would hang the thread for ever.
class RegularFile {
public:
    enum class Refusal { missing, notPermitted, notRegular, other };
    // `refuse`: a symbolic link as the last component is refused as not regular.
    enum class Links { follow, refuse };

    // The file at `path`, links followed unless refused; none when it is not a regular file or
    // cannot be opened.
    static std::optional<RegularFile> open(const std::filesystem::path& path, Refusal* refusal = nullptr,
                                           Links links = Links::follow);
    // True when `path` opens as a regular file (opened and closed again).
    static bool isReadable(const std::filesystem::path& path);

    ~RegularFile();
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;

    int descriptor() const { return m_descriptor; }
    std::uint64_t size() const { return m_size; }
    // A name that opens this very file again, for libraries that take a name: whatever
    // is put at the user's path meanwhile, they read what was checked here.
    std::filesystem::path reopenPath() const;

    // Copies the bytes to a new file at `to` (never an existing one), with this file's
    // permissions. A half-written copy is removed.
    std::error_code copyTo(const std::filesystem::path& to) const;

private:
    RegularFile(int descriptor, std::uint64_t size) : m_descriptor(descriptor), m_size(size) {}

    int m_descriptor = -1;
    std::uint64_t m_size = 0;
};

} // namespace fotivela
