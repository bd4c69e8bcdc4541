// The engine's plain entry: converts one TIFF file into one PDF file.
// Returns 1 when the PDF was written completely, 0 or -1 otherwise.
// outputPath and creationDate may be null; every other argument must not be.
#pragma once

int TiffToPdf(const char* inputPath, const char* outputPath, const char* creator,
              const char* creationDate, const char* author, const char* producer, const char* title,
              const char* subject, const char* keywords);
