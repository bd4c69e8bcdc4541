#include "cli/FileIdentity.h"
#include "engine/platform/Platform.h"

#include <filesystem>
#include <system_error>

namespace quorvex::cli {
namespace fs = std::filesystem;
namespace {

// The kernel's own limit on links in one lookup (ELOOP).
constexpr int kMaxLinks = 40;

// Follows the last element's links even when they dangle, which
// weakly_canonical does not.
fs::path followFinalLinks(fs::path path) {
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            return path;
        const fs::path target = fs::read_symlink(path, error);
        if (error)
            return path;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

}  // namespace

std::string fileIdentity(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(platform::pathFromUtf8(path), error);
    if (error)
        return platform::utf8Of(platform::pathFromUtf8(path).lexically_normal());
    absolute = followFinalLinks(absolute);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return platform::utf8Of((error ? absolute : canonical).lexically_normal());
}

}  // namespace quorvex::cli
