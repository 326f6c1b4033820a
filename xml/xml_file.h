// XmlFile: one XML file opened for reading, writing or appending, with its encoding found from
// a byte-order mark, a declaration or the bytes themselves, and text moved between it and UTF-16.
// A stream belongs to one thread; each operation leaves its findings in m_strReport, in the form
// of a document report (AddReportEntry).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

namespace tovarek {

class XmlDoc;

// Stream flags. The encoding bits also travel in document options, so a saved document gets the
// kind of file it was loaded from; other document options (0x08) pass through unchanged.
constexpr uint32_t kFileUtf16LeBom = 0x01;
constexpr uint32_t kFileUtf8Bom = 0x04;
constexpr uint32_t kFileRead = 0x10;
constexpr uint32_t kFileWrite = 0x20;
constexpr uint32_t kFileAppend = 0x40;  // with kFileWrite
constexpr uint32_t kFileUtf16BeBom = 0x80;
constexpr uint32_t kFileModeMask = 0x70;
constexpr uint32_t kFileEncodingMask = kFileUtf16LeBom | kFileUtf8Bom | kFileUtf16BeBom;

// The size and position fields are 32-bit and document offsets are signed 32-bit: larger files
// are refused with "file_error" (EFBIG) rather than cut.
constexpr uint32_t kMaxXmlFileBytes = 0x7FFFFFFF;
// First piece of piecewise reading; doubled while the parser keeps most of its window.
constexpr uint32_t kFirstPieceBytes = 16384;

class XmlFile {
public:
    XmlFile() = default;
    ~XmlFile();  // closes a file still open, without a report
    XmlFile(const XmlFile&) = delete;
    XmlFile& operator=(const XmlFile&) = delete;

    FILE* m_pFile = nullptr;
    uint32_t m_nFlags = 0;
    uint32_t m_nPieceSize = 0;  // bytes the next ReadText asks for
    uint32_t m_nFileSize = 0;   // found at open (read and append modes)
    uint32_t m_nPosition = 0;   // bytes consumed or written, a byte-order mark included
    uint32_t m_nUnitSize = 1;   // 2 for UTF-16 files
    uint32_t m_nUnits = 0;      // units of the last piece read or written
    std::u16string m_strReport;
    std::u16string m_strEncoding;  // empty: the ANSI code page

    // Piecewise reading. The parser's window is the document text itself: nothing is dropped
    // from its front, so the index and report offsets stay offsets in the whole text.
    uint32_t m_nPieceStart = 0;        // where the text of the last piece begins in the window
    std::u16string m_strPiecesReport;  // entries of every piece read so far, capped like a report
    bool m_bReadFailed = false;
};

// Opens `path` (UTF-8 bytes) by the mode bits of m_nFlags: append, write, else read. Reading
// finds the size and the encoding (mark, declaration in the first 1,024 bytes, or UTF-8 when the
// file starts with '<') and leaves the file just after the mark. Writing writes the mark that the
// encoding bits ask for (not when appending to a non-empty file). False with "file_error".
bool OpenFile(XmlFile& file, const std::string& path);

// Reads the next m_nPieceSize bytes (at most the rest of the file) and converts them to UTF-16
// into `text`. A piece that is not the last is cut back to a character boundary and the cut
// bytes are read again next time. Zero units are dropped and counted. False when the read failed
// or the encoding has no converter here ("unsupported_encoding"); `text` is then empty.
bool ReadText(XmlFile& file, std::u16string& text);

// Writes the first `length` units of `text` (-1: all) in the file's encoding (chosen at the first
// write from the text's declaration, else UTF-8) and removes them from `text` on success.
bool WriteText(XmlFile& file, std::u16string& text, long long length = -1);

// Closes the file ("file_error" when that fails) and clears the mode bits.
bool CloseFile(XmlFile& file);

// Reads the whole file at `path` into `text`. `options` (document options) go in as the stream's
// flags and come back with the file's encoding bits; `report` receives every step. The caller
// parses the text. False (text empty) when the file could not be opened or read.
bool LoadFile(std::u16string& text, const std::string& path, std::u16string& report,
              uint32_t& options);

// Parses the file at `path` into `doc` while reading it piece by piece, first `firstPieceBytes`
// and more each time the scanner reaches the end of what it has. `doc` gets the same text, index
// and diagnostics as LoadFile followed by ParseText, and its options the file's encoding bits;
// afterwards it is an ordinary document. `fileReport` receives the file entries of the open and
// of every piece. False (document emptied) when the file could not be opened or read; whether
// the text is well-formed is IsWellFormed(doc).
bool ParseFilePiecewise(XmlDoc& doc, const std::string& path, std::u16string& fileReport,
                        uint32_t firstPieceBytes = kFirstPieceBytes);

// Writes `text` as the whole file at `path`, with the mark that `options` ask for and in the
// encoding its declaration names (else UTF-8).
bool SaveFile(std::u16string_view text, const std::string& path, std::u16string& report,
              uint32_t options);

}  // namespace tovarek
