#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <stdexcept>

// A form body that cannot be read: no boundary, a cut-off body, no file.
class EMultipartError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct TFormFile
{
    QByteArray FileName;    // as the client sent it; never used as a path
    QByteArray ContentType; // of the part, empty when the part has none
    QByteArrayView Data;    // points into the body given to ReadFormFile
};

// The boundary of a "multipart/form-data; boundary=..." content type.
// Throws EMultipartError for another type or a missing or overlong boundary.
QByteArray FormBoundary(QByteArrayView contentType);

// The one part named `fieldName` of a multipart/form-data body. The body must
// end with the closing delimiter, so a body cut off in transit is refused
// rather than stored short. Throws EMultipartError.
TFormFile ReadFormFile(QByteArrayView body, QByteArrayView boundary, QByteArrayView fieldName);
