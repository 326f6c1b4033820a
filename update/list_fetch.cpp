#include "update/list_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "platform/code_page.h"

#ifndef TOVAREK_LIST_URL
#error "TOVAREK_LIST_URL must be defined by the build"
#endif

namespace tovarek {

const char* const kListUrl = TOVAREK_LIST_URL;

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// CURLOPT_XFERINFOFUNCTION: a non-zero answer aborts the transfer.
int StopRequested(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

// curl_easy_perform may wait up to a second between two progress calls, too long for a program
// that must end within one when asked to. The multi interface lets each wait be short, with the
// stop flag read between waits; libcurl's own limits and progress call work as before.
CURLcode PerformStoppable(CURL* curl, const std::atomic<bool>& stop) {
    constexpr int kWaitMs = 50;
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi, curl) != CURLM_OK) {
        curl_multi_cleanup(multi);
        return CURLE_FAILED_INIT;
    }
    CURLcode result = CURLE_ABORTED_BY_CALLBACK;  // stopped, or ended without a result
    for (bool done = false; !done && !stop.load();) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (curl_multi_poll(multi, nullptr, 0, kWaitMs, nullptr) != CURLM_OK) break;
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return result;
}

template <typename Text>
Text UpToZero(Text text) {
    size_t zero = text.find(typename Text::value_type(0));
    return zero == Text::npos ? text : text.substr(0, zero);
}

// Appends unless `out` would pass `cap`; then empties it and answers 0, which aborts the transfer.
size_t AppendBounded(std::string& out, const char* data, size_t n, size_t cap) {
    if (n > cap - out.size()) {
        // An empty body makes the cycle a failure rather than importing a cut-off list.
        std::string().swap(out);
        return 0;
    }
    if (out.size() + n > out.capacity()) {
        // Doubling, but never past the cap: a body just under it would otherwise reserve up to
        // twice its size. A fresh string takes the size asked for; reserve() on the old one would
        // double again.
        size_t want = std::max(out.size() + n, std::min(out.capacity() * 2, cap));
        std::string grown;
        grown.reserve(want);
        grown.append(out);
        out.swap(grown);
    }
    out.append(data, n);
    return n;
}

size_t WriteToTransfer(char* data, size_t size, size_t count, void* transfer) {
    ListTransfer& t = *static_cast<ListTransfer*>(transfer);
    const size_t n = size * count;
    if (AppendBounded(t.strBody, data, n, t.nMaxBytes) == n) return n;
    t.bTooLarge = true;
    return 0;
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
    }
    return true;
}

// CURLOPT_HEADERFUNCTION: keeps the validators of the answer (header names in any case).
size_t KeepValidators(char* data, size_t size, size_t count, void* transfer) {
    ListTransfer& t = *static_cast<ListTransfer*>(transfer);
    const size_t n = size * count;
    std::string_view line(data, n);
    auto value = [&](size_t nameLength) {
        std::string_view v = line.substr(nameLength);
        while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
        while (!v.empty() &&
               (v.back() == '\r' || v.back() == '\n' || v.back() == ' ' || v.back() == '\t')) {
            v.remove_suffix(1);
        }
        // It goes back in a request header: a value that could end that header is not kept.
        for (char c : v) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::string();
        }
        return std::string(v);
    };
    if (StartsWithNoCase(line, "etag:")) t.strEtag = value(5);
    if (StartsWithNoCase(line, "last-modified:")) t.strLastModified = value(14);
    return n;
}

}  // namespace

size_t WriteToString(char* data, size_t size, size_t count, void* body) {
    return AppendBounded(*static_cast<std::string*>(body), data, size * count, kMaxListBytes);
}

bool IsUtf8Text(const char* bytes, size_t length) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
    while (i < length) {
        unsigned char lead = p[i];
        size_t follow;
        if (lead < 0x80) {
            follow = 0;
        } else if (lead < 0xC0 || lead > 0xF4) {
            return false;
        } else if (lead < 0xE0) {
            follow = 1;
        } else if (lead < 0xF0) {
            follow = 2;
        } else {
            // Emoji and the rarer CJK characters live above U+FFFF; a list that holds one is
            // still UTF-8, and reading it as 936 would garble every other name in it.
            follow = 3;
        }
        if (i + follow >= length) return true;  // cut off by the end
        for (size_t k = 1; k <= follow; ++k) {
            if (!IsContinuation(p[i + k])) return false;
        }
        i += follow + 1;
    }
    return true;
}

std::u16string Utf8ToWide(std::string_view bytes) {
    return Utf8ToUtf16(UpToZero(bytes));
}

std::string WideToGbk(std::u16string_view wide) {
    std::string out;
    Utf16ToCodePage(kCodePageGbk, UpToZero(wide), out);
    return out;
}

std::u16string GbkToWide(std::string_view bytes) {
    std::u16string out;
    CodePageToUtf16(kCodePageGbk, UpToZero(bytes), out);
    return out;
}

FetchResult FetchListBody(ListTransfer& transfer, const std::string& url, std::string& body) {
    std::string().swap(body);
    transfer.strUrl = url;
    std::string().swap(transfer.strBody);
    transfer.strEtag.clear();
    transfer.strLastModified.clear();
    transfer.nResponseCode = 0;
    transfer.nCurlCode = 0;
    transfer.bTooLarge = false;
    CURL* curl = static_cast<CURL*>(transfer.pHandle);
    if (curl == nullptr) return FetchResult::kFailed;
    // The handle may have served another transfer: nothing of that one carries over.
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, transfer.strUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteToTransfer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, KeepValidators);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    // NOSIGNAL: this runs on a worker thread, where libcurl must not use SIGALRM for its
    // resolver time-outs.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // A list server is named by the build; an answer elsewhere is no answer from it.
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // Stated, not left to defaults: a list over https comes only from a server whose
    // certificate the system's store vouches for and whose name it bears.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, transfer.limits.connectTimeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, transfer.limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, transfer.limits.lowSpeedTimeSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, transfer.limits.totalTimeoutSeconds);
    // An announced Content-Length over the cap ends the transfer before any body byte is read.
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(transfer.nMaxBytes));
    curl_slist* headers = nullptr;
    if (!transfer.strIfNoneMatch.empty()) {
        headers = curl_slist_append(headers, ("If-None-Match: " + transfer.strIfNoneMatch).c_str());
    }
    if (!transfer.strIfModifiedSince.empty()) {
        headers = curl_slist_append(headers,
                                    ("If-Modified-Since: " + transfer.strIfModifiedSince).c_str());
    }
    if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (transfer.pStop) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, StopRequested);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, transfer.pStop);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    CURLcode rc =
        transfer.pStop ? PerformStoppable(curl, *transfer.pStop) : curl_easy_perform(curl);
    transfer.nCurlCode = rc;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &transfer.nResponseCode);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    if (rc == CURLE_FILESIZE_EXCEEDED) transfer.bTooLarge = true;
    // A transfer that broke off (time-out, dropped connection, size limit) may leave part of a
    // body behind; that part is never handed on as if it were the list.
    body.swap(transfer.strBody);
    std::string().swap(transfer.strBody);
    if (transfer.bTooLarge) {
        std::string().swap(body);
        return FetchResult::kTooLarge;
    }
    if (rc == CURLE_OK && transfer.nResponseCode == 304) {
        std::string().swap(body);
        return FetchResult::kNotModified;
    }
    // An empty answer, a broken one, or an error page is never taken.
    if (body.empty() || rc != CURLE_OK || transfer.nResponseCode != 200) {
        std::string().swap(body);
        return FetchResult::kFailed;
    }
    return FetchResult::kBody;
}

std::string ListBodyToGbk(std::string body) {
    if (IsUtf8Text(body.data(), body.size())) {
        std::u16string wide = Utf8ToWide(body);
        std::string().swap(body);
        return WideToGbk(wide);
    }
    return body;
}

std::string FetchListText(ListTransfer& transfer, const std::string& url) {
    // Only one copy of the list is held at a time: the body goes as soon as it is converted.
    std::string body;
    if (FetchListBody(transfer, url, body) != FetchResult::kBody) return {};
    return ListBodyToGbk(std::move(body));
}

}  // namespace tovarek
