#include "cli/HelpText.h"

#ifndef QUORVEX_VERSION
#error "QUORVEX_VERSION must be defined by the build (the project version)"
#endif

namespace quorvex::cli {

std::string helpText() {
    return R"help(Usage: quorvex-tiff2pdf [OPTIONS] PATH...

Converts TIFF files to PDF files, one PDF per TIFF. Each PDF is written beside
its TIFF: "scan.tif" gives "scan.pdf", "scan.tiff" gives "scan.pdf". A folder
converts the files in it whose name contains ".tif" (any letter case), in
sorted order. An existing PDF is replaced unless -n is given.

Input and output:
  -r, --recursive         also convert the TIFF files in sub-folders of folders
  -o, --output FILE       write the PDF to FILE (only with a single input)
  -d, --output-dir DIR    write every PDF into DIR (created when missing)
  -n, --no-clobber        skip inputs whose PDF already exists
  -j, --jobs N            use N processors: up to N files at once, a lone file
                          compresses its pages on them (default: one per CPU)

Size:
      --level N           Flate level of decoded page images, 0 (none) to 12
                          (smallest, slowest); default 6, 12 with --compact
      --compact           the smallest PDF that keeps the content: JPEG pages
                          keep their JPEG data, bilevel pages are coded as
                          CCITT Group 4, Flate at level 12

Document information (defaults: the values the window writes):
      --title TEXT
      --author TEXT
      --subject TEXT
      --keywords TEXT
      --creator TEXT
      --creation-date TEXT  date text written as is (default: today)

Messages:
  -q, --quiet             print failures only
  -v, --verbose           also print the time per file and libtiff's own
                          message for a failed file
  -h, --help              print this help and exit
  -V, --version           print the version and exit

Each file gives one line, "IN -> OUT (N pages, SIZE)" or "IN: REASON", and a
summary line ends the run. On a terminal a progress line shows on stderr.

Examples:
  quorvex-tiff2pdf scan.tif                 writes scan.pdf
  quorvex-tiff2pdf -o report.pdf page.tiff  writes report.pdf
  quorvex-tiff2pdf -r -d pdfs/ scans/       every TIFF under scans/ into pdfs/
  quorvex-tiff2pdf -n -j 4 *.tif            four at a time, keep existing PDFs
  quorvex-tiff2pdf --title "Invoice 42" --creation-date "2024-05-01" inv.tif

Exit status:
  0    every file converted (or skipped with -n)
  1    at least one file failed
  2    usage error; nothing was converted
  130  interrupted by Ctrl-C (SIGINT); 143 by SIGTERM, 129 by SIGHUP
       (the PDF being written is removed: no partial file remains)
)help";
}

std::string versionText() {
    return std::string(kProgramName) + " " + QUORVEX_VERSION;
}

}  // namespace quorvex::cli
