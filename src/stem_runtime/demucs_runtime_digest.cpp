#include "stem_runtime/demucs_runtime_digest.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <memory>
#include <vector>

namespace fotivela::DemucsRuntimeDigest {

namespace {

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;

DigestContext newContext()
{
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return nullptr;
    return context;
}

std::string finish(EVP_MD_CTX* context)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context, digest.data(), &length) != 1)
        return {};
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(digits[digest[i] >> 4]);
        text.push_back(digits[digest[i] & 0x0f]);
    }
    return text;
}

} // namespace

std::string sha256Hex(std::string_view bytes)
{
    auto context = newContext();
    if (!context || EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1)
        return {};
    return finish(context.get());
}

std::optional<FileDigest> digestOfFile(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    auto context = newContext();
    std::vector<char> buffer(1 << 20);
    FileDigest result;
    bool ok = context != nullptr;
    while (ok) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count == 0)
            break;
        if (count < 0) {
            ok = errno == EINTR;
            continue;
        }
        result.size += static_cast<std::uint64_t>(count);
        ok = EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) == 1;
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    result.sha256 = finish(context.get());
    if (result.sha256.empty())
        return std::nullopt;
    return result;
}

bool isSha256Hex(std::string_view text)
{
    if (text.size() != 64)
        return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

} // namespace fotivela::DemucsRuntimeDigest
