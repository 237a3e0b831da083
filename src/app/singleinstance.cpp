#include "singleinstance.h"

#include "version.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTextStream>

namespace {

constexpr int kForwardTimeoutMs = 5000;
const QString kInterface = QStringLiteral("org.freedesktop.Application");

} // namespace

// Named after the application id, as the desktop entry and the launcher signal are.
const QString SingleInstance::serviceName = QStringLiteral(PIKORA_APP_ID);
const QString SingleInstance::objectPath = u'/' + QStringLiteral(PIKORA_APP_ID).replace(u'.', u'/');
const QString SingleInstance::compressAction = QStringLiteral("compress");
const QString SingleInstance::restoreAction = QStringLiteral("restore");

SingleInstance::SingleInstance(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
}

SingleInstance::~SingleInstance()
{
    if (m_role == Role::primary) {
        m_bus.unregisterObject(objectPath);
        m_bus.unregisterService(serviceName);
    }
}

SingleInstance::Role SingleInstance::claim()
{
    if (m_claimed)
        return m_role;
    m_claimed = true;
    if (!m_bus.isConnected() || !m_bus.interface())
        return m_role = Role::alone;
    // The object is in place before the name is owned, so a caller that sees the name finds it.
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return m_role = Role::alone;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return m_role = Role::primary;
    m_bus.unregisterObject(objectPath);
    // A bus that refuses to answer is no reason to refuse to run.
    return m_role = reply.isValid() ? Role::secondary : Role::alone;
}

bool SingleInstance::forward(const LaunchRequest &request, const QVariantMap &platformData)
{
    const auto call = [this](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(serviceName, objectPath, kInterface, method);
        message.setArguments(arguments);
        const QDBusMessage reply = m_bus.call(message, QDBus::BlockWithGui, kForwardTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        QTextStream(stderr) << "pikora: " << reply.errorMessage() << Qt::endl;
        return false;
    };
    // Messages from one connection arrive in order: the direction is shown before the import.
    bool handedOver = true;
    if (request.direction) {
        const QString action = *request.direction == ConversionMode::jpegToJXL ? compressAction : restoreAction;
        handedOver = call(QStringLiteral("ActivateAction"),
                          {action, QVariant::fromValue(QVariantList()), platformData});
    }
    if (handedOver && !request.files.isEmpty())
        handedOver = call(QStringLiteral("Open"), {request.uris(), platformData});
    if (handedOver && request.isEmpty())
        handedOver = call(QStringLiteral("Activate"), {platformData});
    return handedOver;
}

void SingleInstance::deliver(const LaunchRequest &request, const QVariantMap &platformData)
{
    m_pending.append(Pending{request, platformData});
    flush();
}

void SingleInstance::setReceiver(QObject *context, Receiver receiver)
{
    m_context = context;
    m_receiver = std::move(receiver);
    flush();
}

void SingleInstance::flush()
{
    while (m_context && m_receiver && !m_pending.isEmpty()) {
        const Pending next = m_pending.takeFirst();
        m_receiver(next.request, next.platformData);
    }
}

QVariantMap SingleInstance::currentPlatformData()
{
    QVariantMap data;
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty())
        data.insert(QStringLiteral("activation-token"), QString::fromUtf8(token));
    const QByteArray startup = qgetenv("DESKTOP_STARTUP_ID");
    if (!startup.isEmpty())
        data.insert(QStringLiteral("desktop-startup-id"), QString::fromUtf8(startup));
    return data;
}

void SingleInstance::Activate(const QVariantMap &platform_data)
{
    deliver(LaunchRequest{}, platform_data);
}

void SingleInstance::Open(const QStringList &uris, const QVariantMap &platform_data)
{
    deliver(LaunchRequest::fromUris(uris), platform_data);
}

void SingleInstance::ActivateAction(const QString &action_name, const QVariantList &parameter,
                                    const QVariantMap &platform_data)
{
    Q_UNUSED(parameter)
    LaunchRequest request;
    if (action_name == compressAction)
        request.direction = ConversionMode::jpegToJXL;
    else if (action_name == restoreAction)
        request.direction = ConversionMode::jxlToJPEG;
    deliver(request, platform_data);
}
