#pragma once

#include <QImage>
#include <cstdint>

// libpipewire and the libraries it maps cost memory from the moment they are
// loaded, and only recordings on Wayland sessions need them, so the program
// never links them: they sit in the plugin vorantu-pipewire beside the
// program, loaded when the first such recording starts. This is the
// plugin's whole surface.
class TPipeWireStream
{
public:
    enum class TState
    {
        // Connected to the node; no frame has arrived yet.
        Waiting,
        // At least one frame has arrived.
        Streaming,
        // The stream is over for good (the node went, the server went, or the
        // connection failed); Error() says why.
        Ended,
    };

    virtual ~TPipeWireStream() = default;

    // Thread-safe: the stream's own thread fills the frames.
    virtual TState State() const = 0;
    // Why the stream ended; empty while it runs.
    virtual QString Error() const = 0;
    // The newest frame (Format_RGB32, opaque) and a count that grows with
    // every new frame; a null image and 0 before the first. The picture is
    // shared, never written again by the stream, so holding it is safe.
    virtual QImage Latest(std::uint64_t* serial = nullptr) const = 0;
};

extern "C" {
// Connects to the PipeWire remote behind `fd` (a descriptor the caller keeps
// and closes; the plugin works on a duplicate) and consumes the video node
// `node` in shared-memory buffers. Null with the reason in `error` (up to
// `errorSize` bytes, terminated) when the connection cannot even start.
using TOpenPipeWireStream = TPipeWireStream* (*)(int fd, std::uint32_t node, char* error,
                                                 std::size_t errorSize);
TPipeWireStream* VorantuOpenPipeWireStream(int fd, std::uint32_t node, char* error,
                                           std::size_t errorSize);
}
