#include "platform/wayland/pipewire/Stream.h"

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/param/video/type-info.h>
#include <unistd.h>

namespace {

// Formats whose pixels are four bytes with the colour in the first three;
// the program's frames are BGRx as they lie in memory, so red-first ones are
// swapped while they are copied.
constexpr spa_video_format Accepted[] = {SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                         SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA};

bool RedFirst(spa_video_format format)
{
    return format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

// The sides a frame may have; anything larger is no monitor.
constexpr int MaxSide = 16384;

class TStream final : public TPipeWireStream
{
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    ~TStream() override;

    bool Open(int fd, std::uint32_t node, QString& error);

    TState State() const override
    {
        const std::lock_guard lock(FLock);
        return FState;
    }
    QString Error() const override
    {
        const std::lock_guard lock(FLock);
        return FError;
    }
    QImage Latest(std::uint64_t* serial) const override
    {
        const std::lock_guard lock(FLock);
        if (serial)
            *serial = FSerial;
        return FLatest;
    }

private:
    static void OnCoreError(void* data, std::uint32_t id, int seq, int res, const char* message);
    static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error);
    static void OnParamChanged(void* data, std::uint32_t id, const spa_pod* param);
    static void OnProcess(void* data);
    static void OnGlobalRemoved(void* data, std::uint32_t id);

    void End(const QString& why);
    void TakeFrame(const spa_buffer& buffer);

    pw_thread_loop* FLoop = nullptr;
    pw_context* FContext = nullptr;
    pw_core* FCore = nullptr;
    pw_stream* FStream = nullptr;
    pw_registry* FRegistry = nullptr;
    std::uint32_t FNode = 0;
    spa_hook FCoreListener{};
    spa_hook FRegistryListener{};
    pw_registry_events FRegistryEvents{};
    spa_hook FStreamListener{};
    pw_core_events FCoreEvents{};
    pw_stream_events FStreamEvents{};

    // The loop thread's own: the negotiated format.
    spa_video_format FFormat = SPA_VIDEO_FORMAT_UNKNOWN;
    int FWidth = 0;
    int FHeight = 0;
    // The frame being filled; becomes FLatest when complete.
    QImage FBack;

    mutable std::mutex FLock; // guards the members below it
    TState FState = TState::Waiting;
    QString FError;
    QImage FLatest;
    std::uint64_t FSerial = 0;
};

TStream::~TStream()
{
    if (FLoop)
        pw_thread_loop_stop(FLoop);
    // The loop thread has stopped: nothing runs the callbacks any more.
    if (FStream)
        pw_stream_destroy(FStream);
    if (FRegistry)
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(FRegistry));
    if (FCore)
        pw_core_disconnect(FCore);
    if (FContext)
        pw_context_destroy(FContext);
    if (FLoop)
        pw_thread_loop_destroy(FLoop);
}

bool TStream::Open(int fd, std::uint32_t node, QString& error)
{
    FLoop = pw_thread_loop_new("vorantu-cast", nullptr);
    if (!FLoop) {
        error = QStringLiteral("Cannot make the PipeWire thread: %1").arg(strerror(errno));
        return false;
    }
    FContext = pw_context_new(pw_thread_loop_get_loop(FLoop), nullptr, 0);
    if (!FContext) {
        error = QStringLiteral("Cannot make the PipeWire context: %1").arg(strerror(errno));
        return false;
    }
    // The caller keeps its descriptor; the core closes the one it is given.
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) {
        error = QStringLiteral("Cannot use the screen cast's descriptor: %1").arg(strerror(errno));
        return false;
    }
    if (pw_thread_loop_start(FLoop) < 0) {
        close(own);
        error = QStringLiteral("Cannot start the PipeWire thread");
        return false;
    }
    pw_thread_loop_lock(FLoop);
    FCore = pw_context_connect_fd(FContext, own, nullptr, 0);
    if (!FCore) {
        error = QStringLiteral("Cannot connect to PipeWire: %1").arg(strerror(errno));
        pw_thread_loop_unlock(FLoop);
        return false;
    }
    FCoreEvents.version = PW_VERSION_CORE_EVENTS;
    FCoreEvents.error = &TStream::OnCoreError;
    pw_core_add_listener(FCore, &FCoreListener, &FCoreEvents, this);
    // A producer that goes away (the desktop's cast ends, its service
    // quits) only pauses the stream; the node leaving the registry is what
    // says it is gone for good.
    FNode = node;
    FRegistry = pw_core_get_registry(FCore, PW_VERSION_REGISTRY, 0);
    if (FRegistry) {
        FRegistryEvents.version = PW_VERSION_REGISTRY_EVENTS;
        FRegistryEvents.global_remove = &TStream::OnGlobalRemoved;
        pw_registry_add_listener(FRegistry, &FRegistryListener, &FRegistryEvents, this);
    }

    FStream = pw_stream_new(FCore, "vorantu-recording",
                            pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                              "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!FStream) {
        error = QStringLiteral("Cannot make the PipeWire stream: %1").arg(strerror(errno));
        pw_thread_loop_unlock(FLoop);
        return false;
    }
    FStreamEvents.version = PW_VERSION_STREAM_EVENTS;
    FStreamEvents.state_changed = &TStream::OnStateChanged;
    FStreamEvents.param_changed = &TStream::OnParamChanged;
    FStreamEvents.process = &TStream::OnProcess;
    pw_stream_add_listener(FStream, &FStreamListener, &FStreamEvents, this);

    std::uint8_t buffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_rectangle minSize = SPA_RECTANGLE(1, 1);
    const spa_rectangle defSize = SPA_RECTANGLE(1920, 1080);
    const spa_rectangle maxSize = SPA_RECTANGLE(MaxSide, MaxSide);
    const spa_fraction minRate = SPA_FRACTION(0, 1);
    const spa_fraction defRate = SPA_FRACTION(30, 1);
    const spa_fraction maxRate = SPA_FRACTION(240, 1);
    spa_pod_frame object;
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaType, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_TYPE_video);
    spa_pod_builder_prop(&builder, SPA_FORMAT_mediaSubtype, 0);
    spa_pod_builder_id(&builder, SPA_MEDIA_SUBTYPE_raw);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_format, 0);
    spa_pod_frame choice;
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Enum, 0);
    spa_pod_builder_id(&builder, Accepted[0]); // the preferred one
    for (const spa_video_format format : Accepted)
        spa_pod_builder_id(&builder, format);
    spa_pod_builder_pop(&builder, &choice);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_size, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_rectangle(&builder, defSize.width, defSize.height);
    spa_pod_builder_rectangle(&builder, minSize.width, minSize.height);
    spa_pod_builder_rectangle(&builder, maxSize.width, maxSize.height);
    spa_pod_builder_pop(&builder, &choice);
    spa_pod_builder_prop(&builder, SPA_FORMAT_VIDEO_framerate, 0);
    spa_pod_builder_push_choice(&builder, &choice, SPA_CHOICE_Range, 0);
    spa_pod_builder_fraction(&builder, defRate.num, defRate.denom);
    spa_pod_builder_fraction(&builder, minRate.num, minRate.denom);
    spa_pod_builder_fraction(&builder, maxRate.num, maxRate.denom);
    spa_pod_builder_pop(&builder, &choice);
    const auto* format = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object));
    const spa_pod* params[] = {format};

    const int connected = pw_stream_connect(
        FStream, PW_DIRECTION_INPUT, node,
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        params, 1);
    pw_thread_loop_unlock(FLoop);
    if (connected < 0) {
        error = QStringLiteral("Cannot connect to the screen cast's PipeWire node %1: %2")
                    .arg(node)
                    .arg(strerror(-connected));
        return false;
    }
    return true;
}

void TStream::End(const QString& why)
{
    const std::lock_guard lock(FLock);
    if (FState == TState::Ended)
        return;
    FState = TState::Ended;
    FError = why;
}

void TStream::OnCoreError(void* data, std::uint32_t id, int, int res, const char* message)
{
    // Errors about other objects (a buffer, a link) are the stream's own to
    // report through its state; the core's own means the server is gone.
    if (id != PW_ID_CORE)
        return;
    auto* self = static_cast<TStream*>(data);
    self->End(QStringLiteral("The PipeWire connection failed: %1")
                  .arg(message ? QString::fromUtf8(message) : QString::fromUtf8(strerror(-res))));
}

void TStream::OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* self = static_cast<TStream*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        self->End(QStringLiteral("The screen cast's stream failed: %1")
                      .arg(error ? QString::fromUtf8(error) : QStringLiteral("unknown error")));
    else if (state == PW_STREAM_STATE_UNCONNECTED)
        self->End(QStringLiteral("The screen cast's stream has ended"));
}

void TStream::OnGlobalRemoved(void* data, std::uint32_t id)
{
    auto* self = static_cast<TStream*>(data);
    if (id == self->FNode)
        self->End(QStringLiteral("The screen cast has ended"));
}

void TStream::OnParamChanged(void* data, std::uint32_t id, const spa_pod* param)
{
    auto* self = static_cast<TStream*>(data);
    if (id != SPA_PARAM_Format || !param)
        return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return;
    const bool accepted =
        std::find(std::begin(Accepted), std::end(Accepted), info.format) != std::end(Accepted);
    if (!accepted || info.size.width < 1 || info.size.height < 1 ||
        info.size.width > std::uint32_t(MaxSide) || info.size.height > std::uint32_t(MaxSide)) {
        self->End(QStringLiteral("The screen cast offers no picture format the recorder reads"));
        return;
    }
    self->FFormat = info.format;
    self->FWidth = int(info.size.width);
    self->FHeight = int(info.size.height);

    // Shared memory only: buffers on the graphics card would need a GPU
    // context to read, and the recorder copies every frame on the CPU anyway.
    std::uint8_t buffer[256];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    spa_pod_frame object;
    spa_pod_builder_push_object(&builder, &object, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
    spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
    spa_pod_builder_int(&builder, (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd));
    const auto* buffers = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &object));
    const spa_pod* params[] = {buffers};
    pw_stream_update_params(self->FStream, params, 1);
}

void TStream::OnProcess(void* data)
{
    auto* self = static_cast<TStream*>(data);
    // Only the newest buffer matters: older ones queued meanwhile are
    // returned unread.
    pw_buffer* newest = nullptr;
    while (pw_buffer* next = pw_stream_dequeue_buffer(self->FStream)) {
        if (newest)
            pw_stream_queue_buffer(self->FStream, newest);
        newest = next;
    }
    if (!newest)
        return;
    self->TakeFrame(*newest->buffer);
    pw_stream_queue_buffer(self->FStream, newest);
}

void TStream::TakeFrame(const spa_buffer& buffer)
{
    if (buffer.n_datas < 1 || FWidth < 1 || FHeight < 1)
        return;
    const spa_data& plane = buffer.datas[0];
    if (!plane.data || !plane.chunk || (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
        return;
    const qsizetype rowBytes = qsizetype(FWidth) * 4;
    const qsizetype stride = plane.chunk->stride > 0 ? plane.chunk->stride : rowBytes;
    const qsizetype offset = plane.chunk->offset;
    // A buffer shorter than the format says is skipped, never read past.
    if (stride < rowBytes || offset + stride * (FHeight - 1) + rowBytes > qsizetype(plane.maxsize))
        return;
    const auto* source = static_cast<const std::uint8_t*>(plane.data) + offset;

    if (FBack.width() != FWidth || FBack.height() != FHeight || !FBack.isDetached())
        FBack = QImage(FWidth, FHeight, QImage::Format_RGB32);
    if (FBack.isNull())
        return;
    const bool swap = RedFirst(FFormat);
    for (int y = 0; y < FHeight; ++y) {
        const std::uint8_t* from = source + stride * y;
        auto* to = reinterpret_cast<std::uint32_t*>(FBack.scanLine(y));
        for (int x = 0; x < FWidth; ++x, from += 4) {
            // Bytes in memory: B G R x (or R G B x), read into 0xffRRGGBB.
            const std::uint32_t b = swap ? from[2] : from[0];
            const std::uint32_t g = from[1];
            const std::uint32_t r = swap ? from[0] : from[2];
            to[x] = 0xff000000u | (r << 16) | (g << 8) | b;
        }
    }
    const std::lock_guard lock(FLock);
    // The reader may still hold the previous latest frame: it keeps it, and
    // the next frame is filled into whichever is free.
    std::swap(FLatest, FBack);
    ++FSerial;
    if (FState == TState::Waiting)
        FState = TState::Streaming;
}

} // namespace

extern "C" Q_DECL_EXPORT TPipeWireStream*
VorantuOpenPipeWireStream(int fd, std::uint32_t node, char* error, std::size_t errorSize)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
    auto* stream = new TStream;
    QString why;
    if (stream->Open(fd, node, why))
        return stream;
    delete stream;
    if (error && errorSize > 0) {
        const QByteArray bytes = why.toUtf8();
        const std::size_t length = std::min<std::size_t>(std::size_t(bytes.size()), errorSize - 1);
        std::memcpy(error, bytes.constData(), length);
        error[length] = '\0';
    }
    return nullptr;
}
