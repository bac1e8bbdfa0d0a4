#include "Multipart.h"

#include <QList>

namespace {

// Part headers beyond this are not a form any client of ours sends.
constexpr qsizetype MaxPartHeaderBytes = 16 * 1024;

[[noreturn]] void Fail(const char* text)
{
    throw EMultipartError(text);
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView Trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && IsSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && IsSpace(text.back()))
        text.chop(1);
    return text;
}

struct TParameter
{
    QByteArray Name; // lower case
    QByteArray Value;
};

// Splits `type; a=b; c="d;e"` into the type and its parameters; a quoted
// value may hold semicolons and backslash-escaped characters.
QList<TParameter> Parameters(QByteArrayView header, QByteArray* type)
{
    QList<TParameter> result;
    qsizetype i = header.indexOf(';');
    *type = Trimmed(i < 0 ? header : header.first(i)).toByteArray().toLower();
    while (i >= 0 && i < header.size()) {
        ++i; // past ';'
        while (i < header.size() && IsSpace(header[i]))
            ++i;
        const qsizetype nameStart = i;
        while (i < header.size() && header[i] != '=' && header[i] != ';')
            ++i;
        TParameter parameter;
        parameter.Name = Trimmed(header.sliced(nameStart, i - nameStart)).toByteArray().toLower();
        if (i < header.size() && header[i] == '=') {
            ++i;
            while (i < header.size() && IsSpace(header[i]))
                ++i;
            if (i < header.size() && header[i] == '"') {
                ++i;
                bool closed = false;
                while (i < header.size()) {
                    const char c = header[i++];
                    if (c == '\\' && i < header.size()) {
                        parameter.Value += header[i++];
                    } else if (c == '"') {
                        closed = true;
                        break;
                    } else {
                        parameter.Value += c;
                    }
                }
                if (!closed)
                    Fail("unterminated quoted parameter");
                while (i < header.size() && header[i] != ';')
                    ++i;
            } else {
                const qsizetype valueStart = i;
                while (i < header.size() && header[i] != ';')
                    ++i;
                parameter.Value = Trimmed(header.sliced(valueStart, i - valueStart)).toByteArray();
            }
        }
        if (!parameter.Name.isEmpty())
            result.append(parameter);
        if (i >= header.size())
            break;
    }
    return result;
}

QByteArray Parameter(const QList<TParameter>& parameters, QByteArrayView name, bool* found)
{
    for (const TParameter& p : parameters) {
        if (p.Name == name) {
            *found = true;
            return p.Value;
        }
    }
    *found = false;
    return {};
}

} // namespace

QByteArray FormBoundary(QByteArrayView contentType)
{
    QByteArray type;
    const QList<TParameter> parameters = Parameters(contentType, &type);
    if (type != "multipart/form-data")
        Fail("the request is not a multipart/form-data form");
    bool found = false;
    const QByteArray boundary = Parameter(parameters, "boundary", &found);
    // 70 characters is the standard's limit; a little slack for odd clients.
    if (!found || boundary.isEmpty() || boundary.size() > 200)
        Fail("the form has no usable boundary");
    for (char c : boundary) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            Fail("the form has no usable boundary");
    }
    return boundary;
}

namespace {

// A "--boundary" line counts only when the boundary is followed by "--" (the
// closing line) or by blanks and CR LF; "--boundaryX" is ordinary data.
bool IsDelimiterEnd(QByteArrayView body, qsizetype after)
{
    if (body.sliced(after).startsWith("--"))
        return true;
    while (after < body.size() && IsSpace(body[after]))
        ++after;
    return body.sliced(after).startsWith("\r\n");
}

// The position of the CR LF that opens the next delimiter at or after
// `from`, or -1.
qsizetype FindDelimiter(QByteArrayView body, QByteArrayView delimiter, qsizetype from)
{
    for (qsizetype at = body.indexOf(delimiter, from); at >= 0;
         at = body.indexOf(delimiter, at + 1)) {
        if (IsDelimiterEnd(body, at + delimiter.size()))
            return at;
    }
    return -1;
}

} // namespace

TFormFile ReadFormFile(QByteArrayView body, QByteArrayView boundary, QByteArrayView fieldName)
{
    const QByteArray dashBoundary = "--" + boundary.toByteArray();
    const QByteArray delimiter = "\r\n" + dashBoundary;

    // The first delimiter opens the body or follows a preamble.
    qsizetype pos = 0;
    if (!body.startsWith(dashBoundary) || !IsDelimiterEnd(body, dashBoundary.size())) {
        const qsizetype at = FindDelimiter(body, delimiter, 0);
        if (at < 0)
            Fail("the form body has no boundary line");
        pos = at + 2;
    }

    bool haveFile = false;
    TFormFile file;
    for (;;) {
        // `pos` is at a delimiter that IsDelimiterEnd accepted.
        pos += dashBoundary.size();
        if (body.sliced(pos).startsWith("--"))
            break; // the closing line; what follows is epilogue
        while (IsSpace(body[pos]))
            ++pos;
        pos += 2;

        // Part headers, up to an empty line.
        const qsizetype headersEnd =
            body.sliced(pos).startsWith("\r\n") ? pos : body.indexOf("\r\n\r\n", pos);
        if (headersEnd < 0)
            Fail(body.size() - pos > MaxPartHeaderBytes ? "form part headers are too long"
                                                        : "the form body is cut off");
        if (headersEnd - pos > MaxPartHeaderBytes)
            Fail("form part headers are too long");
        const QByteArrayView headers = body.sliced(pos, headersEnd - pos);
        const qsizetype dataStart = headersEnd + (headersEnd == pos ? 2 : 4);

        const qsizetype dataEnd = FindDelimiter(body, delimiter, dataStart);
        if (dataEnd < 0)
            Fail("the form body is cut off");

        QByteArray name;
        QByteArray fileName;
        QByteArray contentType;
        bool isFormData = false;
        qsizetype lineStart = 0;
        while (lineStart < headers.size()) {
            qsizetype lineEnd = headers.indexOf("\r\n", lineStart);
            if (lineEnd < 0)
                lineEnd = headers.size();
            const QByteArrayView line = headers.sliced(lineStart, lineEnd - lineStart);
            lineStart = lineEnd + 2;
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                Fail("malformed form part header");
            const QByteArrayView headerName = Trimmed(line.first(colon));
            const QByteArrayView value = Trimmed(line.sliced(colon + 1));
            if (headerName.compare("Content-Disposition", Qt::CaseInsensitive) == 0) {
                QByteArray disposition;
                const QList<TParameter> parameters = Parameters(value, &disposition);
                isFormData = disposition == "form-data";
                bool found = false;
                name = Parameter(parameters, "name", &found);
                fileName = Parameter(parameters, "filename", &found);
            } else if (headerName.compare("Content-Type", Qt::CaseInsensitive) == 0) {
                contentType = value.toByteArray();
            }
        }

        if (isFormData && name == fieldName) {
            if (haveFile)
                Fail("the form holds more than one file");
            haveFile = true;
            file.FileName = fileName;
            file.ContentType = contentType;
            file.Data = body.sliced(dataStart, dataEnd - dataStart);
        }
        pos = dataEnd + 2;
    }
    if (!haveFile)
        Fail("the form has no \"file\" field");
    return file;
}
