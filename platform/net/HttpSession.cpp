#include "platform/net/HttpSession.h"

#include "platform/core/Log.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "platform/net/HttpResponseHeaderParser.h"
#include "platform/net/UrlError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <curl/curl.h>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvex {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kTransferQueueLabel = "com.tallowfen.corvex.net.transfer";

std::atomic<int> gTransfersStarted{0};
std::atomic<int> gTransfersActive{0};
constexpr long kReceiveBufferBytes = 128 * 1024;
constexpr std::size_t kSpareEasyHandles = 8;
constexpr qsizetype kUploadChunkLimit = 1024 * 1024;
constexpr qsizetype kDownloadBufferBytes = 256 * 1024;
// How long the transfer thread sleeps at most while nothing happens; wake-ups are explicit.
constexpr int kIdlePollMilliseconds = 1000;

const QString kLoopbackHost = QStringLiteral("127.0.0.1");

void initialiseLibraries()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // OpenSSL writes to a closed socket would raise SIGPIPE; libcurl never signals
        // (CURLOPT_NOSIGNAL), and the crash reporter must not see it either.
        std::signal(SIGPIPE, SIG_IGN);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

// libcurl's millisecond options; 0 disables, and a positive time never rounds to 0.
long milliseconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return std::max(1L, long(seconds * 1000.0 + 0.5));
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QString noProxyList()
{
    // Loopback never goes through a proxy, whatever the environment names.
    QByteArray list = qgetenv("no_proxy");
    if (list.isEmpty())
        list = qgetenv("NO_PROXY");
    if (!list.isEmpty())
        list += ',';
    list += "127.0.0.1,localhost,::1";
    return QString::fromLatin1(list);
}

// The body written to a file: a temporary beside the target, renamed over it only after
// the transfer succeeded. With syncing, SaveFile's durable replace; without, the same
// naming (so that a killed process's leftover is cleaned by the next save) without the
// flushes, for scratch files.
class DownloadSink
{
public:
    DownloadSink(const QString& path, bool sync) : mPath(path), mSync(sync), mSave(path) {}
    ~DownloadSink() { discard(); }
    DownloadSink(const DownloadSink&) = delete;
    DownloadSink& operator=(const DownloadSink&) = delete;

    Status open()
    {
        if (mSync)
            return mSave.open();
        const QFileInfo info(mPath);
        if (info.isDir())
            return Error::posix(EISDIR, QStringLiteral("open"), mPath);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString name = info.absolutePath() + QLatin1Char('/') +
                                 SaveFile::temporaryPrefix(info.fileName()) +
                                 QString::number(QRandomGenerator::global()->generate64(), 36);
            const QByteArray encoded = QFile::encodeName(name);
            mFd = SysCalls::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (mFd >= 0) {
                mTemporary = encoded;
                return Status::success();
            }
            if (errno != EEXIST)
                return Error::posix(errno, QStringLiteral("open"), name);
        }
        return Error::posix(EEXIST, QStringLiteral("open"), mPath);
    }

    bool write(const char* data, qsizetype size)
    {
        if (mSync)
            return mSave.write(data, size) == size;
        mBuffer.append(data, size);
        return mBuffer.size() < kDownloadBufferBytes || flush();
    }

    Status commit()
    {
        if (mSync)
            return mSave.commit();
        if (!flush())
            return mError;
        const int fd = std::exchange(mFd, -1);
        if (SysCalls::close(fd) != 0)
            return Error::posix(errno, QStringLiteral("close"), mPath);
        if (SysCalls::rename(mTemporary.constData(), QFile::encodeName(mPath).constData()) != 0)
            return Error::posix(errno, QStringLiteral("rename"), mPath);
        mTemporary.clear();
        return Status::success();
    }

    Error error() const { return mSync ? mSave.error() : mError; }

private:
    bool flush()
    {
        if (mBuffer.isEmpty())
            return true;
        if (!SysCalls::writeAll(mFd, mBuffer.constData(), std::size_t(mBuffer.size()))) {
            mError = Error::posix(errno, QStringLiteral("write"), mPath);
            return false;
        }
        mBuffer.clear();
        return true;
    }

    void discard()
    {
        if (mFd >= 0)
            SysCalls::close(std::exchange(mFd, -1));
        if (!mTemporary.isEmpty())
            SysCalls::unlink(mTemporary.constData());
        mTemporary.clear();
    }

    QString mPath;
    bool mSync;
    SaveFile mSave;
    int mFd = -1;
    QByteArray mTemporary;
    QByteArray mBuffer;
    Error mError;
};

} // namespace

// Everything about one transfer. The progress handler is touched on the caller's queue only;
// the libcurl side on the transfer thread only; the completion under its mutex by whoever
// ends the transfer; the atomics and the progress snapshot are shared.
struct HttpTransfer::State : std::enable_shared_from_this<HttpTransfer::State>
{
    HttpRequest request;

    // The queue the completion was made for: progress reports run there too.
    CompletionQueue callerQueue = CompletionQueue::main();
    std::mutex completionMutex;
    Completion completion;
    ProgressHandler progressHandler;
    bool delivered = false;

    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> progressPosted{false};
    bool wantsProgress = false; // set before the transfer thread sees the state
    mutable std::mutex progressMutex;
    TransferProgress progress;

    // Transfer thread.
    CURL* easy = nullptr;
    bool easyDirty = false; // the handle carries options of this request's method
    QByteArray encodedUrl;
    curl_slist* headerList = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    HttpResponseHeaderParser parser;
    QByteArray body;
    std::unique_ptr<DownloadSink> download;
    qint64 received = 0;
    qint64 maxBody = 0;
    qint64 memoryLimit = 0;
    // A download whose answer is not a success: its body is kept in memory instead.
    bool bodyToMemory = false;
    // The request body: memory or a file descriptor.
    qint64 uploadSize = 0;
    qint64 uploadOffset = 0;
    int uploadFd = -1;
    std::optional<Error> forcedError;
    bool trustRefused = false;
    double idleTimeout = 0;
    SteadyClock::time_point lastActivity;
    int redirects = 0;
    // Sent, and no byte of an answer since: what libcurl would send again on a fresh
    // connection if the kept-alive one died now.
    bool awaitingAnswer = false;

    void touch() { lastActivity = SteadyClock::now(); }

    void fail(Error error)
    {
        if (!forcedError)
            forcedError = std::move(error);
    }

    // Answers the completion, once: its queue hears first that the transfer is over, so that
    // no progress report runs after the answer.
    void answer(Result<HttpResponse> result)
    {
        Completion done;
        {
            std::lock_guard lock(completionMutex);
            if (delivered)
                return;
            delivered = true;
            done = std::move(completion);
        }
        callerQueue.post([self = shared_from_this()] { self->progressHandler = nullptr; });
        done(std::move(result));
    }

    void releaseCurl()
    {
        if (easy != nullptr)
            curl_easy_cleanup(easy);
        easy = nullptr;
        if (headerList != nullptr)
            curl_slist_free_all(headerList);
        headerList = nullptr;
        if (uploadFd >= 0)
            SysCalls::close(std::exchange(uploadFd, -1));
        download.reset();
    }

    ~State() { releaseCurl(); }
};

namespace {

using TransferStatePtr = std::shared_ptr<HttpTransfer::State>;

// Posts the completion to the caller's queue; the state marks itself finished first so
// that a cancel arriving meanwhile does nothing.
void postCompletion(const TransferStatePtr& state, Result<HttpResponse> result)
{
    state->finished.store(true);
    state->answer(std::move(result));
}

void postProgress(const TransferStatePtr& state)
{
    if (state->progressPosted.exchange(true))
        return;
    state->callerQueue.post([state] {
        state->progressPosted.store(false);
        if (!state->progressHandler)
            return;
        TransferProgress snapshot;
        {
            std::lock_guard lock(state->progressMutex);
            snapshot = state->progress;
        }
        const HttpTransfer::ProgressHandler handler = state->progressHandler;
        handler(snapshot);
    });
}

// The host a URL names, for the loopback rule.
bool isReservedInvalidHost(const QString& host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
}

bool isLoopbackUrl(const QUrl& url)
{
    return url.host() == kLoopbackHost;
}

// What the TLS verification callback needs: the transfer and the host of the connection
// being made. Owned by the SSL_CTX (freed with it), since a kept connection outlives the
// transfer that opened it.
struct TlsContextData
{
    std::weak_ptr<HttpTransfer::State> transfer;
    TrustDecider decider;
    QString host;
    int port = 0;
};

void freeTlsContextData(void*, void* pointer, CRYPTO_EX_DATA*, int, long, void*)
{
    delete static_cast<TlsContextData*>(pointer);
}

int tlsContextDataIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freeTlsContextData);
    return index;
}

QByteArray certificateDer(X509* certificate)
{
    const int size = i2d_X509(certificate, nullptr);
    if (size <= 0)
        return {};
    QByteArray der(size, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    if (i2d_X509(certificate, &out) != size)
        return {};
    return der;
}

// Replaces OpenSSL's chain verification: asks the session's decider with the chain as the
// server sent it, and falls back to verifying against the trust store.
int verifyServerChain(X509_STORE_CTX* context, void* argument)
{
    auto* data = static_cast<TlsContextData*>(argument);
    if (data == nullptr || !data->decider)
        return X509_verify_cert(context);
    ServerTrust trust;
    trust.host = data->host;
    trust.port = data->port;
    X509* leaf = X509_STORE_CTX_get0_cert(context);
    if (leaf != nullptr)
        trust.chainDer.append(certificateDer(leaf));
    if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(context)) {
        for (int i = 0; i < sk_X509_num(sent); ++i) {
            X509* certificate = sk_X509_value(sent, i);
            if (leaf != nullptr && X509_cmp(certificate, leaf) == 0)
                continue;
            trust.chainDer.append(certificateDer(certificate));
        }
    }
    TrustDisposition disposition = TrustDisposition::CancelChallenge;
    try {
        disposition = data->decider(trust);
    } catch (...) {
        Log::error(QStringLiteral("A trust decider threw for %1; the connection is refused").arg(trust.host));
    }
    switch (disposition) {
    case TrustDisposition::UseCredential:
        X509_STORE_CTX_set_error(context, X509_V_OK);
        return 1;
    case TrustDisposition::PerformDefaultHandling:
        return X509_verify_cert(context);
    case TrustDisposition::CancelChallenge:
        break;
    }
    if (auto transfer = data->transfer.lock())
        transfer->trustRefused = true;
    X509_STORE_CTX_set_error(context, X509_V_ERR_APPLICATION_VERIFICATION);
    return 0;
}

} // namespace

struct HttpSession::Engine
{
    explicit Engine(HttpSessionConfiguration configuration)
        : config(std::move(configuration)), loopbackOnly(qgetenv(LoopbackOnlyVariable) == "1"),
          noProxy(noProxyList().toLatin1())
    {
        multi = curl_multi_init();
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        // Requests without fields of their own and without a body all send this one list.
        plainHeaders = curl_slist_append(nullptr, "Expect:");
        thread = std::thread([this] { run(); });
    }

    ~Engine()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            signalLocked();
        }
        if (thread.joinable())
            thread.join();
        curl_multi_cleanup(multi);
        curl_slist_free_all(plainHeaders);
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    void submit(const TransferStatePtr& state)
    {
        {
            std::lock_guard lock(mutex);
            if (!stopping && !invalidated) {
                incoming.push_back(state);
                transferBegan();
                signalLocked();
                return;
            }
        }
        postCompletion(state,
                       UrlError::make(UrlError::Cancelled, QStringLiteral("The session was invalidated"),
                                      state->request.url));
    }

    void wake()
    {
        std::lock_guard lock(mutex);
        signalLocked();
    }

    // Under mutex. The transfer thread looks at `pendingWake` before it sleeps, so a wake-up
    // costs a system call only while it sleeps (or is about to): a request started while
    // the thread is still busy with the previous one's completion is picked up without one.
    void signalLocked()
    {
        pendingWake = true;
        if (!sleeping)
            return;
        if (wakeFd < 0) {
            curl_multi_wakeup(multi);
            return;
        }
        const std::uint64_t one = 1;
        while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    // Transfer thread: waits for socket activity, a wake-up or the time-out.
    void sleep(int milliseconds)
    {
        {
            std::lock_guard lock(mutex);
            if (pendingWake || stopping || !incoming.empty())
                return;
            sleeping = true;
        }
        curl_waitfd extra{};
        extra.fd = wakeFd;
        extra.events = CURL_WAIT_POLLIN;
        curl_multi_poll(multi, wakeFd >= 0 ? &extra : nullptr, wakeFd >= 0 ? 1 : 0, milliseconds, nullptr);
        {
            std::lock_guard lock(mutex);
            sleeping = false;
        }
        if (wakeFd >= 0 && extra.revents != 0) {
            std::uint64_t count = 0;
            while (::read(wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
            }
        }
    }

    void invalidate()
    {
        {
            std::lock_guard lock(mutex);
            invalidated = true;
        }
        cancelAll.store(true);
        wake();
    }

    void run();
    // Easy handles are kept for the next transfer: making and freeing one costs more than a
    // small request on a kept connection.
    // A kept handle keeps the session's options (configureHandle) and is reset only after a
    // request that set options a plain GET does not: resetting and setting everything again
    // cost more than the rest of a small request's set-up.
    CURL* takeEasyHandle()
    {
        while (!spareEasy.empty()) {
            const SpareHandle spare = spareEasy.back();
            spareEasy.pop_back();
            if (!spare.dirty)
                return spare.easy;
            curl_easy_reset(spare.easy);
            if (configureHandle(spare.easy))
                return spare.easy;
            curl_easy_cleanup(spare.easy);
        }
        CURL* easy = curl_easy_init();
        if (easy != nullptr && !configureHandle(easy)) {
            curl_easy_cleanup(easy);
            return nullptr;
        }
        return easy;
    }
    void recycleEasyHandle(CURL* easy, bool dirty)
    {
        if (easy == nullptr)
            return;
        if (spareEasy.size() < kSpareEasyHandles)
            spareEasy.push_back({easy, dirty});
        else
            curl_easy_cleanup(easy);
    }
    bool configureHandle(CURL* easy);
    void setHeaderList(HttpTransfer::State& state, bool hasBody);
    bool setUp(const TransferStatePtr& state);
    void finish(TransferStatePtr state, CURLcode code);
    Result<HttpResponse> outcome(HttpTransfer::State& state, CURLcode code);

    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static size_t onBody(char* data, size_t size, size_t count, void* user);
    static size_t onUpload(char* buffer, size_t size, size_t count, void* user);
    static int onSeek(void* user, curl_off_t offset, int origin);
    static int onPrerequest(void* user, char* remoteIp, char* localIp, int remotePort, int localPort);
    static int onProgress(void* user, curl_off_t downloadTotal, curl_off_t downloadNow,
                          curl_off_t uploadTotal, curl_off_t uploadNow);
    static curl_socket_t onOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);
    static CURLcode onSslContext(CURL* easy, void* sslContext, void* user);

    const HttpSessionConfiguration config;
    const bool loopbackOnly;
    const QByteArray noProxy;
    CURLM* multi = nullptr;
    std::thread thread;
    int wakeFd = -1; // eventfd; when it cannot be made, curl_multi_wakeup
    curl_slist* plainHeaders = nullptr;
    std::mutex mutex;
    std::vector<TransferStatePtr> incoming; // under mutex
    bool stopping = false;                  // under mutex
    bool invalidated = false;               // under mutex
    bool pendingWake = false;               // under mutex
    bool sleeping = false;                  // under mutex
    std::atomic<bool> cancelAll{false};
    std::atomic<int> sockets{0};
    std::atomic<int> active{0};
    void transferBegan()
    {
        ++active;
        gTransfersActive.fetch_add(1, std::memory_order_relaxed);
    }
    void transferEnded()
    {
        active.fetch_sub(1);
        gTransfersActive.fetch_sub(1, std::memory_order_relaxed);
    }
    std::vector<TransferStatePtr> running; // transfer thread only
    QUrl lastUrl;                          // transfer thread only
    QByteArray lastEncodedUrl;             // transfer thread only, lastUrl's encoded form
    struct SpareHandle
    {
        CURL* easy = nullptr;
        bool dirty = false; // options beyond a plain GET's are set
    };
    std::vector<SpareHandle> spareEasy; // transfer thread only
};

size_t HttpSession::Engine::onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    const size_t bytes = size * count;
    state->touch();
    state->awaitingAnswer = false;
    if (!state->parser.feedLine(data, qsizetype(bytes))) {
        state->fail(UrlError::make(UrlError::BadServerResponse, state->parser.error(), state->request.url));
        return 0;
    }
    if (!state->parser.blockComplete())
        return bytes;
    const int status = state->parser.statusCode();
    if (isRedirectStatus(status) && state->parser.headers().contains("Location")) {
        // Followed by libcurl next: a hop that leaves loopback in a loopback-only process
        // stops here, before any name is looked up.
        char* current = nullptr;
        curl_easy_getinfo(state->easy, CURLINFO_EFFECTIVE_URL, &current);
        const QUrl base = QUrl::fromEncoded(QByteArray(current != nullptr ? current : ""));
        const QUrl target = base.resolved(QUrl::fromEncoded(state->parser.headers().value("Location")));
        auto* engine = static_cast<Engine*>(nullptr);
        curl_easy_getinfo(state->easy, CURLINFO_PRIVATE, &engine);
        if (isReservedInvalidHost(target.host())) {
            state->fail(UrlError::make(
                UrlError::CannotFindHost,
                QStringLiteral("A redirect to %1, a name that never resolves").arg(target.host()), target));
            return 0;
        }
        if (engine != nullptr && engine->loopbackOnly && !isLoopbackUrl(target)) {
            state->fail(
                UrlError::make(UrlError::CannotConnectToHost,
                               QStringLiteral("Only 127.0.0.1 may be reached: a redirect to %1 was refused")
                                   .arg(target.host()),
                               target));
            return 0;
        }
        ++state->redirects;
    } else if (status >= 200) {
        // The final answer: make room for the announced body at once.
        bool known = false;
        const qint64 length = state->parser.headers().value("Content-Length").toLongLong(&known);
        if (known && length > 0 && length <= state->maxBody && !state->download &&
            length <= qint64(16) * 1024 * 1024)
            state->body.reserve(qsizetype(length));
    }
    return bytes;
}

size_t HttpSession::Engine::onBody(char* data, size_t size, size_t count, void* user)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    const size_t bytes = size * count;
    state->touch();
    if (state->received == 0 && state->download && !state->bodyToMemory) {
        const int status = state->parser.statusCode();
        if (status < 200 || status > 299) {
            // An error answer never replaces the file: its body goes to memory for the caller.
            state->bodyToMemory = true;
            state->maxBody = std::min(state->maxBody, state->memoryLimit);
        }
    }
    if (state->received + qint64(bytes) > state->maxBody) {
        state->fail(
            UrlError::make(UrlError::DataLengthExceedsMaximum,
                           QStringLiteral("The response body is larger than %1 bytes").arg(state->maxBody),
                           state->request.url));
        return 0;
    }
    state->received += qint64(bytes);
    if (state->download && !state->bodyToMemory) {
        if (!state->download->write(data, qsizetype(bytes))) {
            Error cause = state->download->error();
            state->fail(UrlError::make(
                UrlError::CannotWriteToFile,
                QStringLiteral("The download could not be written: %1").arg(cause.localizedDescription()),
                state->request.url));
            return 0;
        }
    } else {
        state->body.append(data, qsizetype(bytes));
    }
    return bytes;
}

size_t HttpSession::Engine::onUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    state->touch();
    const qint64 room = std::min<qint64>(qint64(size * count), state->uploadSize - state->uploadOffset);
    if (room <= 0)
        return 0;
    const qsizetype want = qsizetype(std::min<qint64>(room, kUploadChunkLimit));
    if (state->request.bodySource == HttpRequest::BodySource::Memory) {
        std::memcpy(buffer, state->request.body.constData() + state->uploadOffset, std::size_t(want));
        state->uploadOffset += want;
        return size_t(want);
    }
    ssize_t got = -1;
    do {
        got = SysCalls::read(state->uploadFd, buffer, std::size_t(want));
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        const QString reason =
            got < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("the file ended early");
        state->fail(UrlError::make(UrlError::FileDoesNotExist,
                                   QStringLiteral("The body file could not be read: %1 (%2)")
                                       .arg(reason, state->request.bodyFilePath),
                                   state->request.url));
        return CURL_READFUNC_ABORT;
    }
    state->uploadOffset += got;
    return size_t(got);
}

int HttpSession::Engine::onSeek(void* user, curl_off_t offset, int origin)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    if (origin != SEEK_SET || offset < 0 || offset > state->uploadSize)
        return CURL_SEEKFUNC_CANTSEEK;
    if (state->request.bodySource == HttpRequest::BodySource::File &&
        SysCalls::lseek(state->uploadFd, off_t(offset), SEEK_SET) < 0)
        return CURL_SEEKFUNC_FAIL;
    state->uploadOffset = offset;
    return CURL_SEEKFUNC_OK;
}

int HttpSession::Engine::onPrerequest(void* user, char*, char*, int, int)
{
    // libcurl calls this before each time the request goes out: a redirect's next hop, and
    // its own second send after a kept-alive connection died with no answer. The server may
    // have acted on the first (an upload landed), and the caller never sees the second.
    auto* state = static_cast<HttpTransfer::State*>(user);
    if (state->awaitingAnswer && state->request.sendOnce) {
        state->fail(UrlError::make(UrlError::NetworkConnectionLost,
                                   QStringLiteral("The connection closed before any answer came; the "
                                                  "request is not sent again"),
                                   state->request.url));
        return CURL_PREREQFUNC_ABORT;
    }
    state->awaitingAnswer = true;
    return CURL_PREREQFUNC_OK;
}

int HttpSession::Engine::onProgress(void* user, curl_off_t downloadTotal, curl_off_t downloadNow,
                                    curl_off_t uploadTotal, curl_off_t uploadNow)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    bool moved = false;
    {
        std::lock_guard lock(state->progressMutex);
        TransferProgress& p = state->progress;
        moved = p.bytesReceived != downloadNow || p.bytesSent != uploadNow;
        p.bytesReceived = downloadNow;
        p.bytesSent = uploadNow;
        p.bytesExpectedToReceive = downloadTotal > 0 ? downloadTotal : -1;
        if (uploadTotal > 0)
            p.bytesExpectedToSend = uploadTotal;
    }
    if (moved) {
        state->touch();
        // Without a handler nothing is posted: a main-loop wake per transfer costs more than
        // a small request itself.
        if (state->wantsProgress)
            postProgress(state->shared_from_this());
    }
    // A cancel is acted on by the loop; stopping here as well ends a long callback chain
    // (a large upload in one perform call) at once.
    return state->cancelRequested.load() ? 1 : 0;
}

curl_socket_t HttpSession::Engine::onOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* engine = static_cast<Engine*>(user);
    if (engine->loopbackOnly) {
        bool loopback = false;
        if (address->family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(&address->addr);
            loopback = ntohl(in->sin_addr.s_addr) == INADDR_LOOPBACK;
        }
        if (!loopback)
            return CURL_SOCKET_BAD;
    }
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (fd >= 0)
        engine->sockets.fetch_add(1);
    return fd;
}

CURLcode HttpSession::Engine::onSslContext(CURL* easy, void* sslContext, void* user)
{
    auto* state = static_cast<HttpTransfer::State*>(user);
    auto* engine = static_cast<Engine*>(nullptr);
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &engine);
    auto* context = static_cast<SSL_CTX*>(sslContext);
    char* current = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &current);
    const QUrl url = QUrl::fromEncoded(QByteArray(current != nullptr ? current : ""));
    auto data = std::make_unique<TlsContextData>();
    data->transfer = state->weak_from_this();
    data->decider = engine != nullptr ? engine->config.trustDecider : TrustDecider();
    data->host = url.host();
    data->port = url.port(443);
    SSL_CTX_set_cert_verify_callback(context, verifyServerChain, data.get());
    if (SSL_CTX_set_ex_data(context, tlsContextDataIndex(), data.get()) != 1)
        return CURLE_SSL_CONNECT_ERROR;
    data.release();
    return CURLE_OK;
}

bool HttpSession::Engine::setUp(const TransferStatePtr& statePtr)
{
    HttpTransfer::State& state = *statePtr;
    const HttpRequest& request = state.request;
    auto failNow = [&](Error error) {
        state.releaseCurl();
        postCompletion(statePtr, std::move(error));
        return false;
    };

    const bool toFile = !request.downloadFilePath.isEmpty();
    state.maxBody =
        request.maxBodyBytes.value_or(toFile ? config.maxFileBodyBytes : config.maxMemoryBodyBytes);
    state.memoryLimit = std::min(state.maxBody, config.maxMemoryBodyBytes);
    state.idleTimeout = request.idleTimeout.value_or(config.idleTimeout);

    if (request.bodySource == HttpRequest::BodySource::File) {
        const QByteArray path = QFile::encodeName(request.bodyFilePath);
        state.uploadFd = SysCalls::open(path.constData(), O_RDONLY | O_CLOEXEC);
        struct stat info = {};
        if (state.uploadFd < 0 || SysCalls::fstat(state.uploadFd, &info) != 0 || !S_ISREG(info.st_mode)) {
            const int cause = state.uploadFd < 0 ? errno : (S_ISREG(info.st_mode) ? errno : EINVAL);
            return failNow(
                UrlError::make(UrlError::FileDoesNotExist,
                               QStringLiteral("The body file cannot be read: %1 (%2)")
                                   .arg(QString::fromLocal8Bit(std::strerror(cause)), request.bodyFilePath),
                               request.url));
        }
        state.uploadSize = info.st_size;
    } else if (request.bodySource == HttpRequest::BodySource::Memory) {
        state.uploadSize = request.body.size();
    }

    if (toFile) {
        state.download = std::make_unique<DownloadSink>(request.downloadFilePath, request.syncDownload);
        const Status opened = state.download->open();
        if (!opened)
            return failNow(UrlError::make(UrlError::CannotCreateFile,
                                          QStringLiteral("The download file cannot be made: %1")
                                              .arg(opened.error().localizedDescription()),
                                          request.url));
    }

    CURL* easy = takeEasyHandle();
    if (easy == nullptr)
        return failNow(UrlError::make(UrlError::Unknown, QStringLiteral("libcurl could not make a handle"),
                                      request.url));
    state.easy = easy;
    // Callers often ask for the same URL again; encoding it costs more than comparing.
    if (lastEncodedUrl.isEmpty() || request.url != lastUrl) {
        lastUrl = request.url;
        lastEncodedUrl = request.url.toEncoded();
    }
    state.encodedUrl = lastEncodedUrl;
    // What differs between requests; the session's own options were set when the handle
    // was made (configureHandle).
    curl_easy_setopt(easy, CURLOPT_URL, state.encodedUrl.constData());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, state.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     milliseconds(request.connectTimeout.value_or(config.connectTimeout)));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                     milliseconds(request.overallTimeout.value_or(config.overallTimeout)));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(state.maxBody));
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &state);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &state);

    const QByteArray method = request.method.isEmpty() ? QByteArray("GET") : request.method.toUpper();
    const bool hasBody = request.bodySource != HttpRequest::BodySource::None;
    // Anything but a plain GET leaves options the next request must not inherit.
    state.easyDirty = !(method == "GET" && !hasBody);
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "GET" && !hasBody) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        if (hasBody || method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(state.uploadSize));
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Engine::onUpload);
            curl_easy_setopt(easy, CURLOPT_READDATA, &state);
            curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Engine::onSeek);
            curl_easy_setopt(easy, CURLOPT_SEEKDATA, &state);
        }
        if (method != "POST")
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }
    {
        std::lock_guard lock(state.progressMutex);
        state.progress.bytesExpectedToSend = hasBody ? state.uploadSize : 0;
    }

    if (request.headers.fields().isEmpty() && !hasBody) {
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, plainHeaders);
    } else {
        setHeaderList(state, hasBody);
    }

    state.touch();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK)
        return failNow(
            UrlError::make(UrlError::Unknown, QStringLiteral("libcurl refused the transfer"), request.url));
    return true;
}

void HttpSession::Engine::setHeaderList(HttpTransfer::State& state, bool hasBody)
{
    const HttpRequest& request = state.request;
    for (const HttpHeaders::Field& field : request.headers.fields()) {
        // "Name;" is libcurl's way to send a field with an empty value.
        const QByteArray line =
            field.second.isEmpty() ? field.first + ';' : field.first + ": " + field.second;
        state.headerList = curl_slist_append(state.headerList, line.constData());
    }
    // Never wait for "100 Continue", and never claim a form for a body without a type.
    if (!request.headers.contains("Expect"))
        state.headerList = curl_slist_append(state.headerList, "Expect:");
    if (hasBody && !request.headers.contains("Content-Type"))
        state.headerList = curl_slist_append(state.headerList, "Content-Type:");
    curl_easy_setopt(state.easy, CURLOPT_HTTPHEADER, state.headerList);
}

bool HttpSession::Engine::configureHandle(CURL* easy)
{
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(easy, option, value) == CURLE_OK;
    };
    set(CURLOPT_PRIVATE, this);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, long(std::max(0, config.maxRedirects)));
    set(CURLOPT_NOPROXY, noProxy.constData());
    set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    set(CURLOPT_TCP_NODELAY, 1L);
    set(CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    set(CURLOPT_WRITEFUNCTION, &Engine::onBody);
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Engine::onProgress);
    set(CURLOPT_PREREQFUNCTION, &Engine::onPrerequest);
    set(CURLOPT_OPENSOCKETFUNCTION, &Engine::onOpenSocket);
    set(CURLOPT_OPENSOCKETDATA, this);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_SSL_CTX_FUNCTION, &Engine::onSslContext);
    if (config.trustStorePem) {
        // Only the given roots: Debian's libcurl would otherwise add the system bundle and
        // folder of its own accord.
        curl_blob blob;
        blob.data = const_cast<char*>(config.trustStorePem->constData());
        blob.len = std::size_t(config.trustStorePem->size());
        blob.flags = CURL_BLOB_COPY;
        set(CURLOPT_CAINFO, static_cast<char*>(nullptr));
        set(CURLOPT_CAPATH, static_cast<char*>(nullptr));
        set(CURLOPT_CAINFO_BLOB, &blob);
    }
    return ok;
}

Result<HttpResponse> HttpSession::Engine::outcome(HttpTransfer::State& state, CURLcode code)
{
    const QUrl& url = state.request.url;
    if (state.cancelRequested.load())
        return UrlError::make(UrlError::Cancelled, QStringLiteral("cancelled"), url);
    if (state.trustRefused)
        return UrlError::make(UrlError::Cancelled, QStringLiteral("The server's certificate was refused"),
                              url, int(code));
    if (state.forcedError)
        return *state.forcedError;
    if (code != CURLE_OK) {
        Error error = UrlError::fromCurl(int(code), QString::fromUtf8(state.errorBuffer), url);
        if (code == CURLE_PARTIAL_FILE)
            error = UrlError::make(
                UrlError::NetworkConnectionLost,
                QStringLiteral("The server closed the connection before the whole body arrived "
                               "(%1 bytes of the announced length): %2")
                    .arg(state.received)
                    .arg(QString::fromUtf8(state.errorBuffer)),
                url, int(code));
        return error;
    }
    HttpResponse response;
    char* effective = nullptr;
    curl_easy_getinfo(state.easy, CURLINFO_EFFECTIVE_URL, &effective);
    if (effective != nullptr && state.encodedUrl == effective)
        response.url = state.request.url;
    else
        response.url = QUrl::fromEncoded(QByteArray(effective != nullptr ? effective : ""));
    long status = 0;
    curl_easy_getinfo(state.easy, CURLINFO_RESPONSE_CODE, &status);
    response.statusCode = int(status);
    response.httpVersion = state.parser.httpVersion();
    response.headers = state.parser.headers();
    response.bodyBytes = state.received;
    response.redirectCount = state.redirects;
    if (state.download && !state.bodyToMemory && response.statusCode >= 200 && response.statusCode <= 299) {
        const Status committed = state.download->commit();
        if (!committed)
            return UrlError::make(UrlError::CannotWriteToFile,
                                  QStringLiteral("The download could not be stored: %1")
                                      .arg(committed.error().localizedDescription()),
                                  url);
        response.bodyFilePath = state.request.downloadFilePath;
    } else {
        response.body = std::move(state.body);
    }
    return response;
}

void HttpSession::Engine::finish(TransferStatePtr state, CURLcode code)
{
    if (state->easy != nullptr)
        curl_multi_remove_handle(multi, state->easy);
    Result<HttpResponse> result = outcome(*state, code);
    recycleEasyHandle(std::exchange(state->easy, nullptr), state->easyDirty);
    state->releaseCurl();
    running.erase(std::remove(running.begin(), running.end(), state), running.end());
    transferEnded();
    postCompletion(state, std::move(result));
}

void HttpSession::Engine::run()
{
    QueueLabels::Scope label(kTransferQueueLabel);
    while (true) {
        std::vector<TransferStatePtr> added;
        bool stop = false;
        {
            std::lock_guard lock(mutex);
            added.swap(incoming);
            stop = stopping;
            pendingWake = false;
        }
        for (const TransferStatePtr& state : added) {
            if (stop || cancelAll.load() || state->cancelRequested.load()) {
                transferEnded();
                postCompletion(state, UrlError::make(UrlError::Cancelled, QStringLiteral("cancelled"),
                                                     state->request.url));
                continue;
            }
            if (setUp(state))
                running.push_back(state);
            else
                transferEnded();
        }
        if (stop || cancelAll.load()) {
            for (const TransferStatePtr& state : running)
                state->cancelRequested.store(true);
            cancelAll.store(false);
        }
        // Backwards: finish() erases its entry, and takes its own reference.
        for (std::size_t i = running.size(); i-- > 0;) {
            if (running[i]->cancelRequested.load())
                finish(running[i], CURLE_ABORTED_BY_CALLBACK);
        }
        if (stop) {
            for (const SpareHandle& spare : spareEasy)
                curl_easy_cleanup(spare.easy);
            spareEasy.clear();
            return;
        }

        int stillRunning = 0;
        curl_multi_perform(multi, &stillRunning);
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            const CURLcode code = message->data.result;
            const auto found =
                std::find_if(running.begin(), running.end(), [&](const TransferStatePtr& state) {
                    return state->easy == message->easy_handle;
                });
            if (found != running.end())
                finish(*found, code); // finish takes its own reference: it erases the entry
            else
                curl_multi_remove_handle(multi, message->easy_handle);
        }

        // Idle time-outs: no byte either way for the request's idle time.
        const SteadyClock::time_point now = SteadyClock::now();
        long waitMilliseconds = kIdlePollMilliseconds;
        for (std::size_t i = running.size(); i-- > 0;) {
            const TransferStatePtr state = running[i];
            if (!(state->idleTimeout > 0))
                continue;
            const auto limit = std::chrono::duration_cast<SteadyClock::duration>(
                std::chrono::duration<double>(state->idleTimeout));
            const auto idle = now - state->lastActivity;
            if (idle >= limit) {
                state->fail(UrlError::make(
                    UrlError::TimedOut,
                    QStringLiteral("The request timed out: nothing moved for %1 s").arg(state->idleTimeout),
                    state->request.url));
                finish(state, CURLE_OPERATION_TIMEDOUT);
                continue;
            }
            const long left =
                long(std::chrono::duration_cast<std::chrono::milliseconds>(limit - idle).count()) + 1;
            waitMilliseconds = std::min(waitMilliseconds, left);
        }
        long curlWait = -1;
        curl_multi_timeout(multi, &curlWait);
        if (curlWait >= 0)
            waitMilliseconds = std::min(waitMilliseconds, curlWait);
        sleep(int(waitMilliseconds));
    }
}

// ---------------------------------------------------------------------------------------

HttpSession::HttpSession(HttpSessionConfiguration configuration)
{
    initialiseLibraries();
    mEngine = std::make_shared<Engine>(std::move(configuration));
}

std::shared_ptr<HttpSession> HttpSession::create(HttpSessionConfiguration configuration)
{
    return std::shared_ptr<HttpSession>(new HttpSession(std::move(configuration)));
}

HttpSession::~HttpSession() = default;

std::shared_ptr<HttpTransfer> HttpSession::makeTransfer(HttpRequest request)
{
    auto state = std::make_shared<HttpTransfer::State>();
    state->request = std::move(request);
    return std::shared_ptr<HttpTransfer>(new HttpTransfer(std::move(state), mEngine));
}

void HttpSession::invalidateAndCancel()
{
    mEngine->invalidate();
}

const HttpSessionConfiguration& HttpSession::configuration() const
{
    return mEngine->config;
}

bool HttpSession::loopbackOnly() const
{
    return mEngine->loopbackOnly;
}

int HttpSession::transfersStartedInProcess()
{
    return gTransfersStarted.load(std::memory_order_relaxed);
}

int HttpSession::transfersActiveInProcess()
{
    return gTransfersActive.load(std::memory_order_relaxed);
}

int HttpSession::socketsOpened() const
{
    return mEngine->sockets.load();
}

int HttpSession::activeTransfers() const
{
    return mEngine->active.load();
}

HttpTransfer::HttpTransfer(std::shared_ptr<State> state, std::weak_ptr<HttpSession::Engine> engine)
    : mState(std::move(state)), mEngine(std::move(engine))
{}

HttpTransfer::~HttpTransfer() = default;

const HttpRequest& HttpTransfer::request() const
{
    return mState->request;
}

void HttpTransfer::setProgressHandler(ProgressHandler handler)
{
    if (mState->started.load()) {
        Log::assertionFailure(QStringLiteral("HttpTransfer: progress handler set after start"));
        return;
    }
    mState->progressHandler = std::move(handler);
}

void HttpTransfer::start(Completion completion)
{
    if (mState->started.exchange(true)) {
        Log::assertionFailure(QStringLiteral("HttpTransfer started twice"));
        completion.drop();
        return;
    }
    gTransfersStarted.fetch_add(1, std::memory_order_relaxed);
    mState->callerQueue = completion.queue();
    mState->completion = std::move(completion);
    mState->wantsProgress = bool(mState->progressHandler);
    const QUrl& url = mState->request.url;
    auto refuse = [&](UrlError::Code code, const QString& text) {
        postCompletion(mState, UrlError::make(code, text, url));
    };
    if (mState->cancelRequested.load())
        return refuse(UrlError::Cancelled, QStringLiteral("cancelled"));
    const QString host = url.host();
    if (!url.isValid() || host.isEmpty())
        return refuse(UrlError::BadURL, QStringLiteral("The URL is not valid: %1").arg(url.toString()));
    const QString scheme = url.scheme();
    if (scheme.compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 &&
        scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return refuse(UrlError::UnsupportedURL,
                      QStringLiteral("Only http and https are supported: %1").arg(url.toString()));
    const std::shared_ptr<HttpSession::Engine> engine = mEngine.lock();
    if (!engine)
        return refuse(UrlError::Cancelled, QStringLiteral("The session is gone"));
    // Names in the reserved ".invalid" domain never resolve: not even a name lookup leaves the
    // machine for them (the unconfigured reporting kit's hosts are there). Refused for that
    // reason first, in a loopback-only process too.
    if (isReservedInvalidHost(host))
        return refuse(UrlError::CannotFindHost,
                      QStringLiteral("%1 is a reserved name that never resolves").arg(host));
    if (engine->loopbackOnly && host != kLoopbackHost)
        return refuse(UrlError::CannotConnectToHost,
                      QStringLiteral("Only 127.0.0.1 may be reached in this process: %1").arg(host));
    engine->submit(mState);
}

void HttpTransfer::cancel()
{
    if (mState->finished.load() || mState->cancelRequested.exchange(true))
        return;
    if (auto engine = mEngine.lock())
        engine->wake();
}

bool HttpTransfer::isStarted() const
{
    return mState->started.load();
}

bool HttpTransfer::isFinished() const
{
    return mState->finished.load();
}

TransferProgress HttpTransfer::progress() const
{
    std::lock_guard lock(mState->progressMutex);
    return mState->progress;
}

} // namespace corvex
