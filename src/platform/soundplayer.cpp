#include "soundplayer.h"

#include "version.h"

#include <QDir>
#include <QFileInfo>

#include <memory>

#ifdef PIKORA_HAVE_CANBERRA
#include <canberra.h>
#endif

namespace {

class CanberraSoundPlayer final : public SoundPlayer
{
public:
    void playSuccess() override;

private:
#ifdef PIKORA_HAVE_CANBERRA
    struct ContextDeleter
    {
        void operator()(ca_context *context) const { ca_context_destroy(context); }
    };
    std::unique_ptr<ca_context, ContextDeleter> m_context;
    bool m_unavailable = false;
#endif
};

void CanberraSoundPlayer::playSuccess()
{
#ifdef PIKORA_HAVE_CANBERRA
    if (m_unavailable)
        return;
    if (!m_context) {
        // Made on first use: most runs finish no batch and never need the sound system.
        ca_context *context = nullptr;
        const QByteArray runtimeDir = qgetenv("XDG_RUNTIME_DIR");
        if (!qEnvironmentVariableIsSet("PULSE_SERVER")
            && !hasSoundOutput(QFile::decodeName(runtimeDir), QStringLiteral("/dev/snd"))) {
            m_unavailable = true;
            return;
        }
        if (ca_context_create(&context) != CA_SUCCESS) {
            m_unavailable = true;
            return;
        }
        m_context.reset(context);
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, "Pikora", CA_PROP_APPLICATION_ID, PIKORA_APP_ID,
                                nullptr);
    }
    // Returns at once; the sound plays on libcanberra's own thread. Failures are not reported.
    ca_context_play(m_context.get(), 0, CA_PROP_EVENT_ID, "complete", CA_PROP_EVENT_DESCRIPTION, "Batch finished",
                    nullptr);
#endif
}

SoundPlayer *installedPlayer = nullptr;

} // namespace

SoundPlayer::~SoundPlayer() = default;

SoundPlayer &SoundPlayer::defaultPlayer()
{
    static CanberraSoundPlayer canberraPlayer;
    return installedPlayer ? *installedPlayer : canberraPlayer;
}

void SoundPlayer::setDefaultPlayer(SoundPlayer *player)
{
    installedPlayer = player;
}

bool hasSoundOutput(const QString &runtimeDir, const QString &deviceDir)
{
    if (!runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/pulse/native")))
        return true;
    return !QDir(deviceDir).entryList({QStringLiteral("pcmC*D*p")}, QDir::System | QDir::Files).isEmpty();
}
