#include "filedigest.h"

#include "fileidentity.h"
#include "platform/extendedattributes.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>

#ifdef PIKORA_HAVE_OPENSSL
#include <openssl/crypto.h>
#include <openssl/evp.h>
#endif

namespace FileDigest {

namespace {

#ifdef PIKORA_HAVE_OPENSSL
// OpenSSL's set-up (reading its configuration) allocates state for the thread that runs it, freed
// when that thread ends; a pool thread may still be ending as the process exits, and the state is
// then lost. Set up while the process starts, on its main thread, whose state OpenSSL frees at exit.
[[maybe_unused]] const bool kOpenSslReady = OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, nullptr) == 1;
#endif

// OpenSSL uses the CPU's SHA instructions, several times faster than Qt's portable code; the
// source of every compression is hashed, so it counts in a batch's CPU time.
class Sha256
{
public:
#ifdef PIKORA_HAVE_OPENSSL
    Sha256()
        : m_context(EVP_MD_CTX_new())
    {
        if (m_context && EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr) != 1) {
            EVP_MD_CTX_free(m_context);
            m_context = nullptr;
        }
    }
    ~Sha256()
    {
        if (m_context)
            EVP_MD_CTX_free(m_context);
    }
    void add(const char *data, qint64 size)
    {
        if (m_context)
            EVP_DigestUpdate(m_context, data, size_t(size));
        else
            m_fallback.addData(QByteArrayView(data, size));
    }
    QByteArray result()
    {
        if (!m_context)
            return m_fallback.result();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(m_context, digest, &length);
        return QByteArray(reinterpret_cast<const char *>(digest), qsizetype(length));
    }
#else
    void add(const char *data, qint64 size) { m_fallback.addData(QByteArrayView(data, size)); }
    QByteArray result() { return m_fallback.result(); }
#endif
    Q_DISABLE_COPY_MOVE(Sha256)

private:
#ifdef PIKORA_HAVE_OPENSSL
    EVP_MD_CTX *m_context = nullptr;
#endif
    QCryptographicHash m_fallback{QCryptographicHash::Sha256};
};

bool isDigestText(const QByteArray &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{64}$"));
    return pattern.match(QString::fromLatin1(text)).hasMatch();
}

} // namespace

std::optional<QString> sha256(const QString &path, QString *errorText, const std::atomic_bool *stop,
                              FileIdentity *identity)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = file.errorString() + QStringLiteral(": ") + path;
        return std::nullopt;
    }
    if (identity) {
        const std::optional<FileIdentity> taken = FileIdentity::of(file.handle());
        if (!taken) {
            if (errorText)
                *errorText = qt_error_string(errno) + QStringLiteral(": ") + path;
            return std::nullopt;
        }
        *identity = *taken;
    }
    constexpr qint64 kChunk = 1024 * 1024;
    Sha256 hash;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        if (stop && stop->load())
            return std::nullopt;
        const qint64 read = file.read(buffer.data(), kChunk);
        if (read < 0) {
            if (errorText)
                *errorText = file.errorString() + QStringLiteral(": ") + path;
            return std::nullopt;
        }
        if (read == 0)
            break;
        hash.add(buffer.constData(), read);
    }
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<QString> stored(const QString &jxlPath)
{
    const std::optional<QByteArray> value = ExtendedAttributes::read(jxlPath, kAttribute);
    if (!value || !isDigestText(*value))
        return std::nullopt;
    return QString::fromLatin1(*value);
}

} // namespace FileDigest
