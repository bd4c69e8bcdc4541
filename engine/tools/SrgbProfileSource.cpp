// Writes the C++ source of the engine's sRGB profile, made by lcms2 at build
// time: the engine then carries the profile in its binary and looks up no
// data file at run time. ICC version 2, which every PDF/A level accepts; the
// creation date is fixed so that builds and PDFs repeat.
#include <lcms2.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};

std::vector<unsigned char> srgbProfileBytes() {
    const std::unique_ptr<void, ProfileCloser> profile(cmsCreate_sRGBProfile());
    if (!profile)
        return {};
    cmsSetProfileVersion(profile.get(), 2.1);
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &size))
        return {};
    std::vector<unsigned char> bytes(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size))
        return {};
    // The header's date and time (bytes 24 to 35): 2024-01-01 00:00:00.
    const unsigned char fixedDate[12] = {0x07, 0xE8, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    std::copy(fixedDate, fixedDate + 12, bytes.begin() + 24);
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
        return 2;
    }
    const std::vector<unsigned char> bytes = srgbProfileBytes();
    std::FILE* out = std::fopen(argv[1], "w");
    if (bytes.empty() || out == nullptr)
        return 1;
    std::fprintf(out,
                 "// Made by SrgbProfileSource at build time.\n"
                 "#include \"engine/pdf/SrgbProfile.h\"\n\n"
                 "namespace quorvex {\nnamespace {\nconstexpr uint8_t kBytes[] = {");
    for (std::size_t i = 0; i < bytes.size(); ++i)
        std::fprintf(out, "%s%u,", i % 16 == 0 ? "\n    " : "", bytes[i]);
    std::fprintf(out,
                 "\n};\n}  // namespace\n\n"
                 "std::span<const uint8_t> srgbProfile() {\n    return kBytes;\n}\n\n"
                 "}  // namespace quorvex\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
