#include "services/http/HttpPlugin.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

struct TEasyDeleter
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using TEasy = std::unique_ptr<CURL, TEasyDeleter>;

struct TListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using THeaderList = std::unique_ptr<curl_slist, TListDeleter>;

void InitializeOnce()
{
    // Not thread-safe before first use in every libcurl build, and the two
    // services call from different threads.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QByteArray WithoutControls(const QByteArray& text)
{
    QByteArray clean;
    clean.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F)
            clean += c;
    }
    return clean;
}

// Transfer state the C callbacks see; lives on the requesting thread's stack.
struct TTransfer
{
    const THttpRequest* Request = nullptr;
    qsizetype Sent = 0;
    bool EndReported = false;
    QByteArray Received;
    bool TooLarge = false;
    bool CallbackFailed = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    const THttpRequest& request = *transfer->Request;
    const qint64 total = request.Body.size();
    try {
        if (transfer->Sent >= total) {
            if (!transfer->EndReported && request.Progress)
                request.Progress(total, total);
            transfer->EndReported = true;
            return 0;
        }
        if (request.Progress)
            request.Progress(transfer->Sent, total);
        const qsizetype block = std::max<qsizetype>(1, request.BlockBytes);
        const qsizetype n =
            std::min<qsizetype>({qsizetype(size * count), block, total - transfer->Sent});
        std::memcpy(buffer, request.Body.constData() + transfer->Sent, size_t(n));
        transfer->Sent += n;
        // libcurl stops asking once it has the announced length, so the final
        // report cannot wait for a last, empty read.
        if (transfer->Sent == total && request.Progress) {
            request.Progress(total, total);
            transfer->EndReported = true;
        }
        return size_t(n);
    } catch (...) {
        transfer->CallbackFailed = true;
        return CURL_READFUNC_ABORT;
    }
}

size_t WriteReply(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    if (transfer->Received.size() + qsizetype(n) > MaxReplyBytes) {
        transfer->TooLarge = true;
        transfer->Received.clear();
        return 0; // a short count makes libcurl abandon the transfer
    }
    try {
        transfer->Received.append(data, qsizetype(n));
    } catch (...) {
        transfer->CallbackFailed = true;
        return 0;
    }
    return n;
}

int TransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* transfer = static_cast<TTransfer*>(user);
    try {
        const auto& cancelled = transfer->Request->Cancelled;
        return cancelled && cancelled() ? 1 : 0;
    } catch (...) {
        return 1;
    }
}

THttpReply Perform(const THttpRequest& request)
{
    THttpReply reply;
    InitializeOnce();
    TEasy easy(curl_easy_init());
    if (!easy) {
        reply.Error = QStringLiteral("cannot create an HTTP session");
        return reply;
    }
    CURL* h = easy.get();

    curl_slist* list = nullptr;
    THeaderList headers;
    for (const auto& [name, value] : request.Headers) {
        const QByteArray cleanName = WithoutControls(name);
        const QByteArray cleanValue = WithoutControls(value).trimmed();
        // "Name:" would tell libcurl to drop the header; "Name;" sends it empty.
        const QByteArray line =
            cleanValue.isEmpty() ? cleanName + ';' : cleanName + ": " + cleanValue;
        curl_slist* grown = curl_slist_append(list, line.constData());
        if (!grown) {
            curl_slist_free_all(list);
            reply.Error = QStringLiteral("out of memory");
            return reply;
        }
        list = grown;
    }
    headers.reset(list);

    char errorText[CURL_ERROR_SIZE] = {};
    TTransfer transfer;
    transfer.Request = &request;
    const QByteArray userAgent = WithoutControls(request.UserAgent);
    const char* schemes = request.Schemes == THttpSchemes::HttpOnly ? "http" : "http,https";

    curl_easy_setopt(h, CURLOPT_URL, request.Url.constData());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    // No signals: the resolver's time-out must not use SIGALRM on a worker.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, schemes);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, schemes);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, request.FollowRedirects ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(request.Limits.ConnectTimeout.count()));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(request.Limits.StallTime.count()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(request.Limits.TotalTime.count()));
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION,
                     request.Version == THttpVersion::Http10 ? long(CURL_HTTP_VERSION_1_0)
                                                             : long(CURL_HTTP_VERSION_1_1));
    if (!userAgent.isEmpty())
        curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.constData());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TransferInfo);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    if (request.Post) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.Body.size()));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &ReadBody);
        curl_easy_setopt(h, CURLOPT_READDATA, &transfer);
    }

    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    reply.Status = status;
    if (transfer.TooLarge) {
        reply.TooLarge = true;
        reply.Error = QStringLiteral("the reply is larger than %1 bytes").arg(MaxReplyBytes);
    } else if (result != CURLE_OK) {
        reply.Error = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(result));
    } else if (transfer.CallbackFailed) {
        reply.Error = QStringLiteral("the transfer failed");
    } else {
        reply.Received = true;
        reply.Body = std::move(transfer.Received);
    }
    return reply;
}

} // namespace

extern "C" Q_DECL_EXPORT void VorantuHttpRequest(const THttpRequest& request, THttpReply& reply)
{
    // No exception may leave through the C entry.
    try {
        reply = Perform(request);
    } catch (...) {
        reply = THttpReply();
        reply.Error = QStringLiteral("out of memory");
    }
}
