#include "xml/xml_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <optional>

#include "platform/code_page.h"
#include "platform/code_page_decoder.h"
#include "platform/large_buffer.h"
#include "xml/code_page_names.h"
#include "xml/encoding.h"
#include "xml/node_scanner.h"
#include "xml/utf8.h"
#include "xml/xml_doc.h"

namespace tovarek {
namespace {

struct ByteOrderMark {
    const char* bytes;
    size_t length;
    const char16_t* name;
    uint32_t flag;
    uint32_t unitSize;
};

// In the order they are tested and, when writing, chosen.
constexpr ByteOrderMark kMarks[] = {
    {"\xEF\xBB\xBF", 3, u"UTF-8", kFileUtf8Bom, 1},
    {"\xFF\xFE", 2, u"UTF-16LE", kFileUtf16LeBom, 2},
    {"\xFE\xFF", 2, u"UTF-16BE", kFileUtf16BeBom, 2},
};

void AddFileError(XmlFile& file, int err) {
    char buffer[256];
    // GNU strerror_r: the text may live in `buffer` or be a static string.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    std::u16string msg = AnsiToUtf16(text);
    size_t cut = msg.find_first_of(u"\r\n");
    if (cut != std::u16string::npos) msg.resize(cut);
    if (msg.size() > 100) msg.resize(100);
    AddReportEntry(file.m_strReport, u"file_error", std::u16string_view(msg), kReportMsg | kReportN,
                   err);
}

bool IsUtf16File(const XmlFile& file) {
    return (file.m_nFlags & (kFileUtf16LeBom | kFileUtf16BeBom)) != 0;
}

bool NeedsSwap(const XmlFile& file) {
    bool bigEndianFile = (file.m_nFlags & kFileUtf16BeBom) != 0;
    return bigEndianFile != (std::endian::native == std::endian::big);
}

void SwapUnits(char16_t* units, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        units[i] = static_cast<char16_t>((units[i] << 8) | (units[i] >> 8));
    }
}

std::u16string_view EncodingOrAnsi(const XmlFile& file) {
    return file.m_strEncoding.empty() ? std::u16string_view(u"ANSI") : file.m_strEncoding;
}

// Closes up the zero units of `data` (unit size 1 or 2) in place and returns how many remain.
// `rawIndexOfTail` receives, for the last kTail units kept, where each stood before: a cut
// after closing up must know how many raw bytes to give back.
constexpr size_t kTail = 64;
template <typename Unit>
size_t RemoveZeroUnits(Unit* data, size_t count, size_t* rawIndexOfTail) {
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (data[i] == 0) continue;
        rawIndexOfTail[kept % kTail] = i;
        data[kept++] = data[i];
    }
    return kept;
}

// The last piece of a file whose encoding is known: read in blocks and converted as it comes,
// so the file's bytes are never held whole next to their text.
bool ReadLastPieceStreaming(XmlFile& file, size_t bytes, int codePage, std::u16string& text) {
    CodePageDecoder decoder(codePage);
    constexpr size_t kBlock = 1 << 20;
    auto buffer = std::make_unique_for_overwrite<char[]>(kBlock);
    size_t ring[kTail];
    text.reserve(bytes + bytes / 100 + 1);
    PreferHugePages(text.data(), text.capacity() * sizeof(char16_t));
    size_t remaining = bytes, pending = 0, readTotal = 0, zeros = 0;
    bool lost = false;
    for (;;) {
        const size_t want = std::min(kBlock - pending, remaining);
        const size_t got = fread(buffer.get() + pending, 1, want, file.m_pFile);
        if (got != want) {
            if (ferror(file.m_pFile)) {
                int err = errno ? errno : EIO;
                text.clear();
                AddFileError(file, err);
                return false;
            }
            remaining = got;  // the file shrank since it was opened
        }
        remaining -= got;
        readTotal += got;
        size_t fresh = got;
        if (memchr(buffer.get() + pending, 0, got)) {
            fresh = RemoveZeroUnits(buffer.get() + pending, got, ring);
            zeros += got - fresh;
        }
        const size_t available = pending + fresh;
        const bool final = remaining == 0;
        const size_t used =
            decoder.Decode(std::string_view(buffer.get(), available), final, text, &lost);
        pending = available - used;
        if (final) break;
        memmove(buffer.get(), buffer.get() + used, pending);
    }
    file.m_nPosition += static_cast<uint32_t>(readTotal);
    file.m_nUnits = static_cast<uint32_t>(readTotal);
    AddReportEntry(file.m_strReport, u"read", file.m_strEncoding, kReportEncoding | kReportLength,
                   static_cast<long long>(readTotal));
    if (zeros > 0) {
        AddReportEntry(file.m_strReport, u"nulls_removed", std::nullopt, kReportCount,
                       static_cast<long long>(zeros));
    }
    AddReportEntry(file.m_strReport, u"converted_to", std::u16string_view(u"UTF-16"),
                   kReportEncoding | kReportLength, static_cast<long long>(text.size()));
    if (lost) AddReportEntry(file.m_strReport, u"conversion_loss", std::nullopt, 0);
    return true;
}

}  // namespace

XmlFile::~XmlFile() {
    if (m_pFile) fclose(m_pFile);
}

bool OpenFile(XmlFile& file, const std::string& path) {
    file.m_strReport.clear();
    if (file.m_pFile) {
        fclose(file.m_pFile);
        file.m_pFile = nullptr;
    }
    const bool append = (file.m_nFlags & kFileAppend) != 0;
    const bool write = append || (file.m_nFlags & kFileWrite) != 0;
    // Opened without blocking, so that a FIFO without a writer cannot hang the open; reading
    // then takes regular files only (a device or FIFO could block or never end).
    int mode = append  ? O_WRONLY | O_CREAT | O_APPEND
               : write ? O_WRONLY | O_CREAT | O_TRUNC
                       : O_RDONLY;
    int fd = open(path.c_str(), mode | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        AddFileError(file, errno);
        return false;
    }
    struct stat st;
    int refuse = 0;
    if (fstat(fd, &st) != 0) {
        refuse = errno;
    } else if (S_ISDIR(st.st_mode)) {
        refuse = EISDIR;
    } else if (!write && !S_ISREG(st.st_mode)) {
        refuse = EINVAL;
    } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        refuse = errno;
    }
    if (refuse == 0) {
        file.m_pFile = fdopen(fd, append ? "ab" : write ? "wb" : "rb");
        if (!file.m_pFile) refuse = errno;
    }
    if (refuse != 0) {
        close(fd);
        AddFileError(file, refuse);
        return false;
    }
    auto fail = [&file](int err) {
        AddFileError(file, err);
        fclose(file.m_pFile);
        file.m_pFile = nullptr;
        return false;
    };
    file.m_nFileSize = 0;
    file.m_nPosition = 0;
    file.m_nUnits = 0;
    bool markSeen = false;
    if (!write || append) {
        if (fseeko(file.m_pFile, 0, SEEK_END) != 0) return fail(errno);
        off_t size = ftello(file.m_pFile);
        if (size < 0) return fail(errno);
        if (static_cast<uint64_t>(size) > kMaxXmlFileBytes) return fail(EFBIG);
        if (!append && fseeko(file.m_pFile, 0, SEEK_SET) != 0) return fail(errno);
        file.m_nFileSize = static_cast<uint32_t>(size);
    }
    if (!write) {
        file.m_nUnitSize = 1;
        // An encoding bit left from an earlier document must not survive a file without a mark.
        file.m_nFlags &= ~kFileEncodingMask;
        if (file.m_nFileSize == 0) return true;
        char head[1024];
        size_t want = std::min<size_t>(sizeof head, file.m_nFileSize);
        if (fread(head, 1, want, file.m_pFile) != want) return fail(errno ? errno : EIO);
        for (const ByteOrderMark& mark : kMarks) {
            if (want >= mark.length && memcmp(head, mark.bytes, mark.length) == 0) {
                file.m_nFlags |= mark.flag;
                file.m_strEncoding = mark.name;
                file.m_nUnitSize = mark.unitSize;
                file.m_nPosition = static_cast<uint32_t>(mark.length);
                markSeen = true;
                break;
            }
        }
        if (!markSeen) {
            file.m_strEncoding = FindDeclaredEncoding(Utf8ToUtf16(std::string_view(head, want)));
            // The declaration was readable as single bytes, so the file is not in UTF-16 or
            // UTF-32 whatever it says; such a name would turn every byte pair into one character.
            int cp = CodePageFromName(file.m_strEncoding);
            if (cp == kCodePageUtf16Le || cp == kCodePageUtf16Be || cp == kCodePageUtf32 ||
                cp == 12000 || cp == 12001) {
                file.m_strEncoding = u"UTF-8";
            }
            if (file.m_strEncoding.empty() && head[0] == '<') file.m_strEncoding = u"UTF-8";
        }
        if (fseeko(file.m_pFile, file.m_nPosition, SEEK_SET) != 0) return fail(errno);
    } else {
        const ByteOrderMark* chosen = nullptr;
        for (const ByteOrderMark& mark : kMarks) {
            if (file.m_nFlags & mark.flag) {
                chosen = &mark;
                break;
            }
        }
        file.m_nUnitSize = 1;
        if (chosen) {
            file.m_strEncoding = chosen->name;
            file.m_nUnitSize = chosen->unitSize;
            // Only one encoding bit may stay, or reading it back would disagree.
            file.m_nFlags = (file.m_nFlags & ~kFileEncodingMask) | chosen->flag;
            if (!append || file.m_nFileSize == 0) {
                if (fwrite(chosen->bytes, 1, chosen->length, file.m_pFile) != chosen->length) {
                    return fail(errno ? errno : EIO);
                }
                file.m_nPosition = static_cast<uint32_t>(chosen->length);
                markSeen = true;
            }
        }
        if (append) file.m_nPosition = file.m_nFileSize;
    }
    if (markSeen) AddReportEntry(file.m_strReport, u"bom", std::nullopt, 0);
    return true;
}

bool ReadText(XmlFile& file, std::u16string& text) {
    file.m_strReport.clear();
    text.clear();
    if (!file.m_pFile || (file.m_nFlags & (kFileWrite | kFileAppend))) {
        AddFileError(file, EBADF);
        return false;
    }
    const std::u16string_view encoding = file.m_strEncoding;
    if (file.m_nPieceSize == 0) {
        AddReportEntry(file.m_strReport, u"read", encoding, kReportEncoding | kReportLength, 0);
        file.m_nUnits = 0;
        return true;
    }
    const uint32_t rest =
        file.m_nFileSize > file.m_nPosition ? file.m_nFileSize - file.m_nPosition : 0;
    bool last = file.m_nPieceSize >= rest;
    size_t bytes = last ? rest : file.m_nPieceSize;

    const bool utf16 = IsUtf16File(file);
    const size_t unitSize = utf16 ? 2 : 1;
    if (!utf16 && !file.m_strEncoding.empty()) {
        if (!IsEncodingSupported(file.m_strEncoding)) {
            AddReportEntry(file.m_strReport, u"unsupported_encoding", file.m_strEncoding,
                           kReportEncoding);
            return false;
        }
        const int cp = ResolveCodePage(file.m_strEncoding);
        if (last && cp != kCodePageUtf32) return ReadLastPieceStreaming(file, bytes, cp, text);
    }
    // UTF-16 is read straight into the text; other bytes into a buffer for conversion.
    std::unique_ptr<char[]> raw;
    char* data;
    if (utf16) {
        text.reserve(bytes / 2 + bytes / 200 + 1);
        PreferHugePages(text.data(), text.capacity() * sizeof(char16_t));
        text.resize(bytes / 2 + 1);
        data = reinterpret_cast<char*>(text.data());
    } else {
        raw = std::make_unique_for_overwrite<char[]>(bytes + 1);
        data = raw.get();
        PreferHugePages(data, bytes);
    }
    size_t got = fread(data, 1, bytes, file.m_pFile);
    if (got != bytes) {
        if (ferror(file.m_pFile)) {
            int err = errno ? errno : EIO;
            text.clear();
            AddFileError(file, err);
            return false;
        }
        // The file shrank since it was opened: what is there is all there is.
        bytes = got;
        last = true;
    }
    file.m_nPosition += static_cast<uint32_t>(bytes);
    const size_t oddBytes = bytes % unitSize;
    size_t units = bytes / unitSize;
    AddReportEntry(file.m_strReport, u"read", encoding, kReportEncoding | kReportLength,
                   static_cast<long long>(units));

    // Zero units are dropped; the raw place of the last few kept units is remembered so that a
    // cut at a character boundary gives back the right number of raw bytes.
    size_t rawIndexOfTail[kTail];
    bool zerosRemoved = false;
    size_t kept = units;
    if (utf16) {
        char16_t* u = text.data();
        if (std::find(u, u + units, char16_t(0)) != u + units) {
            kept = RemoveZeroUnits(u, units, rawIndexOfTail);
            zerosRemoved = true;
        }
    } else if (memchr(data, 0, bytes)) {
        kept = RemoveZeroUnits(data, units, rawIndexOfTail);
        zerosRemoved = true;
    }
    if (utf16 && NeedsSwap(file)) SwapUnits(text.data(), kept);
    const bool swapReported = utf16 && (file.m_nFlags & kFileUtf16BeBom);

    // The entries come in a fixed order (read, nulls_removed, endian_swap, utf8_detection,
    // truncation_error) although the zero count is final only after the trim below: the rest
    // are noted here and written in that order once it is known.
    bool detected = false;
    if (!utf16 && file.m_strEncoding.empty()) {
        bool cutOff = false;
        if (IsUtf8Bytes(data, kept, nullptr, &cutOff) || (cutOff && !last)) {
            file.m_strEncoding = u"UTF-8";
            AddReportEntry(file.m_strReport, u"read", std::u16string_view(u"UTF-8"),
                           kReportEncoding | kReportUpdate);
        }
        detected = true;
    }
    bool noBoundary = false;

    // A piece that is not the last gives back the bytes of a character the next one completes.
    size_t backBytes = 0;
    if (!last) {
        size_t carry = 0;
        const char* keptBytes = utf16 ? reinterpret_cast<const char*>(text.data()) : data;
        std::u16string_view carryName = file.m_strEncoding;
        if (utf16) {
            carryName = std::endian::native == std::endian::little ? u"UTF-16LE" : u"UTF-16BE";
        }
        noBoundary = !CarryLength(keptBytes, kept * unitSize, carryName, carry);
        size_t carryUnits = (carry + unitSize - 1) / unitSize;
        if (carryUnits > kept) carryUnits = kept;
        size_t rawUnitsBack = carryUnits;
        if (carryUnits > 0 && zerosRemoved) {
            // Zero units between and after the carried ones are read again with them.
            rawUnitsBack = units - rawIndexOfTail[(kept - carryUnits) % kTail];
        }
        backBytes = rawUnitsBack * unitSize + oddBytes;
        if (backBytes > 0) {
            if (fseeko(file.m_pFile, -static_cast<off_t>(backBytes), SEEK_CUR) != 0) {
                int err = errno;
                text.clear();
                AddFileError(file, err);
                return false;
            }
            file.m_nPosition -= static_cast<uint32_t>(backBytes);
            units -= rawUnitsBack;
            kept -= carryUnits;
            AddReportEntry(file.m_strReport, u"read", std::nullopt, kReportLength | kReportUpdate,
                           static_cast<long long>(units));
        }
    }
    if (zerosRemoved && units > kept) {
        AddReportEntry(file.m_strReport, u"nulls_removed", std::nullopt, kReportCount,
                       static_cast<long long>(units - kept));
    }
    if (swapReported) AddReportEntry(file.m_strReport, u"endian_swap", std::nullopt, 0);
    if (detected) AddReportEntry(file.m_strReport, u"utf8_detection", std::nullopt, 0);
    if (noBoundary) {
        AddReportEntry(file.m_strReport, u"truncation_error", EncodingOrAnsi(file),
                       kReportEncoding);
    }

    if (utf16) {
        text.resize(kept);
        if (last && oddBytes) {
            // Half a unit at the end of the file: kept visible rather than dropped silently.
            text.push_back(u'\uFFFD');
            AddReportEntry(file.m_strReport, u"truncation_error", file.m_strEncoding,
                           kReportEncoding);
        }
        file.m_nUnits = static_cast<uint32_t>(units);
        return true;
    }

    file.m_nUnits = static_cast<uint32_t>(units);
    if (!IsEncodingSupported(file.m_strEncoding)) {
        AddReportEntry(file.m_strReport, u"unsupported_encoding", EncodingOrAnsi(file),
                       kReportEncoding);
        return false;
    }
    const int cp = ResolveCodePage(file.m_strEncoding);
    bool lost = false;
    if (cp == kCodePageUtf32) {
        // Only a capitalised "UTF-32" name read as bytes gets here; OpenFile turns those to UTF-8.
        size_t need = static_cast<size_t>(
            ConvertEncoding(u"UTF-16", file.m_strEncoding, data, kept, nullptr, 0, &lost));
        text.resize(need);
        ConvertEncoding(u"UTF-16", file.m_strEncoding, data, kept, text.data(), need, &lost);
    } else {
        text.reserve(kept + kept / 100 + 1);
        PreferHugePages(text.data(), text.capacity() * sizeof(char16_t));
        CodePageDecoder(cp).Decode(std::string_view(data, kept), true, text, &lost);
    }
    AddReportEntry(file.m_strReport, u"converted_to", std::u16string_view(u"UTF-16"),
                   kReportEncoding | kReportLength, static_cast<long long>(text.size()));
    if (lost) AddReportEntry(file.m_strReport, u"conversion_loss", std::nullopt, 0);
    return true;
}

bool WriteText(XmlFile& file, std::u16string& text, long long length) {
    file.m_strReport.clear();
    if (!file.m_pFile || !(file.m_nFlags & (kFileWrite | kFileAppend))) {
        AddFileError(file, EBADF);
        return false;
    }
    if (file.m_strEncoding.empty()) {
        file.m_strEncoding = FindDeclaredEncoding(text);
        if (file.m_strEncoding.empty()) file.m_strEncoding = u"UTF-8";
    }
    const size_t units =
        length < 0 ? text.size() : std::min(text.size(), static_cast<size_t>(length));
    if (units == 0) {
        AddReportEntry(file.m_strReport, u"write", file.m_strEncoding,
                       kReportEncoding | kReportLength, 0);
        file.m_nUnits = 0;
        return true;
    }
    std::string bytes;
    size_t written = units;
    if (IsUtf16File(file)) {
        bytes.assign(reinterpret_cast<const char*>(text.data()), units * 2);
        if (NeedsSwap(file)) {
            SwapUnits(reinterpret_cast<char16_t*>(bytes.data()), units);
        }
        if (file.m_nFlags & kFileUtf16BeBom) {
            AddReportEntry(file.m_strReport, u"endian_swap", std::nullopt, 0);
        }
    } else {
        if (!IsEncodingSupported(file.m_strEncoding)) {
            AddReportEntry(file.m_strReport, u"unsupported_encoding", file.m_strEncoding,
                           kReportEncoding);
            return false;
        }
        bool lost = false;
        int64_t count =
            ConvertEncoding(file.m_strEncoding, u"UTF-16", text.data(), units, nullptr, 0, &lost);
        const size_t unitBytes = ResolveCodePage(file.m_strEncoding) == kCodePageUtf32 ? 4 : 1;
        bytes.resize(static_cast<size_t>(count) * unitBytes);
        ConvertEncoding(file.m_strEncoding, u"UTF-16", text.data(), units, bytes.data(),
                        static_cast<size_t>(count), nullptr);
        written = static_cast<size_t>(count);
        AddReportEntry(file.m_strReport, u"converted_from", std::u16string_view(u"UTF-16"),
                       kReportEncoding | kReportLength, static_cast<long long>(units));
        if (lost) AddReportEntry(file.m_strReport, u"conversion_loss", std::nullopt, 0);
    }
    if (bytes.size() > kMaxXmlFileBytes - file.m_nPosition) {
        AddFileError(file, EFBIG);
        return false;
    }
    if (fwrite(bytes.data(), 1, bytes.size(), file.m_pFile) != bytes.size()) {
        AddFileError(file, errno ? errno : EIO);
        return false;
    }
    file.m_nPosition += static_cast<uint32_t>(bytes.size());
    file.m_nUnits = static_cast<uint32_t>(written);
    AddReportEntry(file.m_strReport, u"write", file.m_strEncoding, kReportEncoding | kReportLength,
                   static_cast<long long>(written));
    text.erase(0, units);
    return true;
}

bool CloseFile(XmlFile& file) {
    bool ok = true;
    if (file.m_pFile) {
        if (fclose(file.m_pFile) != 0) {
            AddFileError(file, errno);
            ok = false;
        }
        file.m_pFile = nullptr;
    }
    file.m_nFlags &= ~kFileModeMask;
    return ok;
}

bool LoadFile(std::u16string& text, const std::string& path, std::u16string& report,
              uint32_t& options) {
    XmlFile file;
    file.m_nFlags = (options & ~kFileModeMask) | kFileRead;
    bool ok = OpenFile(file, path);
    report = file.m_strReport;
    text.clear();
    if (!ok) return false;
    file.m_nPieceSize = file.m_nFileSize - file.m_nPosition;
    ok = ReadText(file, text);
    if (!CloseFile(file)) ok = false;
    report += file.m_strReport;
    options = file.m_nFlags;
    if (!ok) text.clear();
    return ok;
}

namespace {

void AppendCapped(std::u16string& report, const std::u16string& entries) {
    if (report.size() < 1000) report += entries;
}

// Reads pieces until one yields text (a piece may hold only zero units) or the file ends.
bool ReadNextText(XmlFile& file, std::u16string& piece) {
    piece.clear();
    while (file.m_nPosition < file.m_nFileSize) {
        bool ok = ReadText(file, piece);
        AppendCapped(file.m_strPiecesReport, file.m_strReport);
        if (!ok) {
            file.m_bReadFailed = true;
            return false;
        }
        if (!piece.empty()) return true;
        if (file.m_nPieceSize < kMaxXmlFileBytes / 2) file.m_nPieceSize *= 2;
    }
    return false;
}

// The scanner's hook: appends the next piece to the document text.
bool MoreTextFromFile(NodeScanner& scanner, ScannedNode& node) {
    XmlDoc* doc = scanner.pDoc;
    if (!doc || !doc->m_pFile || doc->m_pFile->m_bReadFailed) return false;
    XmlFile& file = *doc->m_pFile;
    std::u16string& window = doc->m_strText;
    // A node that began early in the last piece is a long one: ask for more at once next time.
    const size_t pieceUnits = window.size() - file.m_nPieceStart;
    const long long consumed = static_cast<long long>(node.nStart) - file.m_nPieceStart;
    if (consumed < static_cast<long long>(pieceUnits / 2) &&
        file.m_nPieceSize < kMaxXmlFileBytes / 2) {
        file.m_nPieceSize *= 2;
    }
    std::u16string piece;
    if (!ReadNextText(file, piece)) return false;
    file.m_nPieceStart = static_cast<uint32_t>(window.size());
    window += piece;
    scanner.pText = window.data();
    scanner.nTextLength = static_cast<int32_t>(window.size());
    return true;
}

}  // namespace

bool ParseFilePiecewise(XmlDoc& doc, const std::string& path, std::u16string& fileReport,
                        uint32_t firstPieceBytes) {
    XmlFile file;
    file.m_nFlags = (doc.m_nOptions & ~kFileModeMask) | kFileRead;
    doc.m_nOptions &= ~(kXmlReadPiecewise | kXmlWritePiecewise);
    bool ok = OpenFile(file, path);
    fileReport = file.m_strReport;
    std::u16string first;
    if (ok) {
        file.m_nPieceSize = firstPieceBytes > 0 ? firstPieceBytes : kFirstPieceBytes;
        ReadNextText(file, first);
        ok = !file.m_bReadFailed;
    }
    if (ok) {
        doc.m_strText = std::move(first);
        doc.m_strReport.clear();
        doc.m_nOptions |= kXmlReadPiecewise;
        doc.m_pFile = &file;
        doc.m_pfnMoreText = &MoreTextFromFile;
        ParseText(doc);
        doc.m_nOptions &= ~kXmlReadPiecewise;
        doc.m_pFile = nullptr;
        doc.m_pfnMoreText = nullptr;
        ok = !file.m_bReadFailed;
        // The parse sized the document record from the first piece; it spans the whole text.
        if (ok && doc.m_index.Capacity() > 0) {
            doc.m_index[0].nLength = static_cast<int32_t>(doc.m_strText.size());
        }
    }
    AppendCapped(fileReport, file.m_strPiecesReport);
    if (file.m_pFile) {
        file.m_strReport.clear();
        if (!CloseFile(file)) ok = false;
        AppendCapped(fileReport, file.m_strReport);
    }
    if (!ok) {
        SetDocumentText(doc);
        return false;
    }
    doc.m_nOptions = (doc.m_nOptions & ~kFileEncodingMask) | (file.m_nFlags & kFileEncodingMask);
    return true;
}

bool SaveFile(std::u16string_view text, const std::string& path, std::u16string& report,
              uint32_t options) {
    XmlFile file;
    file.m_nFlags = (options & ~kFileModeMask) | kFileWrite;
    bool ok = OpenFile(file, path);
    report = file.m_strReport;
    if (!ok) return false;
    std::u16string buffer(text);
    ok = WriteText(file, buffer);
    if (!CloseFile(file)) ok = false;
    report += file.m_strReport;
    return ok;
}

}  // namespace tovarek
