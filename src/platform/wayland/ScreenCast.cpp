#include "platform/wayland/ScreenCast.h"

#include "platform/wayland/Portal.h"
#include "platform/wayland/pipewire/Stream.h"
#include "services/Config.h"
#include "services/Plugin.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QRandomGenerator>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString SessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// Source type and cursor modes of the interface.
constexpr uint SourceMonitor = 1;
constexpr uint CursorHidden = 1;
constexpr uint CursorEmbedded = 2;
// Persist until the user revokes it: the next recording asks nobody.
constexpr uint PersistUntilRevoked = 2;

// How long each step may take. Starting may show the desktop's own dialog,
// which waits for the user.
constexpr int StepTimeoutMs = 15000;
constexpr int StartTimeoutMs = 120000;
constexpr int PropertyTimeoutMs = 5000;

QString Fmt(const QDBusMessage& error)
{
    return error.errorMessage().isEmpty() ? error.errorName() : error.errorMessage();
}

// The plugin, loaded once for the rest of the run; null with the reasons in
// `error` when no candidate loads.
TOpenPipeWireStream PluginEntry(QString& error)
{
    return reinterpret_cast<TOpenPipeWireStream>(
        ResolvePluginEntry(TPortalScreenCast::PluginCandidates(), "VorantuOpenPipeWireStream",
                           QStringLiteral(VORANTU_PIPEWIRE_FILE_NAME), error));
}

// Streams of Start's results: (node, properties) pairs.
struct TCastStream
{
    uint Node = 0;
    QRect Bounds;
};

QList<TCastStream> StreamsOf(const QVariantMap& results)
{
    QList<TCastStream> streams;
    const QVariant value = results.value(QStringLiteral("streams"));
    if (!value.canConvert<QDBusArgument>())
        return streams;
    const auto argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        TCastStream stream;
        QVariantMap properties;
        argument.beginStructure();
        argument >> stream.Node >> properties;
        argument.endStructure();
        const auto pair = [&properties](const char* name) -> std::optional<QPoint> {
            const QVariant item = properties.value(QLatin1String(name));
            if (!item.canConvert<QDBusArgument>())
                return std::nullopt;
            const auto inner = item.value<QDBusArgument>();
            int a = 0;
            int b = 0;
            inner.beginStructure();
            inner >> a >> b;
            inner.endStructure();
            return QPoint(a, b);
        };
        // The portal's coordinates are the compositor's logical ones, which
        // the X11 root of XWayland shares. A monitor without a position is
        // taken to start at the origin.
        const QPoint position = pair("position").value_or(QPoint(0, 0));
        if (const auto size = pair("size"))
            stream.Bounds = QRect(position, QSize(size->x(), size->y()));
        streams.append(stream);
    }
    argument.endArray();
    return streams;
}

} // namespace

TPortalScreenCast::TPortalScreenCast(QString restoreToken, QObject* parent)
    : TScreenStream(parent), FRestoreToken(std::move(restoreToken))
{
    // The stream's thread has no way into the event loop: its state is
    // looked at a few times a second.
    FPoll.setInterval(100);
    connect(&FPoll, &QTimer::timeout, this, &TPortalScreenCast::Poll);
}

TPortalScreenCast::~TPortalScreenCast()
{
    FPoll.stop();
    // The consumer goes before the session it reads from.
    FStream.reset();
    if (FRemote >= 0)
        close(FRemote);
    // A request still waiting is abandoned with its object; the session's
    // close ends whatever it was asking for.
    delete FRequest;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!FSession.isEmpty()) {
        bus.disconnect(PortalService, FSession, SessionInterface, QStringLiteral("Closed"), this,
                       SLOT(OnSessionClosed()));
        bus.call(QDBusMessage::createMethodCall(PortalService, FSession, SessionInterface,
                                                QStringLiteral("Close")),
                 QDBus::NoBlock);
    }
}

QStringList TPortalScreenCast::PluginCandidates()
{
    return ::PluginCandidates(
        QStringLiteral(VORANTU_PIPEWIRE_FILE_NAME), QStringLiteral(VORANTU_PIPEWIRE_INSTALL_DIR),
        QStringLiteral(VORANTU_BUILD_DIR), QStringLiteral(VORANTU_PIPEWIRE_BUILD_PATH));
}

QImage TPortalScreenCast::Latest(quint64* serial) const
{
    if (!FStream) {
        if (serial)
            *serial = 0;
        return {};
    }
    std::uint64_t count = 0;
    QImage frame = FStream->Latest(&count);
    if (serial)
        *serial = count;
    return frame;
}

void TPortalScreenCast::Open(bool cursor)
{
    if (FStep != TStep::Idle)
        return;
    FCursor = cursor;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        Fail(QStringLiteral("There is no session bus, so the screen cast portal cannot be asked"));
        return;
    }
    // What this portal offers decides the cursor mode and whether the
    // choice can be remembered.
    const auto property = [](const QString& name, QDBusMessage& reply) {
        reply = TPortalRequest::Property(ScreenCastInterface, name, PropertyTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return 0u;
        return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
    };
    QDBusMessage reply;
    FVersion = property(QStringLiteral("version"), reply);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        Fail(QStringLiteral("The desktop offers no screen cast portal (%1)").arg(Fmt(reply)));
        return;
    }
    const uint modes = property(QStringLiteral("AvailableCursorModes"), reply);
    FCursorMode = cursor && (modes & CursorEmbedded) ? CursorEmbedded : CursorHidden;

    Ask(TStep::CreateSession, QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"),
          QStringLiteral("vorantu%1").arg(QRandomGenerator::global()->generate())}},
        StepTimeoutMs);
}

void TPortalScreenCast::Ask(TStep step, const QString& method, const QVariantList& arguments,
                            const QVariantMap& options, int timeoutMs)
{
    FStep = step;
    FRequest = new TPortalRequest(this);
    connect(FRequest, &TPortalRequest::Finished, this, &TPortalScreenCast::Answered);
    FRequest->Start(ScreenCastInterface, method, arguments, options, timeoutMs);
}

void TPortalScreenCast::Answered(const TPortalResult& result)
{
    if (FRequest) {
        FRequest->deleteLater();
        FRequest = nullptr;
    }
    if (FStep == TStep::Over)
        return;
    switch (result.Outcome) {
    case TPortalOutcome::Success:
        break;
    case TPortalOutcome::Cancelled:
        Fail(QStringLiteral("The screen recording was cancelled"));
        return;
    case TPortalOutcome::Failed:
        Fail(QStringLiteral("The desktop refused to share the screen (%1)").arg(result.Error));
        return;
    default:
        Fail(QStringLiteral("The screen cannot be recorded: %1").arg(result.Error));
        return;
    }
    const QVariantMap& results = result.Results;
    switch (FStep) {
    case TStep::CreateSession:
        FSession = results.value(QStringLiteral("session_handle")).toString();
        if (FSession.isEmpty()) {
            Fail(QStringLiteral("The screen cast portal gave no session"));
            return;
        }
        QDBusConnection::sessionBus().connect(PortalService, FSession, SessionInterface,
                                              QStringLiteral("Closed"), this,
                                              SLOT(OnSessionClosed()));
        SelectSources();
        break;
    case TStep::SelectSources:
        StartCast();
        break;
    case TStep::Start:
        Connect(results);
        break;
    default:
        break;
    }
}

void TPortalScreenCast::SelectSources()
{
    QVariantMap options{{QStringLiteral("types"), SourceMonitor},
                        {QStringLiteral("multiple"), false}};
    // Cursor modes came with version 2 of the interface, remembered choices
    // with version 4; older portals reject options they do not know.
    if (FVersion >= 2)
        options.insert(QStringLiteral("cursor_mode"), FCursorMode);
    if (FVersion >= 4) {
        options.insert(QStringLiteral("persist_mode"), PersistUntilRevoked);
        if (!FRestoreToken.isEmpty())
            options.insert(QStringLiteral("restore_token"), FRestoreToken);
    }
    Ask(TStep::SelectSources, QStringLiteral("SelectSources"),
        {QVariant::fromValue(QDBusObjectPath(FSession))}, options, StepTimeoutMs);
}

void TPortalScreenCast::StartCast()
{
    // No parent window: the program's windows are X11 ones the desktop's
    // dialog could not be placed over anyway.
    Ask(TStep::Start, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(FSession)), QString()}, {}, StartTimeoutMs);
}

void TPortalScreenCast::Connect(const QVariantMap& results)
{
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty() && token != FRestoreToken) {
        FRestoreToken = token;
        if (OnRestoreToken)
            OnRestoreToken(token);
    }
    const QList<TCastStream> streams = StreamsOf(results);
    if (streams.isEmpty() || streams.first().Bounds.isEmpty()) {
        Fail(QStringLiteral("The screen cast portal gave no monitor to record"));
        return;
    }
    FBounds = streams.first().Bounds;

    QDBusMessage open = QDBusMessage::createMethodCall(
        PortalService, PortalPath, ScreenCastInterface, QStringLiteral("OpenPipeWireRemote"));
    open.setArguments({QVariant::fromValue(QDBusObjectPath(FSession)), QVariantMap()});
    const QDBusMessage reply =
        QDBusConnection::sessionBus().call(open, QDBus::Block, PropertyTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        Fail(QStringLiteral("The screen cast portal gave no PipeWire connection: %1")
                 .arg(Fmt(reply)));
        return;
    }
    const auto remote = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    if (remote.isValid())
        FRemote = fcntl(remote.fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (FRemote < 0) {
        Fail(QStringLiteral("The screen cast portal gave no PipeWire connection"));
        return;
    }

    QString why;
    const TOpenPipeWireStream openStream = PluginEntry(why);
    if (!openStream) {
        Fail(QStringLiteral("PipeWire support could not be loaded: %1").arg(why));
        return;
    }
    char error[512] = {};
    FStream.reset(openStream(FRemote, streams.first().Node, error, sizeof(error)));
    if (!FStream) {
        Fail(QString::fromUtf8(error));
        return;
    }
    FStep = TStep::Streaming;
    FPoll.start();
    emit Ready();
}

void TPortalScreenCast::Poll()
{
    if (FStream && FStream->State() == TPipeWireStream::TState::Ended)
        Fail(FStream->Error());
}

void TPortalScreenCast::OnSessionClosed()
{
    Fail(QStringLiteral("The screen cast was ended by the desktop"));
}

void TPortalScreenCast::Fail(const QString& message)
{
    if (FStep == TStep::Over)
        return;
    FStep = TStep::Over;
    FPoll.stop();
    // Never from inside Open or a caller's call: the receiver may destroy
    // this object when told.
    QMetaObject::invokeMethod(
        this, [this, message] { emit Failed(message); }, Qt::QueuedConnection);
}

std::unique_ptr<TScreenStream> CreatePortalScreenCast()
{
    const TConfig config(ProgramConfigPath);
    auto cast = std::make_unique<TPortalScreenCast>(ReadSetting(config, Setting::ScreenCastToken));
    cast->OnRestoreToken = [](const QString& token) {
        TConfig store(ProgramConfigPath);
        WriteSetting(store, Setting::ScreenCastToken, token);
    };
    return cast;
}
