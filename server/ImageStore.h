#pragma once

#include <QByteArrayView>
#include <QString>
#include <stdexcept>

// The storage folder cannot be made or written.
class EStorageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The uploaded pictures: one file per picture, named by 128 random bits
// from the system's cryptographic generator, so a picture's address cannot
// be guessed from another's. Safe on any thread.
class TImageStore
{
public:
    // Creates the folder when missing. Throws EStorageError.
    explicit TImageStore(const QString& dir);

    const QString& Dir() const { return FDir; }

    // Writes `png` under a new name ("<32 hex digits>.png") and returns the
    // name. The file appears whole or not at all. Throws EStorageError.
    QString Save(QByteArrayView png) const;

    // A read-only descriptor of the picture `name`, or -1 when the name is
    // not one Save makes, or no such regular file exists. The caller closes
    // it. Symbolic links are not followed out of the folder.
    int Open(const QString& name) const;

    // True for exactly the names Save makes.
    static bool IsImageName(QStringView name);

private:
    QString FDir;
};
