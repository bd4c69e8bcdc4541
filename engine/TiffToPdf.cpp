#include "engine/TiffToPdf.h"

#include "engine/TiffToPdfConverter.h"

int TiffToPdf(const char* inputPath, const char* outputPath, const char* creator,
              const char* creationDate, const char* author, const char* producer, const char* title,
              const char* subject, const char* keywords) {
    try {
        quorvex::TiffToPdfConverter converter;
        return converter.convertTiffToPdf(inputPath, outputPath, creator, creationDate, author,
                                          producer, title, subject, keywords);
    } catch (...) {
        return 0;
    }
}
