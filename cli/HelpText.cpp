#include "cli/HelpText.h"

#ifndef QUORVEX_VERSION
#error "QUORVEX_VERSION must be defined by the build (the project version)"
#endif

namespace quorvex::cli {

std::string helpText() {
    return R"help(Usage: quorvex-tiff2pdf [OPTIONS] PATH...

Converts TIFF files to PDF files, one PDF per TIFF. Each PDF is written beside
its TIFF: "scan.tif" and "scan.TIFF" give "scan.pdf"; a name without that
extension gets ".pdf" added ("image" gives "image.pdf"). A folder converts
the files in it ending in ".tif" or ".tiff" (any letter case), in sorted
order; hidden files and folders (names starting with ".") are left out.
Files named on the command line are always taken. An existing PDF is
replaced (keeping its permissions, and a link stays a link) unless -n is
given. PATH "-" reads the TIFF from standard input (needs -o).

Input and output:
  -r, --recursive         also convert the TIFF files in sub-folders of folders
  -o, --output FILE       write the PDF to FILE (a single input, or --merge);
                          "-o -" writes it to standard output once complete
  -d, --output-dir DIR    write the PDFs into DIR, sub-folders mirrored with -r
                          (created when missing)
  -m, --merge             with -o: the pages of every input, in order, in one PDF
  -n, --no-clobber        skip inputs whose PDF already exists
      --files-from FILE   also convert the paths listed in FILE ("-": standard
                          input), one a line; folders in it as on the command line
  -0, --null              the list's names end in NUL, not newline (find -print0)
      --report FILE       append a JSON line per input as it finishes, then a
                          summary ("-": standard output; the lines go to stderr)
  -j, --jobs N            use N processors: up to N files at once, a lone file
                          compresses its pages on them (default: one per CPU)
      --memory SIZE       memory for page images waiting to be compressed,
                          shared by the files converted at once; a larger page
                          streams through it (default: 256M; K, M or G)
      --dpi N             resolution for pages that carry none (default: 200)
      --force-dpi N       resolution for every page, whatever the file says
      --strict            fail damaged files instead of converting what can
                          be read (no PDF is written, an old one is kept)

Size (by default JPEG pages keep their JPEG data wherever readers draw
libtiff's pixels, and bilevel pages are coded as CCITT Group 4 or 1-bit
Flate, whichever is smaller):
      --level N           Flate level of decoded page images, 0 (none) to 12
                          (smallest, slowest); default 6, 12 with --compact
      --compact           the smallest PDF that keeps the content: also JPEG
                          pages in strips whose boundary rows readers draw a
                          little differently, Flate at level 12
      --lossless-decode   write every page that is not fax data decoded: no
                          JPEG data kept, no bilevel page coded again

Output profile:
      --profile NAME      standard (default): the header names the lowest PDF
                          version the pages need, the trailer carries an /ID;
                          classic: the files the window writes, byte for byte
      --pdfa[=LEVEL]      archival PDF/A, level 2b (default) or 1b: XMP
                          metadata, an output intent, no 16-bit images in 1b
      --output-intent FILE  with --pdfa: the CMYK printer ICC profile that
                          CMYK pages without their own profile are meant for

Document information (Creator and Producer default to "quorvex-tiff2pdf
VERSION", the title to the file's name without its extension, for --merge
the output's; the others are empty):
      --title TEXT
      --author TEXT
      --subject TEXT
      --keywords TEXT
      --creator TEXT
      --creation-date DATE  ISO 8601: 2024-05-01, 2024-05-01T14:30[:SS] with
                            an optional Z or +02:00 (default: now)

Messages:
  -q, --quiet             print failures and damage only
  -v, --verbose           also print the time per file and libtiff's own
                          message for a failed file
  -h, --help              print this help and exit
  -V, --version           print the version and exit

Each file gives one line, "IN -> OUT (N pages, SIZE)" on stdout or
"IN: cannot read the TIFF: DETAIL" / "IN: cannot create the PDF: DETAIL" on
stderr; a file converted with unreadable parts adds "IN: damaged: WHAT" on
stderr (the PDF shows the rest). Control characters and bytes that are not
UTF-8 are shown as \xNN ("\x0a", "\x1b"), a backslash as "\\". A summary
line ends the run; with "-o -" all lines go to stderr. On a terminal a
progress line shows on stderr. A file named twice is converted once, the
repeat says "skipped, same file as ..."; --merge keeps every repeat.

Pages with an alpha channel are placed on white paper. CMYK files are refused.
Standard input is read into memory, at most 2 GiB.

Examples:
  quorvex-tiff2pdf scan.tif                 writes scan.pdf
  quorvex-tiff2pdf -o report.pdf page.tiff  writes report.pdf
  quorvex-tiff2pdf -r -d pdfs/ scans/       every TIFF under scans/ into pdfs/,
                                            sub-folders mirrored
  quorvex-tiff2pdf -m -o book.pdf p1.tif p2.tif p3.tif
                                            three files' pages in one PDF
  cat scan.tif | quorvex-tiff2pdf - -o - > scan.pdf
                                            from a pipe into a pipe
  quorvex-tiff2pdf -n -j 4 *.tif            four at a time, keep existing PDFs
  quorvex-tiff2pdf --title "Invoice 42" --creation-date 2024-05-01 inv.tif
  find scans -name '*.tif' -print0 | quorvex-tiff2pdf -0 --files-from - -n --report r.jsonl
                                            a list from find, resumable, reported

Exit status:
  0    every file converted whole (or skipped with -n)
  1    at least one file failed (running again will not help)
  2    usage error; nothing was converted
  3    every file converted, but some were damaged (see the "damaged" lines)
  4    a failure that may pass on another run: disk or quota full, I/O error,
       out of memory (wins over 1; with -n a rerun converts what is missing)
  130  interrupted by Ctrl-C (SIGINT); 143 by SIGTERM, 129 by SIGHUP
       (the PDF being written is removed: no partial file remains)
)help";
}

std::string versionText() {
    return std::string(kProgramName) + " " + QUORVEX_VERSION;
}

}  // namespace quorvex::cli
