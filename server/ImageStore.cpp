#include "ImageStore.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSaveFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype NameHexDigits = 32; // 128 bits

QString NewName()
{
    quint32 words[NameHexDigits / 8];
    QRandomGenerator::system()->fillRange(words);
    QString name;
    for (quint32 word : words)
        name += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    return name + QStringLiteral(".png");
}

} // namespace

TImageStore::TImageStore(const QString& dir) : FDir(QDir(dir).absolutePath())
{
    if (!QDir().mkpath(FDir))
        throw EStorageError(
            QStringLiteral("cannot create the storage folder \"%1\"").arg(FDir).toStdString());
}

bool TImageStore::IsImageName(QStringView name)
{
    if (name.size() != NameHexDigits + 4 || !name.endsWith(QLatin1String(".png")))
        return false;
    for (QChar c : name.first(NameHexDigits)) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f')))
            return false;
    }
    return true;
}

QString TImageStore::Save(QByteArrayView png) const
{
    // A clash of 128 random bits does not happen; the loop only guards
    // against a broken generator overwriting someone else's picture.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString name = NewName();
        const QString path = FDir + QLatin1Char('/') + name;
        if (QFile::exists(path))
            continue;
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(png.data(), png.size()) != png.size() ||
            !file.commit())
            throw EStorageError(QStringLiteral("cannot write \"%1\": %2")
                                    .arg(path, file.errorString())
                                    .toStdString());
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
        return name;
    }
    throw EStorageError("the random name generator repeats itself");
}

int TImageStore::Open(const QString& name) const
{
    if (!IsImageName(name))
        return -1;
    const QByteArray path = QFile::encodeName(FDir + QLatin1Char('/') + name);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat info
    {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
