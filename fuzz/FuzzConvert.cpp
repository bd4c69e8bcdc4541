// libFuzzer target: runs a whole conversion on the fuzzer's bytes as a TIFF
// file and checks what every conversion must leave behind, whatever it is fed:
// after a failure nothing but the input; after a success the input and a PDF
// that starts with the header and ends with the end-of-file marker.
//
// convertTiff takes paths, so the bytes go to a file in a private folder of
// this process (in /dev/shm when it exists, to keep the disk out of the loop).

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "engine/Conversion.h"

namespace {

std::string workFolder;
std::string inputPath;
std::string outputPath;

[[noreturn]] void violated(const char* what, const std::string& detail) {
    std::fprintf(stderr, "quorvex-fuzz-convert: invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

std::set<std::string> namesInWorkFolder() {
    std::set<std::string> names;
    DIR* folder = ::opendir(workFolder.c_str());
    if (folder == nullptr)
        violated("cannot list the work folder", workFolder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    ::closedir(folder);
    return names;
}

void removeWorkFolder() {
    for (const std::string& name : namesInWorkFolder()) {
        ::unlink((workFolder + "/" + name).c_str());
    }
    ::rmdir(workFolder.c_str());
}

std::string pickTemporaryRoot() {
    if (::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool writeInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(inputPath.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

std::string readOutput() {
    std::string bytes;
    FILE* file = std::fopen(outputPath.c_str(), "rb");
    if (file == nullptr)
        violated("the PDF reported as written cannot be opened", outputPath);
    char buffer[1 << 16];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, read);
    std::fclose(file);
    return bytes;
}

void checkSuccess(const quorvex::ConversionOutcome& outcome) {
    const std::set<std::string> expected = {"in.tif", "out.pdf"};
    if (namesInWorkFolder() != expected)
        violated("unexpected files after a success", "");
    const std::string pdf = readOutput();
    constexpr std::string_view header = "%PDF-1.2";
    constexpr std::string_view trailer = "%%EOF\r";
    if (pdf.compare(0, header.size(), header) != 0)
        violated("PDF header missing", "");
    if (pdf.size() < trailer.size() ||
        pdf.compare(pdf.size() - trailer.size(), trailer.size(), trailer) != 0) {
        violated("PDF does not end with %%EOF", "");
    }
    if (outcome.bytesWritten != pdf.size())
        violated("bytesWritten differs from the file", "");
}

void checkFailure(const quorvex::ConversionOutcome& outcome) {
    const std::set<std::string> names = namesInWorkFolder();
    if (names.size() != 1 || names.count("in.tif") != 1) {
        std::string listing;
        for (const std::string& name : names)
            listing += name + " ";
        violated("files left behind after a failure:", listing);
    }
    if (outcome.message.empty())
        violated("failure without a message", "");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = pickTemporaryRoot() + "/quorvex-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("quorvex-fuzz-convert: mkdtemp");
        std::exit(1);
    }
    workFolder = pattern;
    inputPath = workFolder + "/in.tif";
    outputPath = workFolder + "/out.pdf";
    std::atexit(removeWorkFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!writeInput(data, size))
        violated("cannot write the input", inputPath);

    quorvex::ConversionRequest request;
    request.inputPath = inputPath;
    request.outputPath = outputPath;
    request.info.creationDate = "D:20240101000000";
    const quorvex::ConversionOutcome outcome = quorvex::convertTiff(request);

    if (outcome.ok()) {
        checkSuccess(outcome);
    } else {
        checkFailure(outcome);
    }
    ::unlink(outputPath.c_str());
    ::unlink(inputPath.c_str());
    return 0;
}
