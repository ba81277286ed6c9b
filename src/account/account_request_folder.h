#pragma once

#include <filesystem>

namespace fotivela {

// The private folder of one account request, "fotivela-http-<UUID>" in the given parent: it holds
// the request body (a password when signing in) and the answer's headers (the cookie). It is
// created 0700 and removed however the request ends. While it exists, its owner holds a lock on
// its "owner.lock" file, which tells a live request from one a crash left behind.
class AccountRequestFolder {
public:
    explicit AccountRequestFolder(const std::filesystem::path& parent);
    ~AccountRequestFolder();
    AccountRequestFolder(const AccountRequestFolder&) = delete;
    AccountRequestFolder& operator=(const AccountRequestFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Removes the request folders in parent that no running request holds: those a crash or a kill
    // left behind. A folder without a lock file (from an older version, or one being made this very
    // moment) goes once it is a minute old.
    static void removeAbandoned(const std::filesystem::path& parent);

private:
    std::filesystem::path m_path;
    int m_lock = -1;
};

} // namespace fotivela
