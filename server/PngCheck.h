#pragma once

#include <QByteArrayView>
#include <stdexcept>

// Bytes that are not a complete, decodable PNG picture.
class EPngError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Largest picture accepted, in bytes once decoded (pixels times bytes per
// pixel): a tall page capture fits, a picture whose few compressed bytes
// would inflate to gigabytes does not, and it is refused from its header
// before anything is inflated.
inline constexpr quint64 MaxPngDecodedBytes = quint64(1) << 28;

// Decodes every row of `data` (keeping one row in memory at a time) and
// throws EPngError with a reason when the signature is wrong, a chunk or the
// compressed stream is damaged or cut off, or the picture is too large.
// Returns the length of the picture up to and including its IEND chunk.
// Safe on any thread.
size_t CheckPng(QByteArrayView data);
