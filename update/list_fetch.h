// Fetching the daily list (and its signature) over HTTP or HTTPS with libcurl, and turning the
// bytes received into the code page 936 text that the import is handed. The functions keep no state
// of their own and are safe on any thread; a ListTransfer belongs to the one thread that runs it.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

namespace tovarek {

// The list URL compiled into the program (a build setting; nothing at run time changes it).
extern const char* const kListUrl;

// A list larger than this is refused whole: far above any real list (100,000 records take about
// 13 MB), low enough that a server sending without end cannot exhaust memory. A larger announced
// Content-Length is refused before the body is read.
constexpr size_t kMaxListBytes = 64u << 20;

// Bounds of one transfer, so that a server that never answers, stalls mid-body or drips a few
// bytes a second ends the cycle as a failure instead of holding the worker (and the hourly
// requests queued behind it).
struct TransferLimits {
    long connectTimeoutSeconds = 15;
    long lowSpeedBytesPerSecond = 1;  // abort when slower than this ...
    long lowSpeedTimeSeconds = 60;    // ... for this long (waiting for the answer included)
    long totalTimeoutSeconds = 300;   // the whole transfer, however fast it goes
};

// One transfer. The URL text is kept here because libcurl reads it during the transfer.
struct ListTransfer {
    std::string strUrl;
    void* pHandle = nullptr;  // the libcurl easy handle; made and released by the caller
    std::string strBody;      // every byte the server sent, in arrival order
    TransferLimits limits;
    size_t nMaxBytes = kMaxListBytes;  // a larger body is refused whole
    // Sent as If-None-Match and If-Modified-Since when not empty: the validators of the list
    // taken last, so that an unchanged list is answered 304 without a body.
    std::string strIfNoneMatch;
    std::string strIfModifiedSince;
    // The answer's ETag and Last-Modified (empty when it had none).
    std::string strEtag;
    std::string strLastModified;
    long nResponseCode = 0;  // the HTTP status, 0 when no answer came
    int nCurlCode = 0;       // libcurl's result of the transfer (CURLcode)
    bool bTooLarge = false;  // the body (or its announced length) passed nMaxBytes
    // When given and set (by another thread), the transfer stops at libcurl's next progress call
    // and the cycle ends as a failure: the owner is shutting down.
    const std::atomic<bool>* pStop = nullptr;
};

// Runs the transfer on transfer.pHandle and returns the list text in code page 936: the body
// converted from UTF-8 when it is UTF-8 by IsUtf8Text, else the body unchanged. Empty when the
// body is empty, the status is not 200 (redirects are not followed), the transfer broke off
// (time-out, dropped connection, more than kMaxListBytes), the URL is not http or https, or the
// handle is missing. The body is released before this returns; the result holds the only copy.
std::string FetchListText(ListTransfer& transfer, const std::string& url);

enum class FetchResult { kBody, kNotModified, kTooLarge, kFailed };

// Runs the transfer on transfer.pHandle and moves the body, exactly as received, into `body`.
// kBody only for a complete, non-empty 200 answer; kNotModified for a 304 (the caller sent
// validators); kTooLarge past transfer.nMaxBytes; kFailed for everything else (as
// FetchListText). Certificates are always verified for https, and redirects are not followed.
FetchResult FetchListBody(ListTransfer& transfer, const std::string& url, std::string& body);

// The list body as the import's code page 936 text: converted from UTF-8 when it is UTF-8 by
// IsUtf8Text, else unchanged. `body` is released on the way.
std::string ListBodyToGbk(std::string body);

// libcurl write callback: appends size * count bytes to the std::string `body` points to and
// returns that count. Past kMaxListBytes it empties the body and returns 0, which aborts the
// transfer.
size_t WriteToString(char* data, size_t size, size_t count, void* body);

// The lead-byte test of the list: ASCII, two-, three- and four-byte sequences with their
// continuation bytes; stray continuation bytes and leads above 0xF4 are not UTF-8. A sequence
// cut off by the end still counts. Zero bytes are walked over, not taken as an end.
bool IsUtf8Text(const char* bytes, size_t length);

// UTF-8 up to the first zero byte, as UTF-16; invalid sequences become U+FFFD.
std::u16string Utf8ToWide(std::string_view bytes);

// UTF-16 as code page 936, up to the first zero. A character that 936 cannot hold becomes '?'.
// The process locale is not touched.
std::string WideToGbk(std::u16string_view wide);

// Code page 936 text up to the first zero byte, as UTF-16 (invalid bytes become U+FFFD). The list
// text is decoded as what it was encoded as, whatever the locale's code page.
std::u16string GbkToWide(std::string_view bytes);

}  // namespace tovarek
